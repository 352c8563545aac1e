#include "declarations/px/w_px_print.h"

#include <cstdlib>

#include "declarations/px/captions.h"
#include "framework/host/messages.h"

namespace shenbao {
namespace {

// A value as an SQL string literal: its apostrophes doubled, so that it stays one literal.
std::string sql_literal(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

int width_of(const DataStore& store, const std::string& object) {
  return std::atoi(store.describe(object + ".width").c_str());
}

constexpr const char* kPen = R"( visible="1" pen.style="0" pen.width="5" pen.color="33554432"  background.mode="2" background.color="1073741824" ))";

std::string header_line(int x1, int y1, int x2, int y2) {
  return R"( create line(band=header x1=")" + std::to_string(x1) + R"(" y1=")" + std::to_string(y1) + R"(" x2=")" +
         std::to_string(x2) + R"(" y2=")" + std::to_string(y2);
}

std::string header_text(const char* text, const char* name, int x, int y) {
  return std::string(R"( create text(band=header alignment="2" text=")") + text +
         R"(" border="0" color="33554432" x=")" + std::to_string(x) + R"(" y=")" + std::to_string(y) +
         R"(" height="68" width="146" html.valueishtml="0"  name=)" + name +
         R"( visible="1"  font.face="宋体" font.height="-11" font.weight="400"  font.family="0" font.pitch="2" font.charset="134" background.mode="1" background.color="536870912" ))";
}

std::string detail_line(int x, const std::string& name) {
  return R"( create line(band=detail x1=")" + std::to_string(x) + R"(" y1="0" x2=")" + std::to_string(x) +
         R"(" y2="124"  name=)" + name + kPen;
}

}  // namespace

w_px_print::w_px_print(Session& session) : w_rs_sheet(session, "w_px_print") {
  title = "培训情况";
  width = 1000;
  height = 760;
  FormControl& summary = add_form("dw_1", 16, 16, 0, 300);
  summary.constructor = [&summary] { summary.store().modify("datawindow.print.preview=yes"); };
  summary.set_dataobject("d_px_company_print_km");
  add_form("dw_2", 16, 326, 0, 0).set_dataobject("d_px_print_km");
  FormControl& generated = add_form("dw_3", 16, 16, 0, 0);
  generated.visible = false;
  add_control(ControlKind::Button, "pb_3", "打印(&P)", 0, 0, 96, 28).visible = false;
  add_control(ControlKind::Button, "pb_2", "打印预览(&V)", 0, 0, 110, 28);
  add_control(ControlKind::Button, "pb_1", "退出(&C)", 0, 0, 96, 28);
  control("pb_3")->clicked = [this] { pb_3_clicked(); };
  control("pb_2")->clicked = [this] { pb_2_clicked(); };
  control("pb_1")->clicked = [this] { pb_1_clicked(); };
  define_function("uf_print", [this](const std::vector<std::string>&) -> Result<Value> {
    return Value(uf_print(declaration_.worker_code, declaration_.company));
  });
}

void w_px_print::open() {
  w_rs_sheet::open();
  if (const s_com* declaration = parameter<s_com>()) declaration_ = *declaration;
  const std::vector<Value> key{Value(declaration_.worker_code), Value(declaration_.company)};
  dw_1().store().retrieve(key);
  dw_2().store().retrieve(key);
  uf_modify(declaration_.worker_code, declaration_.company);
  resize(width, height);
}

void w_px_print::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  Control& exit = *control("pb_1");
  Control& view = *control("pb_2");
  Control& print = *control("pb_3");
  exit.x = workspace_width() - exit.width - 16;
  exit.y = workspace_height() - exit.height - 20;
  view.x = exit.x - view.width - 20;
  print.x = view.x - print.width - 20;
  view.y = print.y = exit.y;
  const int inner = workspace_width() - 32;
  const int bottom = exit.y - 20;
  dw_1().width = dw_2().width = dw_3().width = inner;
  dw_1().height = std::max(120, (bottom - 16) * 2 / 5);
  dw_2().y = dw_1().y + dw_1().height + 10;
  dw_2().height = std::max(120, bottom - dw_2().y);
  dw_3().height = std::max(120, bottom - dw_3().y);
}

