#include "framework/declaration/w_sb_inbox.h"

#include <algorithm>

#include "framework/declaration/declaration_history.h"
#include "framework/declaration/list_window.h"
#include "framework/host/structures.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/windows/session.h"

namespace shenbao {
namespace {

// The declarations of a category's unit table that wait for acceptance: submitted, and no
// acceptance recorded for them.
std::string waiting_where(const CategoryDescriptor& c) {
  const std::string unit = c.unit_table;
  return "t.state = 1 and not exists (select 1 from rs_sb_approval a where a.table_name = '" + unit +
         "' and a.pkid = t.pkid and a.company_num = t.company_num)";
}

// The declaration's rows of sb_history with one of the steps (codes are the program's own).
std::string history_of(const CategoryDescriptor& c, std::initializer_list<DeclarationStep> steps) {
  std::string codes;
  for (DeclarationStep step : steps) codes += (codes.empty() ? "'" : ", '") + std::string(step_code(step)) + "'";
  return "from sb_history h where h.table_name = '" + std::string(c.unit_table) +
         "' and h.pkid = t.pkid and h.company_num = t.company_num and h.step in (" + codes + ")";
}

// One category's part of the inbox. Table names and captions come from the descriptors, never
// from a user. The history figures are correlated subqueries that the history's index
// (table_name, pkid, company_num, pk_id) answers for each declaration.
std::string category_select(const CategoryDescriptor& c) {
  const std::string unit = c.unit_table;
  const std::string worker = c.worker_table;
  const std::string class_name = c.class_name;
  return "select '" + class_name + "|' || t.company_num || '|' || t.pkid as inbox_key, '" + class_name +
         "' as class_name, t.company_num, u.company_name, '" + c.caption + "' as category, t.pkid, " +
         "coalesce((select h.at " + history_of(c, {DeclarationStep::Submitted, DeclarationStep::Resubmitted}) +
         " order by h.pk_id desc limit 1), t.sb_date) as submitted_at, 0 as waiting_days, " +
         "(select count(*) " + history_of(c, {DeclarationStep::Returned}) + ") as returned, t.sbr, " +
         "(select count(*) from " + worker + " w where w.pkid = t.pkid and w.company_num = t.company_num) as workers " +
         "from " + unit + " t left join rs_info_company u on u.company_num = t.company_num where " + waiting_where(c);
}

// The whole list under the filters, which are bound: the category (kAllCategories: every one);
// the unit (unit_all = 1: every unit), by the start of its number, a part of its name, or
// the comma-framed list of units the browser found by initials (",001,002,"); the days
// (days_all = 1: any), as the time before which it must have been submitted.
std::string inbox_select(const std::vector<const CategoryDescriptor*>& categories) {
  std::string all;
  for (const CategoryDescriptor* category : categories) all += (all.empty() ? "" : " union all ") + category_select(*category);
  return "select * from (" + all + ") x where (:category = '" + std::string(w_sb_inbox::kAllCategories) +
         "' or x.class_name = :category) and (:unit_all = 1 or x.company_num like :unit_start escape '!' " +
         "or x.company_name like :unit_part escape '!' or :unit_list like ('%,' || x.company_num || ',%')) " +
         "and (:days_all = 1 or x.submitted_at < :submitted_before) order by x.submitted_at, x.inbox_key";
}

long whole_days(DateTime from, DateTime to) {
  return static_cast<long>((to.date().seconds_since_epoch() - from.date().seconds_since_epoch()) / 86400);
}

constexpr size_t kMostInitialsUnits = 5000;
constexpr const char* kUnitsGesture = "units";

}  // namespace

w_sb_inbox::w_sb_inbox(Session& session, std::vector<const CategoryDescriptor*> categories)
    : Window(session, kClassName), categories_(std::move(categories)) {
  title = kCaption;
  width = 1000;
  height = 640;
  FormControl& filter = add_form("dw_filter", 8, 8, 0, 32);
  filter.entries_only = true;
  filter.role.initials_gesture = kUnitsGesture;
  filter.role.initials_column = "unit";
  filter.itemchanged = [this](long, const std::string& column, const std::string&, const Value& value) {
    return dw_filter_itemchanged(column, value);
  };
  add_control(ControlKind::Button, "pb_reset", "重置(&C)", 0, 8, 86, 28).clicked = [this] { pb_reset_clicked(); };
  FormControl& list = add_form("dw_1", 8, 48, 0, 0);
  list.role.gesture = "open";
  list.role.gesture_column = "inbox_key";
  add_control(ControlKind::Button, "pb_refresh", "刷新(&R)", 0, 0, 96, 28).clicked = [this] { pb_refresh_clicked(); };
  Control& open = add_control(ControlKind::Button, "pb_open", "打开申报(&O)", 0, 0, 110, 28);
  open.clicked = [this] { pb_open_clicked(); };
  open.role.accent = true;
  // The browser's gesture, as a function the host and tests call by name: it answers the
  // number of declarations listed.
  define_function("uf_filter_unit", [this](const std::vector<std::string>& args) -> Result<Value> {
    if (auto refused = gesture(kUnitsGesture, args)) return *refused;
    return Value(form("dw_1")->store().rowcount());
  });
}

void w_sb_inbox::open() {
  FormControl& filter = *form("dw_filter");
  filter.set_dataobject("d_sb_inbox_filter");
  if (DataStore* choices = filter.store().getchild("category")) {
    choices->reset();
    auto add = [&](const std::string& class_name, const std::string& caption) {
      const long row = choices->insertrow(0);
      choices->setitem_as_retrieved(row, "class_name", Value(class_name));
      choices->setitem_as_retrieved(row, "caption", Value(caption));
    };
    add(kAllCategories, "全部");
    for (const CategoryDescriptor* category : categories_) add(category->class_name, category->caption);
    choices->reset_update_flags();
  }
  filter.store().insertrow(0);
  filter.store().setitem(1, "category", Value(std::string(kAllCategories)));
  filter.store().reset_update_flags();

  FormControl& list = *form("dw_1");
  list.set_dataobject("d_sb_inbox");
  list.store().setsqlselect(inbox_select(categories_));
  this->list();
  resize(width, height);
}

void w_sb_inbox::list() {
  DataStore& filter = form("dw_filter")->store();
  const std::string category = filter.getitemstring(1, "category");
  const std::string unit = trimmed(filter.getitemstring(1, "unit"));
  const Value days = filter.getitem(1, "days");
  std::string unit_list = ",";
  for (const std::string& code : initials_units_) unit_list += code + ",";
  const DateTime today = session().today().date();
  const long least_days = days.is_null() ? 0 : static_cast<long>(days.as_long());
  DataStore& store = form("dw_1")->store();
  const long rows = store.retrieve({
      Value(category.empty() ? std::string(kAllCategories) : category),
      Value(int64_t{unit.empty() ? 1 : 0}),
      Value(like_escaped(unit) + "%"),
      Value("%" + like_escaped(unit) + "%"),
      Value(unit_list),
      Value(int64_t{days.is_null() ? 1 : 0}),
      Value(today.plus_days(1 - static_cast<int>(std::min(least_days, 100000L)))),
  });
  if (rows < 0) {
    session().message_box("提示", "读取待审核申报失败！\n" + store.last_error(), Icon::StopSign);
    return;
  }
  // Whole days from the submission to the session's today; the list is read-only, so the
  // figure is set as read, not as an edit.
  for (long row = 1; row <= rows; ++row) {
    const Value submitted = store.getitem(row, "submitted_at");
    store.setitem_as_retrieved(row, "waiting_days",
                               submitted.is_null() ? Value() : Value(int64_t{whole_days(submitted.as_datetime(), today)}));
  }
  session().set_status("待审核申报 " + std::to_string(rows) + " 件");
  session().refresh_menu();
}

int w_sb_inbox::dw_filter_itemchanged(const std::string& column, const Value& value) {
  // The list follows the new value at once (the form then stores it as well).
  DataStore& filter = form("dw_filter")->store();
  filter.setitem_as_retrieved(1, column, value);
  if (column == "unit") initials_units_.clear();
  list();
  return 0;
}

bool w_sb_inbox::filter_unit(const std::string& text, std::vector<std::string> initials_units) {
  DataStore& filter = form("dw_filter")->store();
  if (filter.setitem_as_retrieved(1, "unit", text.empty() ? Value() : Value(text)) < 0) return false;
  initials_units_.clear();
  // A unit's number (at most 20 characters) has no comma: the list of them is comma-framed.
  for (std::string& code : initials_units)
    if (!code.empty() && code.size() <= 20 && code.find(',') == std::string::npos) initials_units_.push_back(std::move(code));
  list();
  return true;
}

void w_sb_inbox::pb_reset_clicked() {
  DataStore& filter = form("dw_filter")->store();
  filter.setitem_as_retrieved(1, "category", Value(std::string(kAllCategories)));
  filter.setitem_as_retrieved(1, "unit", Value());
  filter.setitem_as_retrieved(1, "days", Value());
  initials_units_.clear();
  list();
}

std::map<std::string, long> w_sb_inbox::waiting_counts(Transaction& sqlca,
                                                       const std::vector<const CategoryDescriptor*>& categories) {
  std::map<std::string, long> counts;
  std::string sql;
  for (const CategoryDescriptor* c : categories) {
    counts[c->class_name] = -1;
    sql += (sql.empty() ? "" : " union all ") + std::string("select '") + c->class_name + "', count(*) from " +
           c->unit_table + " t where " + waiting_where(*c);
  }
  if (sql.empty()) return counts;
  sqlca.query(sql, {}, [&](const ResultRow& row) {
    counts[row.get(0).to_string()] = static_cast<long>(row.get(1).as_long());
    return true;
  });
  return counts;
}

void w_sb_inbox::resize(int new_width, int new_height) {
  width = new_width;
  height = new_height;
  FormControl& filter = *form("dw_filter");
  FormControl& list = *form("dw_1");
  Control& reset = *control("pb_reset");
  Control& open = *control("pb_open");
  Control& refresh = *control("pb_refresh");
  reset.x = width - reset.width - 8;
  filter.width = reset.x - filter.x - 8;
  open.x = width - open.width - 8;
  open.y = height - open.height - 8;
  refresh.x = open.x - refresh.width - 8;
  refresh.y = open.y;
  list.width = width - 16;
  list.height = open.y - list.y - 8;
}

void w_sb_inbox::pb_refresh_clicked() { list(); }

void w_sb_inbox::activate() {
  DataStore& store = form("dw_1")->store();
  const long row = store.getrow();
  const std::string key = row >= 1 && row <= store.rowcount() ? store.getitemstring(row, "inbox_key") : std::string();
  list();
  if (key.empty()) return;
  if (const long again = store.find_value("inbox_key", Value(key)); again > 0) store.setrow(again);
}
void w_sb_inbox::pb_open_clicked() {
  DataStore& store = form("dw_1")->store();
  const long row = store.getrow();
  if (row < 1 || row > store.rowcount()) {
    session().message_box("提示", "请先选择一件申报！", Icon::Information);
    return;
  }
  open_declaration(store.getitemstring(row, "inbox_key"));
}

std::optional<Refusal> w_sb_inbox::gesture(std::string_view name, const std::vector<std::string>& args) {
  if (name == kUnitsGesture) {
    if (args.empty() || args.size() > kMostInitialsUnits + 1)
      return Refusal::technical(RefusalCode::BadRequest, std::string(kUnitsGesture) + " takes the text and at most " +
                                                             std::to_string(kMostInitialsUnits) + " units");
    if (!filter_unit(args[0], {args.begin() + 1, args.end()}))
      return Refusal::for_user(RefusalCode::InvalidEntry, "单位名称过长", "the unit filter takes at most 50 characters");
    return std::nullopt;
  }
  if (name != "open" || args.size() != 1) return Window::gesture(name, args);
  open_declaration(args[0]);
  return std::nullopt;
}

void w_sb_inbox::open_declaration(const std::string& inbox_key) {
  // Only a declaration the list holds is opened: the key is looked up, not trusted.
  DataStore& store = form("dw_1")->store();
  const long row = store.find_value("inbox_key", Value(inbox_key));
  if (row < 1) {
    session().message_box("提示", "该申报已不在待审核之列，请刷新！", Icon::Information);
    return;
  }
  store.setrow(row);
  session().message.powerobjectparm = s_com{store.getitemstring(row, "company_num"), store.getitemstring(row, "pkid")};
  session().open_sheet(store.getitemstring(row, "class_name"));
}

}  // namespace shenbao
