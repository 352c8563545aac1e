#include "framework/host/sb1.h"

#include "framework/host/host_functions.h"

#include <algorithm>

namespace shenbao {
namespace {

constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 28;
constexpr int kGap = 8;
constexpr int kListWidth = 300;

std::string trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace

sb1::sb1(Session& session, DeclarationCategory category)
    : Window(session, category.class_name), is_index(category.index), category_(std::move(category)) {
  title = category_.title;
  width = 1280;
  height = 760;
  build_controls();
}

void sb1::build_controls() {
  add_control(ControlKind::Selector, "uo_1", "", kGap, kGap, 200, 24);
  add_control(ControlKind::StaticText, "st_1", "申报时间从：", 216, kGap + 4, 90, 20);
  add_control(ControlKind::EditMask, "em_1", "", 306, kGap, 100, 24).mask = "yyyy-mm-dd";
  add_control(ControlKind::StaticText, "st_2", "到", 410, kGap + 4, 20, 20);
  add_control(ControlKind::EditMask, "em_2", "", 432, kGap, 100, 24).mask = "yyyy-mm-dd";
  add_control(ControlKind::Button, "pb_3", "查询(&F)", 540, kGap - 2, 80, kButtonHeight);

  FormControl& list = add_form("dw_1", kGap, 44, kListWidth, 250);
  FormControl& workers = add_form("dw_2", kGap, 302, kListWidth, 0);
  FormControl& unit = add_form("dw_3", kListWidth + 2 * kGap, 44, 0, 400);
  FormControl& worker = add_form("dw_4", kListWidth + 2 * kGap, 452, 0, 0);

  static const struct {
    const char* name;
    const char* caption;
  } kButtons[] = {
      {"pb_16", "新增申报(&N)"}, {"pb_5", "保存申报(&D)"}, {"pb_d", "删除申报(&D)"},
      {"pb_2", "保存人员(&S)"},   {"pb_del", "删除人员(&D)"}, {"pb_1", "下一步(&C)"},
      {"pb_4", "申报函件(&R)"},   {"pb_approve", "数据入库(&E)"},
  };
  for (const auto& b : kButtons) add_control(ControlKind::Button, b.name, b.caption, 0, 0, kButtonWidth, kButtonHeight);

  control("pb_3")->clicked = [this] { pb_3_clicked(); };
  control("pb_16")->clicked = [this] { pb_16_clicked(); };
  control("pb_5")->clicked = [this] { pb_5_clicked(); };
  control("pb_d")->clicked = [this] { pb_d_clicked(); };
  control("pb_2")->clicked = [this] { pb_2_clicked(); };
  control("pb_del")->clicked = [this] { pb_del_clicked(); };
  control("pb_1")->clicked = [this] { pb_1_clicked(); };
  control("pb_4")->clicked = [this] { pb_4_clicked(); };
  control("pb_approve")->clicked = [this] { pb_approve_clicked(); };

  list.rowfocuschanged = [this](long row) {
    const std::string id = dw_1().store().getitemstring(row, "pkid");
    if (id != pkid) load_declaration(id);
  };
  workers.rowfocuschanged = [this](long row) { load_worker(dw_2().store().getitemstring(row, "worker_code")); };
  unit.constructor = [this] { dw_3_constructor(); };
  unit.itemchanged = [this](long row, const std::string& column, const std::string& data) {
    return dw_3_itemchanged(row, column, data);
  };
  worker.constructor = [this] { dw_4_constructor(); };
  worker.editchanged = [this](long row, const std::string& column, const std::string& data) {
    dw_4_editchanged(row, column, data);
  };
  worker.itemchanged = [this](long row, const std::string& column, const std::string& data) {
    return dw_4_itemchanged(row, column, data);
  };
}

void sb1::open() {
  const SessionUser& user = session().user();
  company_num = user.company_num;
  Control& unit_selector = *control("uo_1");
  unit_selector.text = company_num;
  // A clerk files for his own unit; the authority chooses the unit in uo_1.
  unit_selector.enabled = company_num.empty();
  control("pb_approve")->enabled = user.may_accept;

  const DateTime today = session().today();
  control("em_1")->text = DateTime::from_civil(today.year() - 1, 1, 1).format("yyyy-mm-dd");
  control("em_2")->text = today.format("yyyy-mm-dd");

  dw_1().set_dataobject("d_sb_list");
  dw_1().store().setsqlselect([&] {
    std::string sql = dw_1().store().def().retrieve_sql;
    const std::string placeholder = "{unit_table}";
    if (const size_t at = sql.find(placeholder); at != std::string::npos)
      sql.replace(at, placeholder.size(), category_.unit_table);
    return sql;
  }());
  dw_2().set_dataobject(category_.worker_list);
  dw_3().set_dataobject(category_.unit_form);
  dw_4().set_dataobject(category_.worker_form);
  list_declarations();
  list_workers();
  resize(width, height);
}

void sb1::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  const int bottom = new_height - kButtonHeight - kGap;
  const int right = new_width - kGap;
  // Declaration buttons under the lists; worker and acceptance buttons at the bottom right.
  int x = kGap;
  for (const char* name : {"pb_16", "pb_5", "pb_d"}) {
    Control& b = *control(name);
    b.x = x;
    b.y = bottom;
    x += b.width + 4;
  }
  x = right;
  for (const char* name : {"pb_approve", "pb_4", "pb_1", "pb_del", "pb_2"}) {
    Control& b = *control(name);
    x -= b.width;
    b.x = x;
    b.y = bottom;
    x -= kGap;
  }
  dw_2().height = std::max(60, bottom - kGap - dw_2().y);
  const int form_width = std::max(200, right - dw_3().x);
  dw_3().width = form_width;
  dw_4().width = form_width;
  dw_4().height = std::max(60, bottom - kGap - dw_4().y);
}

bool sb1::close_query() { return offer_to_save(); }

std::optional<Value> sb1::variable(std::string_view name) const {
  if (name == "pkid") return Value(pkid);
  if (name == "company_num") return Value(company_num);
  if (name == "is_index") return Value(is_index);
  return std::nullopt;
}

std::optional<Value> sb1::call(std::string_view function, const std::vector<std::string>& args) {
  if (function == "wf_rystate") return Value(wf_rystate());
  if (function == "wf_retrieve") return Value(wf_retrieve());
  if (function == "wf_getcompanyinfo") {
    wf_getcompanyinfo();
    return Value(0);
  }
  if (function == "uf_getworkercode") return Value(uf_getworkercode());
  if (function == "uf_getworkerinfo" && args.size() == 1) return Value(uf_getworkerinfo(args[0]));
  if (function == "uf_all" && args.size() <= 1) {
    uf_all(args.empty() ? std::string() : args[0]);
    return Value(0);
  }
  if (function == "pfc_save") return Value(pfc_save());
  if (function == "uf_approve") return Value(uf_approve(args.empty() ? 1 : std::stoi(args[0])));
  return std::nullopt;
}

bool sb1::gesture(std::string_view name, const std::vector<std::string>& args, std::string& error) {
  if (name == "add" && args.size() == 1) {
    add_worker(args[0]);
    return true;
  }
  return Window::gesture(name, args, error);
}

void sb1::fill_audit(DataStore& store, long row, bool is_new) {
  const DateTime now = session().now();
  const std::string& user = session().user().username;
  if (is_new) {
    store.setitem(row, "createdate", Value(now));
    store.setitem(row, "createby", Value(user));
  }
  store.setitem(row, "lastupdate", Value(now));
  store.setitem(row, "lastupdateby", Value(user));
}

void sb1::list_declarations() {
  if (company_num.empty()) {
    dw_1().store().reset();
    return;
  }
  const auto from = DateTime::parse(control("em_1")->text);
  const auto to = DateTime::parse(control("em_2")->text);
  if (!from || !to) {
    session().message_box("提示", "请输入正确的申报时间（yyyy-mm-dd）！", Icon::Exclamation);
    return;
  }
  // The range takes in the whole of its last day.
  const DateTime end_of_last_day = DateTime::from_civil(to->year(), to->month(), to->day(), 23, 59, 59);
  DataStore& list = dw_1().store();
  list.retrieve({Value(company_num), Value(from->date()), Value(end_of_last_day)});
  if (!pkid.empty()) {
    if (const long row = list.find_value("pkid", Value(pkid)); row > 0) list.setrow(row);
  }
}

void sb1::list_workers() {
  if (company_num.empty()) {
    dw_2().store().reset();
    return;
  }
  dw_2().store().retrieve({Value(company_num)});
  wf_rystate();
}

int sb1::wf_rystate() {
  DataStore& workers = dw_2().store();
  if (!workers.has_definition() || workers.def().column_index("status") < 0) return 0;
  std::vector<std::string> declared;
  if (!pkid.empty()) {
    session().sqlca().query("select worker_code from " + worker_table() + " where pkid = :id and company_num = :com",
                            {Value(pkid), Value(company_num)}, [&](const ResultRow& row) {
                              declared.push_back(row.get(0).to_string());
                              return true;
                            });
  }
  int marked = 0;
  for (long r = 1; r <= workers.rowcount(); ++r) {
    const std::string code = workers.getitemstring(r, "worker_code");
    const bool in_declaration = std::find(declared.begin(), declared.end(), code) != declared.end();
    workers.setitem(r, "status", in_declaration ? Value("申报") : Value());
    marked += in_declaration;
  }
  workers.reset_update_flags();
  return marked;
}

std::string sb1::uf_getworkercode() {
  std::vector<Value> highest{Value()};
  session().sqlca().select_into("select worker_code from " + worker_table() +
                                    " where company_num = :com order by worker_code desc limit 1",
                                {Value(company_num)}, highest);
  const std::string code = provisional_worker_code(next_person_sequence(highest[0]));
  if (code.empty()) session().message_box("系统提示", "人员编号已超出系统的极限，请与系统管理员联系", Icon::Exclamation);
  return code;
}

bool sb1::lacks_declaration() {
  if (!trim(pkid).empty()) return false;
  session().message_box("提示", "请先维护单位申报信息！", Icon::Information);
  return true;
}

bool sb1::offer_to_save() {
  const bool changed = dw_3().store().modifiedcount() > 0 || dw_4().store().modifiedcount() > 0;
  if (!changed) return true;
  if (session().message_box("提示", "申报数据已修改，是否保存？", Icon::Question, Buttons::YesNo) != 1) {
    discard_changes();
    return true;
  }
  if (dw_3().store().modifiedcount() > 0 && save_declaration() < 0) return false;
  if (dw_4().store().modifiedcount() > 0 && save_worker() < 0) return false;
  return true;
}

void sb1::discard_changes() {
  // The forms go back to what is stored, so that what the user sees is what a later save,
  // print or acceptance works on; a declaration or worker never saved is gone.
  DataStore& unit = dw_3().store();
  if (unit.modifiedcount() > 0) {
    if (trim(pkid).empty()) {
      unit.reset();
    } else {
      unit.retrieve({Value(pkid), Value(company_num)});
    }
  }
  DataStore& worker = dw_4().store();
  if (worker.modifiedcount() > 0) {
    const Value worker_code = worker.getitem(1, "worker_code");
    worker.retrieve({Value(pkid), Value(company_num), worker_code});
  }
}

void sb1::load_declaration(const std::string& id) {
  if (!offer_to_save()) return;
  pkid = id;
  dw_3().store().retrieve({Value(pkid), Value(company_num)});
  dw_4().store().reset();
  wf_rystate();
}

void sb1::load_worker(const std::string& worker_code) {
  if (pkid.empty() || worker_code.empty()) return;
  if (!offer_to_save()) return;
  dw_4().store().retrieve({Value(pkid), Value(company_num), Value(worker_code)});
  uf_all("");
}

void sb1::pb_3_clicked() {
  if (!offer_to_save()) return;
  const Control& unit_selector = *control("uo_1");
  company_num = unit_selector.enabled ? trim(unit_selector.text) : session().user().company_num;
  pkid.clear();
  dw_3().store().reset();
  dw_4().store().reset();
  list_declarations();
  list_workers();
}

void sb1::pb_16_clicked() {
  if (company_num.empty()) {
    session().message_box("提示", "请先选择单位！", Icon::Information);
    return;
  }
  if (!offer_to_save()) return;
  pkid.clear();
  DataStore& unit = dw_3().store();
  unit.reset();
  dw_4().store().reset();
  const long row = unit.insertrow(0);
  unit.setitem(row, "company_num", Value(company_num));
  unit.setitem(row, "state", Value(0));
  unit.setitem(row, "sb_date", Value(session().today()));
  std::vector<Value> name;
  if (session().sqlca().select_into("select company_name from rs_info_company where company_num = :com",
                                    {Value(company_num)}, name) == 0 &&
      !name[0].is_null()) {
    Value company_name = name[0];
    unit.setitem(row, "company_name", company_name);
  }
  wf_getcompanyinfo();
  wf_rystate();
  dw_3().setfocus();
}

int sb1::save_declaration() {
  DataStore& unit = dw_3().store();
  if (unit.rowcount() == 0) return 0;
  Transaction& sqlca = session().sqlca();
  const bool is_new = unit.getitemstatus(1) == RowStatus::New || unit.getitemstatus(1) == RowStatus::NewModified;
  std::string id = pkid;
  bool ok = true;
  if (is_new) {
    id = next_declaration_id(sqlca, category_.unit_table, worker_table());
    ok = !id.empty();
    if (ok) unit.setitem(1, "pkid", Value(id));
  }
  if (ok) {
    fill_audit(unit, 1, is_new);
    ok = unit.update() == 1;
  }
  if (!ok || sqlca.commit() != 0) {
    if (is_new) unit.setitem(1, "pkid", Value());
    roll_back_and_report("保存", &unit);
    return -1;
  }
  pkid = id;
  session().set_status("保存成功");
  list_declarations();
  return 1;
}

void sb1::pb_5_clicked() { save_declaration(); }

void sb1::pb_d_clicked() {
  if (lacks_declaration()) return;
  if (session().message_box("提示", "确定要删除该申报吗？", Icon::Question, Buttons::YesNo) != 1) return;
  Transaction& sqlca = session().sqlca();
  const std::vector<Value> key{Value(pkid), Value(company_num)};
  const bool ok =
      sqlca.execute("delete from " + worker_table() + " where pkid = :id and company_num = :com", key) >= 0 &&
      sqlca.execute("delete from " + category_.unit_table + " where pkid = :id and company_num = :com", key) >= 0;
  if (!ok || sqlca.commit() != 0) {
    roll_back_and_report("删除", nullptr);
    return;
  }
  pkid.clear();
  dw_3().store().reset();
  dw_4().store().reset();
  session().set_status("删除成功");
  list_declarations();
  wf_rystate();
}

bool sb1::add_worker(const std::string& worker_code) {
  if (lacks_declaration()) return false;
  DataStore& workers = dw_2().store();
  const long listed = workers.find_value("worker_code", Value(worker_code));
  if (listed <= 0) {
    session().message_box("提示", "单位人员中没有编号为" + worker_code + "的人员！", Icon::Exclamation);
    return false;
  }
  // Pending entries are saved (or dropped) first, so that a worker still being entered counts
  // as taken when the same worker is added again.
  if (!offer_to_save()) return false;
  std::vector<Value> found;
  if (session().sqlca().select_into("select worker_code from " + worker_table() +
                                        " where pkid = :id and company_num = :com and worker_code = :w",
                                    {Value(pkid), Value(company_num), Value(worker_code)}, found) == 0) {
    session().message_box("提示", "该人员已在本次申报中！", Icon::Information);
    return false;
  }
  workers.setrow(listed);
  DataStore& worker = dw_4().store();
  worker.reset();
  const long row = worker.insertrow(0);
  worker.setitem(row, "pkid", Value(pkid));
  worker.setitem(row, "company_num", Value(company_num));
  worker.setitem(row, "worker_code", Value(worker_code));
  worker.setitem(row, "state", Value(0));
  worker.setitem(row, "worker_name", workers.getitem(listed, "worker_name"));
  uf_getworkerinfo(worker_code);
  uf_all("");
  dw_4().setfocus();
  return true;
}

int sb1::save_worker() {
  if (lacks_declaration()) return -1;
  DataStore& worker = dw_4().store();
  if (worker.rowcount() == 0) return 0;
  if (pfc_save() < 0) return -1;
  Transaction& sqlca = session().sqlca();
  const bool is_new = worker.getitemstatus(1) == RowStatus::New || worker.getitemstatus(1) == RowStatus::NewModified;
  fill_audit(worker, 1, is_new);
  if (worker.update() != 1 || sqlca.commit() != 0) {
    roll_back_and_report("保存", &worker);
    return -1;
  }
  session().set_status("保存成功");
  wf_rystate();
  return 1;
}

void sb1::pb_2_clicked() { save_worker(); }

void sb1::pb_del_clicked() {
  if (lacks_declaration()) return;
  DataStore& worker = dw_4().store();
  if (worker.rowcount() == 0) return;
  if (session().message_box("提示", "确定要删除该人员吗？", Icon::Question, Buttons::YesNo) != 1) return;
  Transaction& sqlca = session().sqlca();
  worker.deleterow(1);
  if (worker.update() != 1 || sqlca.commit() != 0) {
    roll_back_and_report("删除", &worker);
    worker.retrieve(worker.retrieval_arguments());
    return;
  }
  session().set_status("删除成功");
  wf_rystate();
}

void sb1::pb_1_clicked() {
  if (dw_3().store().rowcount() == 0) {
    lacks_declaration();
    return;
  }
  if (dw_3().store().modifiedcount() > 0 && save_declaration() < 0) return;
  if (lacks_declaration()) return;
  dw_2().setfocus();
}

void sb1::pb_4_clicked() {
  if (lacks_declaration()) return;
  DataStore letter;
  if (letter.set_dataobject("d_sb_letter") < 0) {
    session().message_box("提示", "申报函件格式缺失：" + letter.last_error(), Icon::StopSign);
    return;
  }
  letter.settransobject(&session().sqlca());
  letter.setsqlselect([&] {
    std::string sql = letter.def().retrieve_sql;
    for (const auto& [placeholder, table] :
         {std::pair<std::string, std::string>{"{unit_table}", category_.unit_table}, {"{worker_table}", worker_table()}}) {
      for (size_t at = sql.find(placeholder); at != std::string::npos; at = sql.find(placeholder))
        sql.replace(at, placeholder.size(), table);
    }
    return sql;
  }());
  if (letter.retrieve({Value(pkid), Value(company_num)}) <= 0) {
    session().message_box("提示", "请先维护单位申报信息！", Icon::Information);
    return;
  }
  if (session().print_jobs().print_alone(letter, title + "申报函") < 0)
    session().message_box("提示", "打印失败！\n" + session().print_jobs().last_error(), Icon::StopSign);
}

void sb1::pb_approve_clicked() {
  if (lacks_declaration()) return;
  if (!session().user().may_accept) {
    session().message_box("提示", "只有人事主管部门可以数据入库！", Icon::StopSign);
    return;
  }
  Transaction& sqlca = session().sqlca();
  const std::vector<Value> key{Value(category_.unit_table), Value(pkid), Value(company_num)};
  std::vector<Value> found;
  const char* kAccepted =
      "select pkid from rs_sb_approval where table_name = :t and pkid = :id and company_num = :com";
  if (sqlca.select_into(kAccepted, key, found) == 0) {
    session().message_box("提示", "该申报已入库，不能重复入库！", Icon::Information);
    return;
  }
  // What is accepted is what is stored: entries still pending are saved (or dropped) first.
  if (!offer_to_save()) return;
  if (session().message_box("提示", "确定要将本次申报数据入库吗？", Icon::Question, Buttons::YesNo) != 1) return;
  session().set_pointer_hourglass(true);
  // The record goes first: a second acceptance of the same declaration, even one running at
  // this moment in another session, fails on its unique key before it writes anything.
  sqlca.execute(
      "insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) "
      "values (:t, :id, :com, :at, :by)",
      {key[0], key[1], key[2], Value(session().now()),
       Value(session().user().username)});
  if (sqlca.sqlcode < 0) {
    session().set_pointer_hourglass(false);
    const std::string reason = sqlca.sqlerrtext;
    sqlca.rollback();
    if (sqlca.select_into(kAccepted, key, found) == 0) {
      session().message_box("提示", "该申报已入库，不能重复入库！", Icon::Information);
    } else {
      session().message_box("提示", "数据入库失败！\n" + reason, Icon::StopSign);
    }
    return;
  }
  const bool accepted = uf_approve(1) == 0 && sqlca.commit() == 0;
  session().set_pointer_hourglass(false);
  if (!accepted) {
    roll_back_and_report("数据入库", nullptr);
    return;
  }
  session().message_box("提示", "数据入库成功！", Icon::Information);
}

void sb1::roll_back_and_report(const std::string& action, const DataStore* store) {
  Transaction& sqlca = session().sqlca();
  std::string reason = sqlca.sqlerrtext;
  if (reason.empty() && store) reason = store->last_error();
  sqlca.rollback();
  session().message_box("提示", action + "失败！\n" + reason, Icon::StopSign);
}

}  // namespace shenbao
