#include "framework/runtime/forms/sheet_export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "app/command_table.h"
#include "app/database_setup.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {
namespace {

using nlohmann::json;

std::string repeated(std::string_view piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// The workbook at `path` as openpyxl reads it (tests/xlsx_cells.py, with Debian's python3 and
// its python3-openpyxl).
json read_back(const std::string& path) {
  const std::string command = "/usr/bin/python3 " SHENBAO_SOURCE_DIR "/tests/xlsx_cells.py '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return nullptr;
  std::string out;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  if (pclose(pipe) != 0) return nullptr;
  return json::parse(out, nullptr, false);
}

// A list of 400 workers with every kind of cell a list shows: a hidden column, columns whose
// order on screen is not their order in the definition, a code shown by its name, a date, a
// date-time, a rate shown as a percentage, a computed field captioned by the header over it,
// a check box, and a long remark. The name's own caption is hidden, as a script that lays out
// a report hides the generated captions, and the one written over it stands nearer than the
// title. The first rows hold the awkward values.
class WorkerListWindow : public Window {
 public:
  explicit WorkerListWindow(Session& session) : Window(session, "w_worker_list") {
    title = "人员名单:2009";
    DataStore& store = add_form("dw_1", 0, 0, 800, 300).store();
    const std::string error = store.create(R"syntax(form(name=d_worker_probe style=grid)
header(height=24)
detail(height=24)
column(name=remark type=char(40000) x=700 y=0 width=200 height=20)
column(name=worker_code type=char(20) x=4 y=0 width=60 height=20 visible=0)
column(name=worker_name type=char(20) x=100 y=0 width=80 height=20)
column(name=sex type=char(10) x=200 y=0 width=50 height=20 edit=dropdown dddw.name=d_select_sex dddw.data=sex_code dddw.display=sex_name)
column(name=birthday type=date x=300 y=0 width=80 height=20)
column(name=updated type=datetime x=400 y=0 width=120 height=20 format="yyyy-mm-dd hh:mm:ss")
column(name=rate type=number x=500 y=0 width=60 height=20 format="0.00%")
compute(name=double_rate band=detail x=560 y=0 width=60 height=20 expression="rate * 2" format="0.00")
column(name=submitted type=long x=640 y=0 width=40 height=20 edit=checkbox checkbox.on=1 checkbox.off=0)
text(name=worker_code_t band=header x=4 y=0 width=60 height=20 text="编号")
text(name=title_t band=header x=95 y=0 width=400 height=20 text="人员名单")
text(name=worker_name_t band=header x=100 y=0 width=80 height=20 text="worker_name" visible=0)
text(name=t_2 band=header x=101 y=0 width=80 height=20 text="姓名")
text(name=sex_t band=header x=200 y=0 width=50 height=20 text="性别")
text(name=birthday_t band=header x=300 y=0 width=80 height=20 text="出生日期")
text(name=updated_t band=header x=400 y=0 width=120 height=20 text="更新时间")
text(name=rate_t band=header x=500 y=0 width=60 height=20 text="比例")
text(name=t_7 band=header x=562 y=0 width=60 height=20 text="两倍")
text(name=submitted_t band=header x=640 y=0 width=40 height=20 text="上报")
text(name=remark_t band=header x=700 y=0 width=200 height=20 text="备注")
)syntax");
    if (!error.empty()) throw std::runtime_error(error);
    DataStore& sexes = *store.getchild("sex");
    for (auto [code, name] : {std::pair{"1", "男"}, std::pair{"2", "女"}}) {
      const long r = sexes.insertrow(0);
      sexes.setitem(r, "sex_code", Value(std::string(code)));
      sexes.setitem(r, "sex_name", Value(std::string(name)));
    }
    for (int i = 1; i <= kRows; ++i) {
      const long r = store.insertrow(0);
      char code[16];
      std::snprintf(code, sizeof code, "9%06d", i);
      store.setitem(r, "worker_code", Value(std::string(code)));
      store.setitem(r, "worker_name", Value("name" + std::to_string(i)));
      store.setitem(r, "sex", Value(std::string(i % 2 ? "1" : "2")));
      store.setitem(r, "birthday", Value(DateTime::from_civil(1960 + i % 40, 1 + i % 12, 1 + i % 28)));
      store.setitem(r, "updated", Value(DateTime::from_civil(2009, 6, 15, i % 24, 30, 5)));
      store.setitem(r, "rate", Value(i / 1000.0));
      store.setitem(r, "submitted", Value(int64_t{i % 3 == 0}));
      store.setitem(r, "remark", Value("备注 " + std::to_string(i)));
    }
    // The awkward values.
    store.setitem(1, "worker_name", Value(std::string("O'Brien")));
    store.setitem(1, "remark", Value(std::string("=SUM(A1:A2)")));
    store.setitem(2, "worker_name", Value(std::string("+86 123")));
    store.setitem(2, "remark", Value(std::string("-1")));
    store.setitem(2, "birthday", Value());
    store.setitem(2, "rate", Value());
    store.setitem(2, "sex", Value());
    store.setitem(3, "worker_name", Value(std::string("@home")));
    store.setitem(3, "sex", Value(std::string("9")));  // not in the list: shown as its code
    store.setitem(3, "remark", Value(repeated("申", 32000)));
    store.setitem(4, "worker_name", Value(std::string("'quoted'")));
    store.setitem(4, "remark", Value(repeated("a", 40000)));
    store.setitem(5, "remark", Value(std::string("第一行\n第二行")));
    store.setrow(1);
  }
  static constexpr int kRows = 400;
};

class SheetExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.add("w_worker_list", [](Session& s) { return std::make_unique<WorkerListWindow>(s); });
    base_ = std::filesystem::temp_directory_path() / ("shenbao_sheet_export_" + std::to_string(getpid()));
    std::filesystem::create_directories(base_);
    Session::Options options;
    options.database_url = "sqlite:" + (base_ / "app.db").string();
    options.user = {"clerk001", "001", {"file"}};
    options.registry = &registry_;
    options.print_folder = (base_ / "print").string();
    std::string error;
    session_ = Session::start(std::move(options), error);
    ASSERT_TRUE(session_) << error;
    ASSERT_TRUE(session_->post({.kind = "open", .target = "w_worker_list"}).ok());
  }
  void TearDown() override {
    session_.reset();
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }

