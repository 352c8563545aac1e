#include "framework/declaration/sb1.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "framework/declaration/declaration.h"
#include "framework/declaration/declaration_limits.h"
#include "framework/declaration/w_sb_accept_preview.h"
#include "framework/declaration/w_sb_history.h"
#include "framework/declaration/w_sb_return.h"
#include "framework/host/host_functions.h"
#include "framework/host/host_session.h"
#include "framework/host/messages.h"
#include "framework/host/structures.h"

namespace shenbao {
namespace {

constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 28;
constexpr int kGap = 8;
// The least height the worker form keeps below the unit form: a few lines of its fields.
constexpr int kWorkerFormLeast = 120;

constexpr int kListWidth = 300;
constexpr int kReviewButtonWidth = 64;

// Whether row a of the declarations' list comes before row b as d_sb_list's statement sorts
// them: returned declarations first, then those without a date, then the newest first (by
// date, then by number).
bool in_list_order(const DataStore& list, long a, long b) {
  const auto rank = [&](long r) {
    return std::pair(list.getitemstring(r, "sb_status") == "已退回" ? 0 : 1, list.getitem(r, "sb_date").is_null() ? 0 : 1);
  };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  if (const int dates = list.getitem(a, "sb_date").compare(list.getitem(b, "sb_date")); dates != 0) return dates > 0;
  return list.getitem(a, "pkid").compare(list.getitem(b, "pkid")) > 0;
}

// Room for the scroll bar of a form that does not show whole and scrolls down.
constexpr int kScrollBarWidth = 16;

// The room a form takes shown whole on screen; none without a definition.
ScreenExtent shown_extent(const DataStore& form) { return form.has_definition() ? screen_extent(form.def()) : ScreenExtent{}; }

std::string trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace

sb1::sb1(Session& session, const CategoryDescriptor& category)
    : Window(session, category.class_name),
      is_index(std::string(category.worker_table).substr(3)),
      category_(&category),
      record_(session, category) {
  title = category.caption;
  width = 1280;
  height = 760;
  build_controls();
  ancestor_controls_ = controls().size();
  define_hook_functions();
}

void sb1::define_hook_functions() {
  // The hooks by name, as the host and the tests call them; a category offers those its
  // descriptor lists.
  using Args = const std::vector<std::string>&;
  const std::map<std::string_view, Function> hooks = {
      {"wf_rystate", [this](Args) -> Result<Value> { return Value(wf_rystate()); }},
      {"wf_retrieve", [this](Args) -> Result<Value> { return Value(wf_retrieve()); }},
      {"wf_getcompanyinfo",
       [this](Args) -> Result<Value> {
         wf_getcompanyinfo();
         return Value(0);
       }},
      {"uf_getworkercode", [this](Args) -> Result<Value> { return Value(uf_getworkercode()); }},
      {"uf_getworkerinfo",
       [this](Args args) -> Result<Value> {
         if (args.size() != 1) return Refusal::technical(RefusalCode::BadRequest, "uf_getworkerinfo takes a worker code");
         return Value(uf_getworkerinfo(args[0]));
       }},
      {"uf_all",
       [this](Args args) -> Result<Value> {
         uf_all(args.empty() ? std::string() : args[0]);
         return Value(0);
       }},
      {"pfc_save", [this](Args) -> Result<Value> { return Value(pfc_save()); }},
      {"uf_approve",
       [this](Args args) -> Result<Value> {
         int state = 1;
         if (!args.empty()) {
           Result<Value> parsed = parse_entry(ColumnType{TypeKind::Long}, args[0]);
           if (!parsed || parsed->is_null())
             return Refusal::technical(RefusalCode::BadRequest, "uf_approve takes a whole number");
           state = static_cast<int>(parsed->as_long());
         }
         return Value(uf_approve(state));
       }},
  };
  for (const char* name : category_->functions) {
    const auto hook = hooks.find(name);
    if (hook != hooks.end()) define_function(name, hook->second);
  }
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

  add_write_button("pb_16", "新增申报(&N)", kButtonWidth, DeclarationChange::Create, [this] { pb_16_clicked(); });
  add_write_button("pb_5", "保存申报(&D)", kButtonWidth, DeclarationChange::Edit, [this] { pb_5_clicked(); });
  add_write_button("pb_d", "删除申报(&D)", kButtonWidth, DeclarationChange::Delete, [this] { pb_d_clicked(); });
  add_write_button("pb_2", "保存人员(&S)", kButtonWidth, DeclarationChange::Edit, [this] { pb_2_clicked(); });
  add_write_button("pb_del", "删除人员(&D)", kButtonWidth, DeclarationChange::Delete, [this] { pb_del_clicked(); });
  add_control(ControlKind::Button, "pb_1", "下一步(&C)", 0, 0, kButtonWidth, kButtonHeight);
  add_control(ControlKind::Button, "pb_4", "申报函件(&R)", 0, 0, kButtonWidth, kButtonHeight);
  add_write_button("pb_approve", "数据入库(&E)", kButtonWidth, DeclarationChange::Accept, [this] { pb_approve_clicked(); });
  add_write_button("pb_return", "退回(&B)", kReviewButtonWidth, DeclarationChange::Return, [this] { pb_return_clicked(); })
      .role.audit = "return";
  add_control(ControlKind::Button, "pb_history", "申报记录(&H)", 0, kGap - 2, kButtonWidth, kButtonHeight).clicked =
      [this] { pb_history_clicked(); };
  add_write_button("pb_reverse", "撤销入库(&U)", kButtonWidth, DeclarationChange::Reverse, [this] { pb_reverse_clicked(); })
      .role.audit = "reverse";
  Control& preview =
      add_control(ControlKind::Button, "pb_preview_accept", "入库预览(&V)", 0, kGap - 2, kButtonWidth, kButtonHeight);
  preview.clicked = [this] { pb_preview_accept_clicked(); };
  preview.role.right = kAcceptRight;
  preview.role.refusal = host_message_text(HostMessage::PreviewRightMissing);
  if (category_->print) {
    add_control(ControlKind::Button, category_->print->name, category_->print->caption, 0, 0, kButtonWidth,
                kButtonHeight)
        .clicked = [this] { print_clicked(); };
  }
  ControlRole& accept = control("pb_approve")->role;
  accept.audit = "approve";
  accept.accent = true;
  if (category_->adds_register_workers) {
    workers.role.gesture = "add";
    workers.role.gesture_column = "worker_code";
  }

  control("pb_3")->clicked = [this] { pb_3_clicked(); };
  control("pb_1")->clicked = [this] { pb_1_clicked(); };
  control("pb_4")->clicked = [this] { pb_4_clicked(); };

  list.rowfocuschanged = [this](long row) {
    const std::string id = dw_1().store().getitemstring(row, "pkid");
    if (id != pkid) load_declaration(id);
  };
  workers.rowfocuschanged = [this](long row) { load_worker(dw_2().store().getitemstring(row, "worker_code")); };
  unit.constructor = [this] { dw_3_constructor(); };
  unit.itemchanged = [this](long row, const std::string& column, const std::string& data, const Value& value) {
    return dw_3_itemchanged(row, column, data, value);
  };
  worker.constructor = [this] { dw_4_constructor(); };
  worker.editchanged = [this](long row, const std::string& column, const std::string& data) {
    dw_4_editchanged(row, column, data);
  };
  worker.itemchanged = [this](long row, const std::string& column, const std::string& data, const Value& value) {
    return dw_4_itemchanged(row, column, data, value);
  };
}

void sb1::open() {
  const SessionUser& user = session().user();
  company_num = user.company_num;
  // Opened on one declaration (from the authority's inbox): its unit, then the declaration.
  const s_com* declaration = parameter<s_com>();
  if (declaration) company_num = declaration->company;
  Control& unit_selector = *control("uo_1");
  unit_selector.text = company_num;
  // A clerk files for his own unit; the authority chooses the unit in uo_1.
  unit_selector.enabled = user.company_num.empty();

  const DateTime today = session().today();
  control("em_1")->text = DateTime::from_civil(today.year() - 1, 1, 1).format("yyyy-mm-dd");
  control("em_2")->text = today.format("yyyy-mm-dd");

  dw_1().set_dataobject("d_sb_list");
  dw_1().store().setsqlselect(with_tables(dw_1().store().def().retrieve_sql));
  dw_2().set_dataobject(category_->worker_list);
  dw_3().set_dataobject(category_->unit_form);
  dw_4().set_dataobject(category_->worker_form);
  if (declaration) load_declaration(declaration->worker_code);
  list_declarations();
  list_workers();
  lock_forms();
  resize(width, height);
}

std::string sb1::with_tables(std::string sql) const {
  for (const auto& [placeholder, table] : {std::pair<std::string_view, std::string_view>{"{unit_table}", category_->unit_table},
                                           {"{worker_table}", category_->worker_table}}) {
    for (size_t at = sql.find(placeholder); at != std::string::npos; at = sql.find(placeholder, at + table.size()))
      sql.replace(at, placeholder.size(), table);
  }
  return sql;
}

bool sb1::is_accepted() { return record_.is_accepted(pkid, company_num); }

Control& sb1::add_write_button(std::string name, std::string caption, int button_width, DeclarationChange change,
                               std::function<void()> script) {
  Control& button = add_control(ControlKind::Button, std::move(name), std::move(caption), 0, 0, button_width,
                                kButtonHeight);
  button.clicked = std::move(script);
  guard_write_button(button, record_.gate(), [this] { return record_.key(pkid, company_num); }, change);
  write_buttons_.emplace_back(&button, change);
  return button;
}

void sb1::lock_forms() {
  // The authority reviews and never files; an accepted declaration is locked for everyone.
  const DeclarationState state = record_.gate().state(record_.key(pkid, company_num));
  const bool locked = !session().user().has_right(kFileRight) || state.accepted;
  dw_3().read_only = locked;
  dw_4().read_only = locked;
  // The buttons that would change it, accept it or return it say so before they are pressed.
  for (const auto& [button, change] : write_buttons_) show_locked(*button, change, state);
  // A declaration is previewed before its acceptance (when submitted) or after it.
  const auto not_yet = state_refusal(DeclarationChange::Accept, state);
  control("pb_preview_accept")->role.locked =
      not_yet && !state.accepted ? host_message_text(*not_yet) : std::string();
}

bool sb1::refuses_change(DeclarationChange change) {
  return record_.gate().refuses(record_.key(pkid, company_num), change);
}

std::string sb1::declaration_text() const { return shenbao::declaration_text(record_.key(pkid, company_num)); }

void sb1::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  const int right = new_width - kGap;
  if (!row_buttons_known_) {
    // By default the print button and every button a category adds without a place of its
    // own stand left of "保存人员(&S)", in the order they were added.
    row_buttons_known_ = true;
    if (!arranged_) {
      if (category_->print) row_buttons_.push_back(category_->print->name);
      for (size_t i = ancestor_controls_; i < controls().size(); ++i) {
        const Control& c = *controls()[i];
        if (c.kind() == ControlKind::Button && c.x == 0 && c.y == 0) row_buttons_.push_back(c.name());
      }
    }
  }