int w_px_print::uf_modify(const std::string& pkid, const std::string& company_num) {
  DataStore lds_kemu;
  lds_kemu.set_dataobject("d_px_kemu_xlist");
  lds_kemu.settransobject(&session().sqlca());
  if (lds_kemu.retrieve({Value(pkid), Value(company_num)}) < 0) return -1;
  std::string s;
  auto hide = [&s](const std::string& z) { s += " " + z + "_t.visible = 0 " + z + ".visible = 0 " + z + "_tick.visible = 0"; };
  if (lds_kemu.rowcount() == 0) {
    for (int i = 6; i <= 10; ++i) hide(i < 10 ? "xf0" + std::to_string(i) : "xf10");
  }
  for (long r = 1; r <= lds_kemu.rowcount(); ++r) {
    const std::string code = lds_kemu.getitemstring(r, "code");
    if (code.size() != 2 || code < "06" || code > "10") continue;  // no column of the list
    const std::string z = "xf" + code;
    const std::string name = lds_kemu.getitemstring(r, "name");
    if (name == "其他") {
      hide(z);
    } else {
      s += " " + z + "_t.visible = 1 " + z + ".visible = 1 " + z + "_tick.visible = 1";
      s += " " + z + "_t.text = " + quoted_caption(name);
    }
  }
  return dw_2().store().modify(s).empty() ? 0 : -1;
}