  // The list as the session shows it: every row's shown values and stored codes.
  json shown_form() const {
    const json state = session_->state();
    for (const auto& control : state["sheets"][0]["controls"])
      if (control["name"] == "dw_1") return control["form"];
    return nullptr;
  }

  WindowRegistry registry_;
  std::filesystem::path base_;
  std::unique_ptr<Session> session_;
};

TEST_F(SheetExportTest, WritesEveryRowAsTheListShowsIt) {
  const std::string path = (base_ / "list.xlsx").string();
  const auto written = session_->export_list("dw_1", path);
  ASSERT_TRUE(written) << written.refusal().describe();
  EXPECT_EQ(written->rows, WorkerListWindow::kRows);
  EXPECT_EQ(written->window_class, "w_worker_list");

  const json sheet = read_back(path);
  ASSERT_TRUE(sheet.is_object()) << "openpyxl could not read the workbook";
  EXPECT_EQ(sheet["sheets"], json::array({"人员名单 2009"}));
  EXPECT_EQ(sheet["freeze"], "A2") << "the header row stays in view";

  // Shown columns only, in their order on screen, captioned as on screen.
  const std::vector<std::string> captions = {"姓名", "性别", "出生日期", "更新时间", "比例", "两倍", "上报", "备注"};
  const json& rows = sheet["rows"];
  ASSERT_EQ(rows.size(), static_cast<size_t>(WorkerListWindow::kRows + 1)) << "every row, not the client's window";
  ASSERT_EQ(rows[0].size(), captions.size());
  for (size_t c = 0; c < captions.size(); ++c) EXPECT_EQ(rows[0][c]["v"], captions[c]) << "caption " << c;

  const json form = shown_form();
  ASSERT_EQ(form["rows"].size(), static_cast<size_t>(WorkerListWindow::kRows));
  auto column = [&](const std::string& name) {
    for (size_t i = 0; i < form["columns"].size(); ++i)
      if (form["columns"][i]["name"] == name) return i;
    ADD_FAILURE() << "no column " << name;
    return size_t{0};
  };
  for (size_t r = 0; r < form["rows"].size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r + 1));
    const json& shown = form["rows"][r];
    const json& cells = rows[r + 1];
    ASSERT_GE(cells.size(), 7u);
    auto expect_text = [&](size_t at, const std::string& name) {
      const std::string value = shown["values"][column(name)];
      if (value.empty()) {
        EXPECT_EQ(cells[at]["t"], "e") << name;
      } else {
        EXPECT_EQ(cells[at]["t"], "s") << name << ": a text, never a formula";
        EXPECT_EQ(cells[at]["v"], value) << name;
      }
    };
    expect_text(0, "worker_name");
    expect_text(1, "sex");  // the name of the code
    const json& birthday = shown["codes"][column("birthday")];
    if (birthday.is_null()) {
      EXPECT_EQ(cells[2]["t"], "e");
    } else {
      EXPECT_EQ(cells[2]["t"], "d");
      EXPECT_EQ(cells[2]["v"], birthday.get<std::string>() + " 00:00:00");
      EXPECT_EQ(cells[2]["f"], "yyyy-mm-dd");
    }
    EXPECT_EQ(cells[3]["t"], "d");
    EXPECT_EQ(cells[3]["v"], shown["codes"][column("updated")]);
    EXPECT_EQ(cells[3]["f"], "yyyy-mm-dd hh:mm:ss");
    const json& rate = shown["codes"][column("rate")];
    if (rate.is_null()) {
      EXPECT_EQ(cells[4]["t"], "e");
      EXPECT_EQ(cells[5]["t"], "e");
    } else {
      EXPECT_EQ(cells[4]["t"], "n");
      EXPECT_DOUBLE_EQ(cells[4]["v"].get<double>(), rate.get<double>());
      EXPECT_EQ(cells[4]["f"], "0.00%") << "shown as " << shown["values"][column("rate")];
      EXPECT_EQ(cells[5]["t"], "n");
      EXPECT_DOUBLE_EQ(cells[5]["v"].get<double>(), rate.get<double>() * 2);
      EXPECT_EQ(cells[5]["f"], "0.00");
    }
    EXPECT_EQ(cells[6]["v"], shown["codes"][column("submitted")] == 1 ? "是" : "否");
    if (r != 3) expect_text(7, "remark");
  }
  EXPECT_EQ(rows[2][4]["t"], "e") << "an empty rate is an empty cell";
  EXPECT_EQ(rows[3][1]["v"], "9") << "a code missing from its list shows itself";
  EXPECT_EQ(rows[1][7]["v"], "=SUM(A1:A2)");
  EXPECT_EQ(rows[3][7]["v"].get<std::string>().size(), 32000u * 3) << "32,000 characters fit a cell whole";
  const std::string cut = rows[4][7]["v"];
  EXPECT_EQ(cut, repeated("a", kCellTextLimit - 5) + std::string(kCutMark)) << "a longer text is cut with a mark";

  // Widths fit the widest text, a wide character counting two, within bounds.
  // (The file holds each width plus the padding a spreadsheet adds to every column, 0.71.)
  auto width = [&](const char* column) { return std::floor(sheet["widths"][column].get<double>()); };
  EXPECT_EQ(width("A"), 8 + 2) << "姓名: \"'quoted'\" is the widest, 8";
  EXPECT_EQ(width("B"), 6) << "性别: narrow columns keep a least width";
  EXPECT_EQ(width("C"), 10 + 2) << "出生日期: a date is 10 wide";
  EXPECT_EQ(width("H"), 60) << "备注: a long text does not widen its column without end";
}