  // The history of the open declaration at the top right; where the query line leaves no
  // room for it, on a line of its own below, and the lists and forms start lower.
  int query_end = 0;
  for (const auto& c : controls()) {
    const std::string& name = c->name();
    if (c->y < 40 && name != "pb_history" && name != "pb_preview_accept" && name != "pb_reverse")
      query_end = std::max(query_end, c->x + c->width);
  }
  int top = 44;
  int x = right;
  for (const char* name : {"pb_history", "pb_preview_accept", "pb_reverse"}) {
    Control& b = *control(name);
    x -= b.width;
    b.x = x;
    b.y = kGap - 2;
    x -= kGap;
  }
  if (x + kGap < query_end + kGap) {
    top = 44 + kButtonHeight + kGap;
    for (const char* name : {"pb_history", "pb_preview_accept", "pb_reverse"}) control(name)->y = 44 - 2;
  }

  // Declaration buttons under the lists; worker and acceptance buttons at the bottom right,
  // the category's buttons left of them; when either would reach the buttons left of them,
  // they stand on a row of their own above, from the right.
  const int bottom = new_height - kButtonHeight - kGap;
  x = kGap;
  std::vector<std::string> left = {"pb_16", "pb_5", "pb_d"};
  left.insert(left.end(), beside_declaration_buttons_.begin(), beside_declaration_buttons_.end());
  for (const std::string& name : left) {
    Control& b = *control(name);
    b.x = x;
    b.y = bottom;
    x += b.width + 4;
  }
  const int left_end = x;
  // On a narrow screen the worker and acceptance buttons stand on a row of their own above.
  constexpr const char* kRightButtons[] = {"pb_approve", "pb_return", "pb_4", "pb_1", "pb_del", "pb_2"};
  int right_left = right + kGap;
  for (const char* name : kRightButtons) right_left -= control(name)->width + kGap;
  const bool right_row = right_left < left_end + kGap;
  const int right_y = right_row ? bottom - kButtonHeight - 4 : bottom;
  x = right;
  for (const char* name : kRightButtons) {
    Control& b = *control(name);
    x -= b.width;
    b.x = x;
    b.y = right_y;
    x -= kGap;
  }
  int row_left = control("pb_2")->x;
  for (const std::string& name : row_buttons_) row_left -= control(name)->width + 20;
  const bool own_row = !row_buttons_.empty() && row_left < (right_row ? kGap : left_end);
  const int row_y = own_row ? right_y - kButtonHeight - 4 : right_y;
  x = own_row ? right + 20 : control("pb_2")->x;
  for (const std::string& name : row_buttons_) {
    Control& button = *control(name);
    button.y = row_y;
    button.x = x - button.width - 20;
    x = button.x;
  }
  lay_out_lists_and_forms(top, row_y, right);
}

void sb1::lay_out_lists_and_forms(int top, int buttons_top, int right) {
  // The forms stand right of the lists where they fit there whole in width; in a narrower
  // window the two lists stand side by side above them and the forms take the window's
  // width, so that a form scrolls down only, never sideways (the browser draws a form a
  // little too wide for its box a little smaller).
  const ScreenExtent unit_form = shown_extent(dw_3().store());
  const int forms_width = std::max(unit_form.width, shown_extent(dw_4().store()).width) + kScrollBarWidth;
  const bool beside = kListWidth + 2 * kGap + forms_width <= right;
  const int lists_room = buttons_top - 2 * kGap - top;
  if (beside) {
    // The declarations take at most 250 high and two fifths of the lists' room, so that on a
    // low screen the workers' list below keeps most of it.
    dw_1().x = dw_2().x = kGap;
    dw_1().width = dw_2().width = kListWidth;
    dw_1().y = top;
    dw_1().height = std::clamp(lists_room * 2 / 5, 100, 250);
    dw_2().y = dw_1().y + dw_1().height + kGap;
    dw_2().height = std::max(60, buttons_top - kGap - dw_2().y);
    dw_3().x = dw_4().x = kListWidth + 2 * kGap;
    dw_3().y = top;
  } else {
    // The workers' list keeps its width; the declarations' list, of more columns, takes the rest.
    dw_2().width = kListWidth;
    dw_2().x = right - kListWidth;
    dw_1().x = kGap;
    dw_1().width = dw_2().x - 2 * kGap;
    dw_1().y = dw_2().y = top;
    // Two fifths of the room, as the declarations have beside the forms: a page of rows.
    dw_1().height = dw_2().height = std::clamp(lists_room * 2 / 5, 120, 250);
    dw_3().x = dw_4().x = kGap;
    dw_3().y = dw_1().y + dw_1().height + kGap;
  }
  const int form_width = std::max(200, right - dw_3().x);
  dw_3().width = form_width;
  // The unit form takes its form's height, so that all of it (the 上报数据 box at its foot
  // included) shows; the worker form takes what is left below it. On a screen too low for
  // both, the unit form gives up height and scrolls, so that the worker form keeps a few
  // lines and the buttons stay in the window.
  const int room = buttons_top - kGap - dw_3().y;
  dw_3().height = std::max(60, std::min(unit_form.height, room - kGap - kWorkerFormLeast));
  dw_4().y = dw_3().y + dw_3().height + kGap;
  dw_4().width = form_width;
  dw_4().height = std::max(60, buttons_top - kGap - dw_4().y);
}

void sb1::arrange_buttons(std::vector<std::string> beside_declaration_buttons, std::vector<std::string> left_of_pb_2) {
  arranged_ = true;
  beside_declaration_buttons_ = std::move(beside_declaration_buttons);
  row_buttons_ = std::move(left_of_pb_2);
}

void sb1::report_save_refusal(const Refusal& refused) { report_write_refusal(session(), refused); }

bool sb1::close_query() { return offer_to_save(); }

std::optional<Value> sb1::variable(std::string_view name) const {
  if (name == "pkid") return Value(pkid);
  if (name == "company_num") return Value(company_num);
  if (name == "is_index") return Value(is_index);
  return std::nullopt;
}

std::optional<Refusal> sb1::gesture(std::string_view name, const std::vector<std::string>& args) {
  if (name == "add" && args.size() == 1 && category_->adds_register_workers) {
    add_worker(args[0]);
    return std::nullopt;
  }
  return Window::gesture(name, args);
}

Author sb1::author() const { return {session().user().username, session().now()}; }

void sb1::list_declarations() {
  if (company_num.empty()) {
    dw_1().store().reset();
    return;
  }
  const auto from = DateTime::parse(control("em_1")->text);
  const auto to = DateTime::parse(control("em_2")->text);
  if (!from || !to) {
    say(session(), HostMessage::DateRangeInvalid);
    return;
  }
  DataStore& list = dw_1().store();
  list.retrieve(list_arguments(*from, *to));
  if (!pkid.empty()) {
    if (const long row = list.find_value("pkid", Value(pkid)); row > 0) list.setrow(row);
  }
}

std::vector<Value> sb1::list_arguments(DateTime from, DateTime to) const {
  // The range takes in the whole of its last day.
  const DateTime end_of_last_day = DateTime::from_civil(to.year(), to.month(), to.day(), 23, 59, 59);
  return {Value(company_num), Value(from.date()), Value(end_of_last_day)};
}

void sb1::list_saved_declaration() {
  DataStore& list = dw_1().store();
  const auto from = DateTime::parse(control("em_1")->text);
  const auto to = DateTime::parse(control("em_2")->text);
  // Another unit or range than the list was read for (the range widened to the saved date):
  // the whole list is read again.
  if (company_num.empty() || !from || !to || list.retrieval_arguments() != list_arguments(*from, *to)) {
    list_declarations();
    return;
  }
  if (const long row = list.reselect("pkid", Value(pkid), in_list_order); row > 0) list.setrow(row);
}

void sb1::list_workers() {
  if (company_num.empty()) {
    dw_2().store().reset();
    return;
  }
  dw_2().store().retrieve({Value(company_num)});
  wf_rystate();
  wf_retrieve();
}

int sb1::wf_rystate() {
  DataStore& workers = dw_2().store();
  if (!workers.has_definition() || workers.def().column_index("status") < 0) return 0;
  // The declaration's codes in order, searched without copying a code: a unit of thousands of
  // workers all in the declaration is marked in one pass.
  std::vector<std::string> declared;
  if (!pkid.empty()) {
    session().sqlca().query("select worker_code from " + worker_table() + " where pkid = :id and company_num = :com",
                            {Value(pkid), Value(company_num)}, [&](const ResultRow& row) {
                              declared.push_back(row.get(0).to_string());
                              return true;
                            });
    if (!std::is_sorted(declared.begin(), declared.end())) std::sort(declared.begin(), declared.end());
  }
  int marked = 0;
  const Value mark("申报");
  const int code = workers.def().column_index("worker_code") + 1;
  const int status = workers.def().column_index("status") + 1;
  for (long r = 1; r <= workers.rowcount(); ++r) {
    // worker_code is a text column: its values are texts or null.
    const Value worker = workers.getitem(r, code);
    const bool in_declaration = std::binary_search(declared.begin(), declared.end(), worker.as_text(), std::less<>());
    workers.setitem_as_retrieved(r, status, in_declaration ? mark : Value());
    marked += in_declaration;
  }
  return marked;
}

std::string sb1::uf_getworkercode() {
  Result<std::string> code = next_person_code(session().sqlca(), *category_, company_num, false);
  if (!code) {
    say(session(), HostMessage::SaveFailed, code.refusal().text);
    return {};
  }
  if (code->empty()) say(session(), HostMessage::NumberLimit);
  return *code;
}

bool sb1::lacks_declaration() {
  if (!trim(pkid).empty()) return false;
  say(session(), HostMessage::DeclarationMissing);
  return true;
}

bool sb1::offer_to_save() {
  const bool changed = dw_3().store().modifiedcount() > 0 || dw_4().store().modifiedcount() > 0;
  if (!changed) return true;
  if (say(session(), HostMessage::UnsavedChanges) != 1) {
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
  lock_forms();
  wf_rystate();
  wf_retrieve();
  show_return_reason();
}

void sb1::show_return_reason() {
  DataStore& list = dw_1().store();
  const long row = pkid.empty() ? 0 : list.find_value("pkid", Value(pkid));
  if (row > 0 && list.getitemstring(row, "sb_status") == "已退回")
    session().set_status(kReturnedStatus + list.getitemstring(row, "sb_reason"));
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
    say(session(), HostMessage::UnitMissing);
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
  lock_forms();
  wf_rystate();
  wf_retrieve();
  session().set_status(kNewDeclarationStatus);
  dw_3().setfocus();
}

void sb1::wf_getcompanyinfo() { unit_master_data_found_ = copy_company_info(*this, category_->company_copies); }

int sb1::uf_getworkerinfo(const std::string& worker_code) {
  if (category_->worker_copies.empty()) return 0;
  return copy_worker_info(*this, worker_code, category_->worker_copies, category_->department_name_to);
}

void sb1::dw_4_constructor() {
  drop_downs_.clear();
  for (const DropDownColumn& column : category_->drop_downs)
    drop_downs_.emplace_back(&column, bind_drop_down(dw_4(), column.column));
}

DataStore* sb1::drop_down_list(std::string_view column) const {
  for (const auto& [drop_down, list] : drop_downs_) {
    if (drop_down->column == column) return list;
  }
  return nullptr;
}

void sb1::dw_4_editchanged(long row, const std::string& column, const std::string& data) {
  for (const auto& [drop_down, list] : drop_downs_) {
    if (drop_down->column == column && drop_down->filter_code)
      of_filter_dddw(list, data, drop_down->filter_code, drop_down->filter_name);
  }
}

int sb1::dw_4_itemchanged(long row, const std::string& column, const std::string& data, const Value& value) {
  for (const auto& [drop_down, list] : drop_downs_) {
    if (drop_down->column == column && of_check_in_dddw(list, data, drop_down->check_code) == -1) return 1;
  }
  return 0;
}

void sb1::uf_all(const std::string& data) {
  for (const auto& [drop_down, list] : drop_downs_) {
    if (drop_down->filter_code) of_filter_dddw(list, data, drop_down->filter_code, drop_down->filter_name);
  }
}

int sb1::pfc_save() { return check_required(*this, category_->required, category_->required_title); }

void sb1::print_clicked() {
  if (category_->print) open_print_window(*this, category_->print->window);
}

int sb1::save_declaration() {
  if (dw_3().store().rowcount() == 0) return 0;
  if (refuses_change(DeclarationChange::Edit)) return -1;
  if (auto refused = record_.save_unit(dw_3().store(), pkid, author())) {
    report_save_refusal(*refused);
    return -1;
  }
  show_saved();
  widen_range_to(dw_3().store().getitem(1, "sb_date"));
  list_saved_declaration();
  return 1;
}

// A declaration dated outside the range shown would vanish from the list once saved: the range
// takes in its date instead.
void sb1::widen_range_to(const Value& date) {
  if (date.kind() != ValueKind::DateTime) return;
  const DateTime day = date.as_datetime().date();
  const auto from = DateTime::parse(control("em_1")->text);
  const auto to = DateTime::parse(control("em_2")->text);
  if (!from || !to) return;
  if (day < from->date()) control("em_1")->text = day.format("yyyy-mm-dd");
  if (day > to->date()) control("em_2")->text = day.format("yyyy-mm-dd");
}

// Saved; and when the declaration as saved would take the unit past its approved posts or
// establishment, the clerk is told so at once (a warning: the authority decides).
void sb1::show_saved() {
  const auto limits = exceeded_limits(session().sqlca(), *category_, pkid, company_num);
  session().set_status(limits.empty() ? std::string(kSavedStatus)
                                      : std::string(kSavedStatus) + "；" + std::string(kLimitsExceeded) +
                                            limit_lines(limits, "；"));
}

void sb1::pb_5_clicked() { save_declaration(); }

void sb1::pb_d_clicked() {
  if (lacks_declaration()) return;
  if (say(session(), HostMessage::ConfirmDeleteDeclaration) != 1) return;
  if (auto refused = record_.remove(pkid, company_num)) {
    report_write_refusal(session(), *refused, "删除失败！");
    return;
  }
  session().audit("delete-declaration", declaration_text());
  pkid.clear();
  dw_3().store().reset();
  dw_4().store().reset();
  session().set_status(kDeletedStatus);
  list_declarations();
  wf_rystate();
  wf_retrieve();
}

bool sb1::add_worker(const std::string& worker_code) {
  if (lacks_declaration() || refuses_change(DeclarationChange::Edit)) return false;
  DataStore& workers = dw_2().store();
  const long listed = workers.find_value("worker_code", Value(worker_code));
  if (listed <= 0) {
    say(session(), HostMessage::WorkerNotInUnit, worker_code);
    return false;
  }
  // Pending entries are saved (or dropped) first, so that a worker still being entered counts
  // as taken when the same worker is added again.
  if (!offer_to_save()) return false;
  std::vector<Value> found;
  if (session().sqlca().select_into("select worker_code from " + worker_table() +
                                        " where pkid = :id and company_num = :com and worker_code = :w",
                                    {Value(pkid), Value(company_num), Value(worker_code)}, found) == 0) {
    say(session(), HostMessage::WorkerAlreadyDeclared);
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
  session().set_status("已将" + workers.getitemstring(listed, "worker_name") + kWorkerAddedStatus);
  dw_4().setfocus();
  return true;
}

int sb1::save_worker() {
  if (lacks_declaration()) return -1;
  DataStore& worker = dw_4().store();
  if (worker.rowcount() == 0) return 0;
  if (refuses_change(DeclarationChange::Edit) || pfc_save() < 0) return -1;
  if (auto refused = record_.save_worker(worker, pkid, company_num, author())) {
    report_save_refusal(*refused);
    return -1;
  }
  show_saved();
  wf_rystate();
  return 1;
}

void sb1::pb_2_clicked() { save_worker(); }

void sb1::pb_del_clicked() {
  if (lacks_declaration()) return;
  DataStore& worker = dw_4().store();
  if (worker.rowcount() == 0) return;
  if (say(session(), HostMessage::ConfirmDeleteWorker) != 1) return;
  const std::string worker_code = worker.getitemstring(1, "worker_code");
  if (auto refused = record_.remove_worker(worker)) {
    report_write_refusal(session(), *refused, "删除失败！");
    return;
  }
  session().audit("delete-worker", std::string(category_->worker_table) + " pkid=" + pkid + " unit=" + company_num +
                                       " worker=" + worker_code);
  session().set_status(kDeletedStatus);
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
    say(session(), HostMessage::LetterMissing, letter.last_error());
    return;
  }
  letter.settransobject(&session().sqlca());
  letter.setsqlselect(with_tables(letter.def().retrieve_sql));
  if (letter.retrieve({Value(pkid), Value(company_num)}) <= 0) {
    say(session(), HostMessage::DeclarationMissing);
    return;
  }
  if (session().print_jobs().print_alone(letter, title + "申报函") < 0)
    say(session(), HostMessage::PrintFailed, session().print_jobs().last_error());
}

void sb1::pb_approve_clicked() {
  if (lacks_declaration()) return;
  // What is accepted is what is stored: entries still pending are saved (or dropped) first.
  if (!offer_to_save()) return;
  if (say(session(), HostMessage::ConfirmAccept) != 1) return;
  // The unit's approved posts and establishment, counted from the register as it is now: going
  // past them takes the authority's word, which the history keeps.
  std::string confirmed;
  if (const auto limits = exceeded_limits(session().sqlca(), *category_, pkid, company_num); !limits.empty()) {
    if (say(session(), HostMessage::LimitsExceeded, limit_lines(limits)) != 1) return;
    confirmed = std::string(kLimitsExceeded) + limit_lines(limits, "；") + "。已确认入库";
  }
  session().set_pointer_hourglass(true);
  const auto outcome = record_.accept(pkid, company_num, author(), [this] { return uf_approve(1); }, confirmed);
  session().set_pointer_hourglass(false);
  const std::string declaration = declaration_text();
  switch (outcome.result) {
    case DeclarationRecord::Acceptance::Accepted:
      session().audit("approve", declaration + ": accepted");
      lock_forms();
      list_declarations();
      session().set_status(kAcceptedStatus);
      say(session(), HostMessage::Accepted);
      return;
    case DeclarationRecord::Acceptance::Refused:
      lock_forms();
      return;
    case DeclarationRecord::Acceptance::Failed:
      session().audit("approve", declaration + ": failed: " + outcome.reason);
      say(session(), HostMessage::AcceptFailed, outcome.reason);
      return;
  }
}

void sb1::pb_return_clicked() {
  if (lacks_declaration()) return;
  const std::string reason = session().open_modal(w_sb_return::kClassName);
  if (reason.empty()) return;  // cancelled
  if (auto refused = record_.gate().give_back(record_.key(pkid, company_num), reason)) {
    report_write_refusal(session(), *refused, "退回失败！");
    lock_forms();
    return;
  }
  session().audit("return", declaration_text() + ": " + reason);
  lock_forms();
  list_declarations();
  say(session(), HostMessage::Returned);
  session().set_status(kReturnedStatus + reason);
}

void sb1::pb_preview_accept_clicked() {
  if (!session().user().has_right(kAcceptRight)) {
    say(session(), HostMessage::PreviewRightMissing);
    return;
  }
  if (lacks_declaration()) return;
  AcceptPreview preview{record_.key(pkid, company_num)};
  Transaction& sqlca = session().sqlca();
  if (record_.is_accepted(pkid, company_num)) {
    preview.accepted = true;
    preview.changes = register_changes(sqlca, latest_acceptance(sqlca, preview.declaration));
  } else {
    // The acceptance is run and rolled back: the preview is what it would write now.
    session().set_pointer_hourglass(true);
    const auto outcome = record_.rehearse_acceptance(pkid, company_num, author(), [this] { return uf_approve(1); },
                                                     [&](long long step) { preview.changes = register_changes(sqlca, step); });
    session().set_pointer_hourglass(false);
    if (outcome.result == DeclarationRecord::Acceptance::Refused) return;
    if (outcome.result == DeclarationRecord::Acceptance::Failed) {
      say(session(), HostMessage::PreviewFailed, outcome.reason);
      return;
    }
    // The limits the acceptance would exceed come first, then the workers whose register
    // record changed since they were added.
    std::vector<RegisterChange> first;
    for (const ExceededLimit& limit : exceeded_limits(sqlca, *category_, pkid, company_num))
      first.push_back({"", "", "核定职数或编制", limit.what, "核定" + std::to_string(limit.limit),
                       "入库后" + std::to_string(limit.after), std::string(kLimitMark)});
    std::vector<RegisterChange> drift = register_drift(*this);
    first.insert(first.end(), drift.begin(), drift.end());
    preview.changes.insert(preview.changes.begin(), first.begin(), first.end());
  }
  session().message.powerobjectparm = std::move(preview);
  session().open_modal(w_sb_accept_preview::kClassName);
}

void sb1::pb_reverse_clicked() {
  if (lacks_declaration()) return;
  session().message.powerobjectparm = ReasonRequest{"撤销入库", "撤销入库的原因："};
  const std::string reason = session().open_modal(w_sb_return::kClassName);
  if (reason.empty()) return;  // cancelled
  session().set_pointer_hourglass(true);
  const auto refused = record_.gate().reverse(record_.key(pkid, company_num), reason);
  session().set_pointer_hourglass(false);
  if (refused) {
    // The rows that stand in the way are the whole message.
    if (refused->code == RefusalCode::Conflict) session().message_box("提示", refused->text, Icon::StopSign);
    else report_write_refusal(session(), *refused, host_message_text(HostMessage::ReverseFailed));
    lock_forms();
    return;
  }
  session().audit("reverse", declaration_text() + ": " + reason);
  lock_forms();
  list_declarations();
  session().set_status(kReversedStatus);
  say(session(), HostMessage::Reversed);
}

void sb1::pb_history_clicked() {
  if (lacks_declaration()) return;
  session().message.powerobjectparm = record_.key(pkid, company_num);
  session().open_modal(w_sb_history::kClassName);
}

}  // namespace shenbao