int w_px_print::uf_print(const std::string& pkid, const std::string& company_num) {
  Transaction& sqlca = session().sqlca();
  DataStore lds_kemu;
  lds_kemu.set_dataobject("d_px_kemu_list");
  lds_kemu.settransobject(&sqlca);
  lds_kemu.retrieve({Value(pkid), Value(company_num)});
  const DataStore& list = dw_2().store();
  int x = 270;
  const int s = 10, h = 700, x0 = 270;
  int w = width_of(list, "worker_name");
  std::string t =
      "datawindow.grid.columnmove = 'no' datawindow.Print.Preview = 'Yes' datawindow.selected.mouse = 'no' "
      "datawindow.header.height='1000' datawindow.detail.height='124'";
  t += header_line(x, h, x, h + 300) + R"(" name=l_1)" + kPen;
  t += detail_line(x, "l_2");
  t += header_text("姓名", "t_2", x + s, h + 188);
  t += header_line(x, h, x + w + s, h + 300) + R"(" name=l_3)" + kPen;
  t += " worker_name_t.x = 1 worker_name_t.visible = 0 worker_name.x = " + std::to_string(x + s) +
       " worker_name.width = " + std::to_string(w) + " worker_name.y = 28 worker_name.alignment='2'";
  x += w;
  t += header_text("课目", "t_1", x - 146, h + 60);
  x += s;
  t += header_line(x, h, x, h + 300) + R"(" name=l_4)" + kPen;
  t += detail_line(x, "l_5");
  std::string select = "select worker_name";
  for (long i = 1; i <= lds_kemu.rowcount(); ++i) {
    const std::string z = "xf" + lds_kemu.getitemstring(i, "code");
    const std::string n = lds_kemu.getitemstring(i, "name");
    select += "," + z;
    t += " ";
    w = width_of(list, z);
    t += " " + z + "_t.x = " + std::to_string(x + s);
    t += " " + z + "_t.text = " + quoted_caption(n);
    t += " " + z + "_t.width = " + std::to_string(w);
    // The caption fills its cell between the header rules, centred, so that a long subject
    // name wraps onto as many lines as it needs.
    t += " " + z + "_t.y = " + std::to_string(h + 8) + " " + z + "_t.height = 280 " + z + "_t.alignment = '2'";
    t += " " + z + ".width = 1 " + z + ".visible = 0";
    const std::string e = "if(isnull(" + z + ") or " + z + " = 0,'√','')";
    t += R"( create compute(band=detail alignment="2" expression=")" + e + R"(" border="0" color="33554432" x=")" +
         std::to_string(x + s) + R"(" y="28" height="68" width=")" + std::to_string(w) +
         R"(" format="[GENERAL]" html.valueishtml="0"  name=compute_)" + std::to_string(i) +
         R"( visible="1"  font.face="宋体" font.height="-11" font.weight="400"  font.family="0" font.pitch="2" font.charset="134" background.mode="2" background.color="16777215" ))";
    x += w + s;
    t += header_line(x, h, x, h + 300) + R"("  name=l_)" + std::to_string(2 * i + 8) + kPen;
    t += R"( create line(band=detail x1=")" + std::to_string(x) + R"(" y1="0" x2=")" + std::to_string(x) +
         R"(" y2="124"  name=l_)" + std::to_string(2 * i + 9) + kPen;
  }
  t += header_line(x0, h, x, h) + R"("  name=l_6)" + kPen;
  t += header_line(x0, h + 296, x, h + 296) + R"("  name=l_7)" + kPen;
  t += R"( create text(band=header alignment="2" text="应培未培公务员名单" border="0" color="33554432" x=")" +
       std::to_string(x0) + R"(" y=")" + std::to_string(h - 300) + R"(" height="124" width=")" +
       std::to_string(x - x0) +
       R"(" html.valueishtml="0"  name=t_22 visible="1"  font.face="宋体" font.height="-20" font.weight="700"  font.family="0" font.pitch="2" font.charset="134" background.mode="1" background.color="536870912" ))";
  t += R"( create line(band=detail x1=")" + std::to_string(x0) + R"(" y1="120" x2=")" + std::to_string(x) +
       R"(" y2="120"  name=l_8)" + kPen;
  // The key values go into the statement as literals with their apostrophes doubled.
  select += " from rs_w00028 where pkid = " + sql_literal(pkid) + " and company_num = " + sql_literal(company_num);

  std::string error;
  const std::string syntax = syntax_from_sql(sqlca, select, "style(type=tabular units=fine)", error);
  if (!error.empty() || syntax.empty()) {
    session().message_box("提示", "您配置的条件无效！" + error, Icon::StopSign);
    return -1;
  }
  DataStore& report = dw_3().store();
  setredraw(false);
  if (std::string why = report.create(syntax); !why.empty()) {
    session().message_box("提示", "您配置的条件无效！" + why, Icon::StopSign);
    setredraw(true);
    return -1;
  }
  report.settransobject(&sqlca);
  if (std::string why = report.modify(t); !why.empty()) {
    session().message_box("提示", why, Icon::StopSign);
    setredraw(true);
    return -1;
  }
  setredraw(true);
  report.retrieve();
  return 0;
}

void w_px_print::pb_2_clicked() {
  if (!dw_3().visible) {
    if (uf_print(declaration_.worker_code, declaration_.company) < 0) return;
    dw_3().visible = true;
    control("pb_3")->visible = true;
    dw_1().visible = false;
    dw_2().visible = false;
  } else {
    dw_3().visible = false;
    control("pb_3")->visible = false;
    dw_1().visible = true;
    dw_2().visible = true;
  }
}

void w_px_print::pb_3_clicked() {
  if (dw_1().store().rowcount() < 1) return;
  PrintJobs& jobs = session().print_jobs();
  const int job = jobs.open("培训情况打印");
  if (job < 0 || jobs.print(job, dw_1().store()) < 0 || jobs.print(job, dw_3().store()) < 0 || jobs.close(job) < 0)
    say(session(), HostMessage::PrintFailed, jobs.last_error());
}

void w_px_print::pb_1_clicked() { close_window(); }

}  // namespace shenbao