TEST_F(SheetExportTest, RefusesAListTheWindowDoesNotHave) {
  const auto written = session_->export_list("dw_9", (base_ / "none.xlsx").string());
  ASSERT_FALSE(written);
  EXPECT_EQ(written.refusal().code, RefusalCode::BadRequest);
  EXPECT_FALSE(std::filesystem::exists(base_ / "none.xlsx"));
}

// `shenbao export`: exit 0 with the list written as a window shows it, 2 for a wrong command
// line, 1 when the form or the database fails.
TEST_F(SheetExportTest, ExportCommand) {
  const std::string db = (base_ / "fixture.db").string();
  std::vector<std::string> names;
  {
    std::string error;
    auto sqlca = Transaction::open("sqlite:" + db, error);
    ASSERT_TRUE(sqlca) << error;
    ASSERT_TRUE(create_database(*sqlca, true, "", error)) << error;
    DataStore names_list;
    names_list.set_dataobject("d_worker_list");
    names_list.settransobject(sqlca.get());
    ASSERT_GT(names_list.retrieve({Value(std::string("001"))}), 0);
    for (long r = 1; r <= names_list.rowcount(); ++r) names.push_back(names_list.getitemstring(r, "worker_name"));
  }
  const std::string file = (base_ / "workers.xlsx").string();
  static const struct {
    std::vector<std::string> args;
    int exit;
  } cases[] = {
      {{db, "d_worker_list", "001", "--xlsx", file}, 0},
      {{db, "d_worker_list", "001"}, 2},
      {{db, "d_worker_list", "--xlsx", file}, 2},
      {{db, "d_worker_list", "001", "--xlsx", file, "--unit", "001"}, 2},  // no company_num to choose by
      {{db, "d_no_such_list", "--xlsx", file}, 1},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE("export" + line);
    std::filesystem::remove(file);
    EXPECT_EQ(export_command(c.args), c.exit);
    EXPECT_EQ(std::filesystem::exists(file), c.exit == 0);
    if (c.exit != 0 || !std::filesystem::exists(file)) continue;
    const json sheet = read_back(file);
    ASSERT_TRUE(sheet.is_object());
    EXPECT_EQ(sheet["rows"][0], json::parse(R"([{"t":"s","v":"编号"},{"t":"s","v":"姓名"},{"t":"s","v":"状态"}])"));
    ASSERT_EQ(sheet["rows"].size(), names.size() + 1);
    for (size_t r = 0; r < names.size(); ++r) EXPECT_EQ(sheet["rows"][r + 1][1]["v"], names[r]) << "row " << r + 1;
  }
}

TEST(SheetName, KeepsToTheSheetNameRules) {
  static const struct {
    const char* title;
    const char* name;
  } cases[] = {
      {"职位职数上报", "职位职数上报"},
      {"a/b\\c?d*e[f]g:h", "a b c d e f g h"},
      {"'引号'", "引号"},
      {"", "Sheet1"},
      {"[]", "Sheet1"},
      {"一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三", "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一"},
  };
  for (const auto& c : cases) EXPECT_EQ(sheet_name(c.title), c.name) << "title " << c.title;
}

TEST(CellText, CutsOnlyWhatDoesNotFit) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  static const struct {
    const char* what;
    std::string text;
    std::string cell;
  } cases[] = {
      {"short", "abc", "abc"},
      {"exactly the limit", repeated("a", kCellTextLimit), repeated("a", kCellTextLimit)},
      {"one over", repeated("a", kCellTextLimit + 1), repeated("a", kCellTextLimit - 5) + std::string(kCutMark)},
      {"wide characters count once", repeated("申", kCellTextLimit), repeated("申", kCellTextLimit)},
      {"a character beyond the BMP counts twice", repeated(emoji, kCellTextLimit / 2 + 1),
       repeated(emoji, (kCellTextLimit - 5) / 2) + std::string(kCutMark)},
  };
  for (const auto& c : cases) EXPECT_EQ(cell_text(c.text), c.cell) << c.what;
}

TEST(DisplayWidth, CountsWideCharactersTwiceAndTheLongestLine) {
  static const struct {
    const char* text;
    size_t width;
  } cases[] = {{"", 0}, {"abc", 3}, {"职位", 4}, {"职位ab", 6}, {"ab\n职位职数", 8}, {"（全角）", 8}};
  for (const auto& c : cases) EXPECT_EQ(display_width(c.text), c.width) << c.text;
}

}  // namespace
}  // namespace shenbao
