// Printed reports: layout dumps compared with golden files (tests/golden/*.txt; run with
// SHENBAO_UPDATE_GOLDEN=1 to rewrite them), PDFs read back with pdftotext, PNG pages written
// to test-artifacts/print/ for looking at, and the print jobs of a session.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/command_table.h"
#include "app/database_setup.h"
#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/reports/print_job.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/sql/transaction.h"

namespace shenbao {
namespace {

namespace fs = std::filesystem;

const std::string kSource = SHENBAO_SOURCE_DIR;
const std::string kGolden = kSource + "/tests/golden";
const std::string kArtifacts = kSource + "/test-artifacts/print";

constexpr const char* kSchema = R"(
create table t_property (code varchar(10) primary key, name varchar(40));
create table t_sex (code varchar(2) primary key, name varchar(10));
create table t_unit (pkid varchar(20), company_num varchar(20), company_name varchar(100), sb_date varchar(19),
  bz_mans integer, now_mans integer, company_property varchar(10), rate double precision, confirmed integer,
  sbsm varchar(200), primary key (pkid, company_num));
create table t_worker (company_num varchar(20), worker_code varchar(10), worker_name varchar(20), sex varchar(2),
  birthday varchar(19), salary numeric(12, 2), party integer, primary key (company_num, worker_code));
create table t_train (pkid varchar(20), worker_code varchar(10), worker_name varchar(20), xf01 integer,
  xf02 integer, xf03 integer);
insert into t_property values ('1', '行政机关');
insert into t_property values ('2', '事业单位');
insert into t_sex values ('1', '男');
insert into t_sex values ('2', '女');
insert into t_unit values ('2009001', 'C01', '某某县人事局', '2009-06-15 00:00:00', 12, 14, '1', 0.8567, 1,
  '因机构调整，申请增加副调研员职数一名，并相应调整县处级副职职数。申报说明较长时在框内换行，不得超出框线，也不得与其他文字重叠。');
insert into t_unit values ('2009002', 'C01', '某某县财政局', '2009-07-01 00:00:00', 20, 18, '2', 0.9, 0, null);
insert into t_train values ('2009001', '0001', '王玥', 2, 0, null);
insert into t_train values ('2009001', '0002', '李珺', 1, 3, 2);
insert into t_train values ('2009001', '0003', '张堃', null, null, 4);
)";

// Forty workers with names that need more than GB2312 (玥 珺 堃 喆 赟 镕).
void insert_workers(Transaction& sqlca) {
  const char* surnames[] = {"王", "李", "张", "刘", "陈", "杨", "赵", "黄"};
  const char* given[] = {"玥", "珺", "堃", "喆", "赟", "镕", "建国", "秀英", "志强", "丽华"};
  for (int i = 1; i <= 40; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%04d", i);
    const std::string name = std::string(surnames[i % 8]) + given[i % 10];
    const DateTime birthday = DateTime::from_civil(1960 + i % 30, 1 + i % 12, 1 + i % 28);
    sqlca.execute("insert into t_worker values ('C01', :code, :name, :sex, :birthday, :salary, :party)",
                  {Value(code), Value(name), Value(i % 2 ? "1" : "2"), Value(birthday.to_sql_text()),
                   Value(2800.0 + i * 123.45), Value(i % 3 == 0 ? 1 : 0)});
  }
}

bool update_golden() {
  const char* v = std::getenv("SHENBAO_UPDATE_GOLDEN");
  return v && std::string(v) == "1";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool have_program(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Output of a command, or "" when it fails.
std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

std::string without_blanks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '\n' && c != '\t' && c != '\f' && c != '\r') out += c;
  return out;
}

std::vector<const ReportItem*> items_named(const ReportPage& page, std::string_view name) {
  std::vector<const ReportItem*> out;
  for (const ReportItem& item : page.items)
    if (item.name == name) out.push_back(&item);
  return out;
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    sqlca_ = Transaction::open("sqlite::memory:", error);
    ASSERT_TRUE(sqlca_) << error;
    ASSERT_EQ(sqlca_->execute_script(kSchema), 0) << sqlca_->sqlerrtext;
    insert_workers(*sqlca_);
    ASSERT_EQ(sqlca_->commit(), 0) << sqlca_->sqlerrtext;
    options_.library = &library_;
  }

  std::unique_ptr<DataStore> retrieved(std::string_view form, const std::vector<Value>& arguments) {
    auto store = std::make_unique<DataStore>(library_);
    EXPECT_GE(store->set_dataobject(form), 0) << store->last_error();
    store->settransobject(sqlca_.get());
    EXPECT_GE(store->retrieve(arguments), 0) << store->last_error();
    return store;
  }

  ReportPages lay_out(const DataStore& store) {
    ReportPages pages = layout_report(store, options_);
    EXPECT_TRUE(pages.warnings.empty()) << pages.warnings.front();
    return pages;
  }

  // The training list of the declaration, generated at run time: a tabular report from a
  // SELECT, then ruled lines, captions and a tick per subject created by modify.
  ReportPages generated_report() {
    std::string error;
    const std::string syntax = syntax_from_sql(
        *sqlca_, "select worker_name, xf01, xf02, xf03 from t_train where pkid = '2009001' order by worker_code",
        "style(type=tabular)", error);
    EXPECT_TRUE(error.empty()) << error;
    DataStore store(library_);
    EXPECT_EQ(store.create(syntax), "");
    store.settransobject(sqlca_.get());
    const int h = 60, s = 6, name_w = 100, subject_w = 90, x0 = 20;
    const char* subjects[] = {"公共服务", "公共政策", "公共经济"};
    auto line = [](const char* band, int x1, int y1, int x2, int y2, const std::string& name) {
      return " create line(band=" + std::string(band) + " x1=\"" + std::to_string(x1) + "\" y1=\"" +
             std::to_string(y1) + "\" x2=\"" + std::to_string(x2) + "\" y2=\"" + std::to_string(y2) +
             "\" name=" + name + " visible=\"1\" pen.style=\"0\" pen.width=\"1\" pen.color=\"33554432\" )";
    };
    auto text = [](const char* text, int x, int y, int w, int hh, const std::string& name, int size, int weight) {
      return " create text(band=header alignment=\"2\" text=\"" + std::string(text) + "\" border=\"0\" color=\"33554432\" x=\"" +
             std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" height=\"" + std::to_string(hh) + "\" width=\"" +
             std::to_string(w) + "\" name=" + name + " visible=\"1\" font.face=\"宋体\" font.height=\"-" +
             std::to_string(size) + "\" font.weight=\"" + std::to_string(weight) +
             "\" background.mode=\"1\" background.color=\"536870912\" )";
    };
    int x = x0;
    std::string t = "datawindow.header.height=140 datawindow.detail.height=30 datawindow.print.preview=yes";
    t += line("header", x, h, x, h + 80, "l_1") + line("detail", x, 0, x, 30, "l_2");
    t += text("姓名", x + s, h + 48, 60, 24, "t_2", 11, 400);
    t += line("header", x, h, x + name_w + s, h + 80, "l_3");
    t += " worker_name_t.visible = 0 worker_name.x = " + std::to_string(x + s) + " worker_name.width = " +
         std::to_string(name_w - s) + " worker_name.y = 4 worker_name.height = 22 worker_name.alignment=2";
    x += name_w;
    t += text("课目", x - 60, h + 6, 60, 24, "t_1", 11, 400);
    x += s;
    t += line("header", x, h, x, h + 80, "l_4") + line("detail", x, 0, x, 30, "l_5");
    for (int i = 1; i <= 3; ++i) {
      const std::string z = "xf0" + std::to_string(i);
      t += " " + z + "_t.x = " + std::to_string(x + s) + " " + z + "_t.text = \"" + subjects[i - 1] + "\" " + z +
           "_t.width = " + std::to_string(subject_w - 2 * s) + " " + z + "_t.y = " + std::to_string(h + 28) + " " + z +
           "_t.height = 24 " + z + "_t.alignment = 2 " + z + ".width = 1 " + z + ".visible = 0";
      t += " create compute(band=detail alignment=\"2\" expression=\"if(isnull(" + z + ") or " + z +
           " = 0,'√','')\" border=\"0\" color=\"33554432\" x=\"" + std::to_string(x + s) + "\" y=\"4\" height=\"22\" width=\"" +
           std::to_string(subject_w - 2 * s) + "\" format=\"[GENERAL]\" name=compute_" + std::to_string(i) +
           " visible=\"1\" font.face=\"宋体\" font.height=\"-11\" font.weight=\"400\" background.mode=\"2\" "
           "background.color=\"16777215\" )";
      x += subject_w;
      t += line("header", x, h, x, h + 80, "l_" + std::to_string(2 * i + 8)) +
           line("detail", x, 0, x, 30, "l_" + std::to_string(2 * i + 9));
    }
    t += line("header", x0, h, x, h, "l_6") + line("header", x0, h + 80, x, h + 80, "l_7");
    t += text("应培未培公务员名单", x0, h - 50, x - x0, 36, "t_22", 16, 700);
    t += line("detail", x0, 30, x, 30, "l_8");
    EXPECT_EQ(store.modify(t), "");
    EXPECT_EQ(store.retrieve(), 3) << store.last_error();
    return lay_out(store);
  }

  FormLibrary library_{kGolden + "/forms"};
  std::unique_ptr<Transaction> sqlca_;
  LayoutOptions options_;
};

// Compares the dump with tests/golden/<name>.txt, writes the PDF and PNG pages to
// test-artifacts/print/ and checks that the PDF holds `texts`.
void check_golden(const std::string& name, const ReportPages& pages, const std::vector<std::string>& texts) {
  const std::string actual = dump(pages);
  const std::string path = kGolden + "/" + name + ".txt";
  if (update_golden()) {
    std::ofstream(path, std::ios::binary) << actual;
  } else {
    EXPECT_EQ(read_file(path), actual) << name << ": the layout differs from " << path
                                       << " (SHENBAO_UPDATE_GOLDEN=1 rewrites it)";
  }
  fs::create_directories(kArtifacts);
  std::string error;
  const std::string pdf = kArtifacts + "/" + name + ".pdf";
  ASSERT_TRUE(write_pdf(pages, pdf, error)) << name << ": " << error;
  for (int page = 1; page <= static_cast<int>(pages.pages.size()); ++page) {
    const std::string png = kArtifacts + "/" + name + "-" + std::to_string(page) + ".png";
    EXPECT_TRUE(write_png(pages, page, png, 1.5, error)) << name << ": " << error;
  }
  if (!have_program("pdftotext")) return;
  const std::string text = without_blanks(run("pdftotext -enc UTF-8 '" + pdf + "' -"));
  for (const std::string& expected : texts)
    EXPECT_NE(text.find(without_blanks(expected)), std::string::npos) << name << ": the PDF lacks " << expected;
}

TEST_F(ReportTest, GoldenReports) {
  struct Case {
    const char* name;
    std::function<ReportPages()> build;
    size_t pages;
    std::vector<std::string> texts;  // must be in the PDF
  };
  auto opinion = std::make_unique<DataStore>(library_);
  const Case cases[] = {
      {"freeform",
       [&] { return lay_out(*retrieved("d_golden_freeform", {"2009001", "C01"})); },
       1,
       {"职务职数调整审批表", "某某县人事局", "2009年06月15日", "行政机关", "85.67%", "已审核", "超编", "第1页 共1页"}},
      {"grid",
       [&] { return lay_out(*retrieved("d_golden_grid", {"C01"})); },
       2,
       {"人员名册", "出生日期", "王玥", "李珺", "张堃", "杨喆", "赵赟", "黄镕", "1961年02月02日", "女", "7,738.00",
        "合计", "40人", "第1页 共2页", "第2页 共2页"}},
      {"composite",
       [&] {
         // The window fills the opinion page with one empty row.
         EXPECT_GE(opinion->set_dataobject("d_golden_opinion"), 0) << opinion->last_error();
         opinion->insertrow(0);
         options_.nested_rows = [&](std::string_view report) -> const DataStore* {
           return report == "dw_2" ? opinion.get() : nullptr;
         };
         auto pages = lay_out(*retrieved("d_golden_composite", {"2009001", "C01"}));
         options_.nested_rows = nullptr;
         return pages;
       },
       2,
       {"省政府奖励申报表", "申报单位", "某某县人事局", "2009-06-15", "第1页", "省人事厅审核意见", "省政府审批意见",
        "（盖章）", "第2页"}},
      {"generated", [&] { return generated_report(); }, 1, {"应培未培公务员名单", "姓名", "课目", "公共经济", "王玥", "√"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReportPages pages = c.build();
    EXPECT_EQ(pages.pages.size(), c.pages);
    check_golden(c.name, pages, c.texts);
  }
}

// Rows a window puts into a composite's nested report through getchild are the ones shown
// and printed: the same pages as the golden composite, whose rows the test supplies.
TEST_F(ReportTest, CompositeHoldsTheRowsOfItsNestedReport) {
  auto composite = retrieved("d_golden_composite", {"2009001", "C01"});
  EXPECT_EQ(composite->getchild("no_such_report"), nullptr);
  DataStore* opinions = composite->getchild("dw_2");
  ASSERT_NE(opinions, nullptr);
  EXPECT_EQ(composite->getchild("dw_2"), opinions);
  EXPECT_EQ(dump(lay_out(*composite)).find("sh_gb"), std::string::npos) << "no row, no boxes";
  opinions->insertrow(0);
  EXPECT_EQ(dump(lay_out(*composite)), read_file(kGolden + "/composite.txt"));
}

// A long list breaks between rows: each page repeats the header captions, no row runs into
// the footer, every row is printed once, and the summary follows the last row.
TEST_F(ReportTest, RowsBreakBetweenPagesUnderRepeatedHeader) {
  const ReportPages pages = lay_out(*retrieved("d_golden_grid", {"C01"}));
  ASSERT_EQ(pages.pages.size(), 2u);
  const int footer_top = pages.height - 24 - 28;
  int rows = 0;
  for (size_t p = 0; p < pages.pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const ReportPage& page = pages.pages[p];
    for (const char* caption : {"title_t", "worker_code_t", "party_t"}) {
      ASSERT_EQ(items_named(page, caption).size(), 1u) << caption;
      EXPECT_EQ(items_named(page, caption)[0]->y, 24 + (caption == std::string("title_t") ? 4 : 54));
    }
    for (const ReportItem* code : items_named(page, "worker_code")) {
      EXPECT_LE(code->y + code->h, footer_top);
      EXPECT_EQ(code->text, (rows < 9 ? "000" : "00") + std::to_string(rows + 1));
      ++rows;
    }
    const auto page_c = items_named(page, "page_c");
    ASSERT_EQ(page_c.size(), 1u);
    EXPECT_EQ(page_c[0]->y, footer_top + 4);
  }
  EXPECT_EQ(rows, 40);
  EXPECT_TRUE(items_named(pages.pages[0], "sum_c").empty());
  ASSERT_EQ(items_named(pages.pages[1], "sum_c").size(), 1u);
  const auto last_rows = items_named(pages.pages[1], "worker_code");
  EXPECT_EQ(items_named(pages.pages[1], "sum_c")[0]->y, last_rows.back()->y - 2 + 28 + 6);
}

// A nested report that runs over a page repeats its own header on the next page, below
// what stood before it on the first; its summary and footer follow its last row.
TEST_F(ReportTest, NestedReportRepeatsItsHeaderOnEveryPage) {
  DataStore store(library_);
  ASSERT_EQ(store.create("form(name=d_roster style=composite)\n"
                         "header(height=40)\n"
                         "detail(height=100)\n"
                         "table(retrieve=\"select :com as com\")\n"
                         "argument(name=com type=char(20))\n"
                         "column(name=com type=char(20))\n"
                         "text(name=unit_t band=header x=0 y=0 width=300 height=30 text=\"某某县人事局\")\n"
                         "report(name=roster band=detail x=10 y=20 width=640 height=80 form=d_golden_grid "
                         "arguments=\"com\")\n"),
            "");
  store.settransobject(sqlca_.get());
  ASSERT_EQ(store.retrieve({"C01"}), 1) << store.last_error();
  const ReportPages pages = lay_out(store);
  ASSERT_EQ(pages.pages.size(), 2u);
  // The composite's header is the page header; the roster starts 20 below it, shifted 10 right.
  const int roster_top = 24 + 40 + 20;
  int rows = 0;
  for (size_t p = 0; p < 2; ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const ReportPage& page = pages.pages[p];
    ASSERT_EQ(items_named(page, "unit_t").size(), 1u);
    const auto title = items_named(page, "title_t");
    ASSERT_EQ(title.size(), 1u);
    EXPECT_EQ(title[0]->x, 24 + 10 + 4);
    EXPECT_EQ(title[0]->y, p == 0 ? roster_top + 4 : 24 + 40 + 4);
    for (const ReportItem* code : items_named(page, "worker_code")) {
      EXPECT_LE(code->y + code->h, pages.height - 24);
      ++rows;
    }
  }
  EXPECT_EQ(rows, 40);
  EXPECT_TRUE(items_named(pages.pages[0], "sum_c").empty());
  EXPECT_EQ(items_named(pages.pages[1], "sum_c").size(), 1u);
  ASSERT_EQ(items_named(pages.pages[1], "page_c").size(), 1u);
  EXPECT_EQ(items_named(pages.pages[1], "page_c")[0]->text, "第2页 共2页");
}

// A band taller than a page is cut between its objects: a text never, a rule at the cut.
TEST_F(ReportTest, TallBandIsCutBetweenTexts) {
  DataStore store(library_);
  ASSERT_EQ(store.create("form(name=d_tall style=freeform)\n"
                         "detail(height=1500)\n"
                         "column(name=a type=char(10))\n"
                         "text(name=top_t band=detail x=0 y=100 width=200 height=30 text=\"上\")\n"
                         "text(name=cut_t band=detail x=0 y=1050 width=200 height=40 text=\"跨页\")\n"
                         "text(name=end_t band=detail x=0 y=1400 width=200 height=30 text=\"下\")\n"
                         "line(name=l_side band=detail x1=300 y1=0 x2=300 y2=1500)\n"),
            "");
  store.insertrow(0);
  const ReportPages pages = lay_out(store);
  ASSERT_EQ(pages.pages.size(), 2u);
  // The page body is 24..1099; the cut moves up from 1075 to the top of cut_t at 1050.
  struct Expect {
    size_t page;
    const char* name;
    int y, h;
  } expected[] = {
      {0, "top_t", 124, 30}, {0, "l_side", 24, 1050}, {1, "cut_t", 24, 40}, {1, "end_t", 374, 30}, {1, "l_side", 24, 450},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(std::string(e.name) + " on page " + std::to_string(e.page + 1));
    const auto found = items_named(pages.pages[e.page], e.name);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->y, e.y);
    EXPECT_EQ(found[0]->h, e.h);
  }
  EXPECT_TRUE(items_named(pages.pages[0], "cut_t").empty());
}

// A band taller than the page whose last part is empty room takes no page of its own; a
// line drawn upwards is cut like one drawn downwards; texts and visibility that name page()
// or pagecount() see the final page and count.
TEST_F(ReportTest, PageCutsAndPageNumbers) {
  // The body runs from 24 down to the footer at 1075.
  const std::string footer =
      "footer(height=24)\n"
      "text(name=page_t band=footer x=0 y=0 width=200 height=20 "
      "text=\"='第' + string(page()) + '页 共' + string(pagecount()) + '页'\")\n"
      "text(name=last_t band=footer x=300 y=0 width=200 height=20 text=\"末页\" visible=\"=page() = pagecount()\")\n"
      // As the prints' footers write it: numbers joined to texts without string().
      "compute(name=page_c band=footer x=520 y=0 width=260 height=20 "
      "expression=\"'第 ' + page() + ' 页 / 共 ' + pageCount() + ' 页'\")\n";
  DataStore roomy(library_);
  ASSERT_EQ(roomy.create("form(name=d_roomy style=freeform)\ndetail(height=1100)\n" + footer +
                         "column(name=a type=char(10))\n"
                         "text(name=end_t band=detail x=0 y=870 width=200 height=30 text=\"止\")\n"),
            "");
  roomy.insertrow(0);
  ReportPages pages = lay_out(roomy);
  ASSERT_EQ(pages.pages.size(), 1u) << dump(pages);
  EXPECT_EQ(items_named(pages.pages[0], "page_t")[0]->text, "第1页 共1页");
  EXPECT_EQ(items_named(pages.pages[0], "page_c")[0]->text, "第 1 页 / 共 1 页");
  EXPECT_EQ(items_named(pages.pages[0], "last_t").size(), 1u);

  DataStore tall(library_);
  ASSERT_EQ(tall.create("form(name=d_tall_line style=freeform)\ndetail(height=1500)\n" + footer +
                        "column(name=a type=char(10))\n"
                        "line(name=l_up band=detail x1=400 y1=1500 x2=400 y2=0)\n"),
            "");
  tall.insertrow(0);
  pages = lay_out(tall);
  ASSERT_EQ(pages.pages.size(), 2u) << dump(pages);
  const struct {
    int line_h;
    size_t last_shown;
  } expected[] = {{1051, 0}, {449, 1}};
  for (size_t p = 0; p < 2; ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const auto line = items_named(pages.pages[p], "l_up");
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(line[0]->y, 24);
    EXPECT_EQ(line[0]->h, expected[p].line_h);
    EXPECT_EQ(items_named(pages.pages[p], "page_t")[0]->text, "第" + std::to_string(p + 1) + "页 共2页");
    EXPECT_EQ(items_named(pages.pages[p], "page_c")[0]->text, "第 " + std::to_string(p + 1) + " 页 / 共 2 页");
    EXPECT_EQ(items_named(pages.pages[p], "last_t").size(), expected[p].last_shown);
  }
}

// A whole-number column over a list of text codes prints the names; numbers keep to one
// line (they shrink rather than break), texts may wrap.
TEST_F(ReportTest, NumbersPrintOnOneLineAndByTheirNames) {
  DataStore store(library_);
  ASSERT_EQ(store.create("form(name=d_numbers style=freeform)\ndetail(height=60)\n"
                         "column(name=sex type=long band=detail x=0 y=0 width=60 height=44 "
                         "dddw.name=d_golden_sex dddw.data=code dddw.display=name)\n"
                         "column(name=pay type=decimal(2) band=detail x=70 y=0 width=70 height=44 format=\"#,##0.00\")\n"
                         "column(name=note type=char(200) band=detail x=150 y=0 width=70 height=44)\n"),
            "");
  store.settransobject(sqlca_.get());
  const long row = store.insertrow(0);
  store.setitem(row, "sex", Value(2));
  store.setitem(row, "pay", Value(370370.1));
  store.setitem(row, "note", Value("一段很长的说明文字"));
  const ReportPages pages = lay_out(store);
  ASSERT_EQ(pages.pages.size(), 1u);
  const struct {
    const char* name;
    const char* text;
    bool wrap;
  } expected[] = {{"sex", "女", true}, {"pay", "370,370.10", false}, {"note", "一段很长的说明文字", true}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    const auto item = items_named(pages.pages[0], e.name);
    ASSERT_EQ(item.size(), 1u);
    EXPECT_EQ(item[0]->text, e.text);
    EXPECT_EQ(item[0]->wrap, e.wrap);
  }
}

// A composite's own object below a nested report follows the report down as far as it grew.
TEST_F(ReportTest, CompositeObjectsBelowANestedReportFollowIt) {
  DataStore store(library_);
  ASSERT_EQ(store.create("form(name=d_follow style=composite)\ndetail(height=200)\n"
                         "text(name=head_t band=detail x=0 y=0 width=200 height=20 text=\"名单\")\n"
                         "report(name=r_list band=detail x=0 y=30 width=700 height=100 form=d_golden_grid "
                         "arguments=\"'C01'\")\n"
                         "text(name=sign_t band=detail x=0 y=140 width=200 height=20 text=\"签字\")\n"),
            "");
  store.settransobject(sqlca_.get());
  ASSERT_GE(store.retrieve({}), 0) << store.last_error();
  const ReportPages pages = lay_out(store);
  ASSERT_GE(pages.pages.size(), 2u);
  EXPECT_EQ(items_named(pages.pages.front(), "head_t").size(), 1u);
  const ReportPage& last = pages.pages.back();
  const auto sign = items_named(last, "sign_t");
  ASSERT_EQ(sign.size(), 1u) << dump(pages);
  // It stands 10 below the nested report's end (its last band, the footer), as in the form.
  for (const ReportItem& item : last.items) {
    if (item.name != "sign_t") EXPECT_GT(sign[0]->y, item.y + std::max(0, item.h)) << item.name;
  }
}

TEST_F(ReportTest, ReportThatContainsItselfStops) {
  DataStore store(library_);
  ASSERT_GE(store.set_dataobject("d_golden_loop"), 0) << store.last_error();
  store.settransobject(sqlca_.get());
  ASSERT_GE(store.retrieve({}), 0) << store.last_error();
  const ReportPages pages = layout_report(store, options_);
  ASSERT_FALSE(pages.warnings.empty());
  EXPECT_NE(pages.warnings.back().find("contain itself"), std::string::npos) << pages.warnings.back();
}

// Colour numbers are blue × 65536 + green × 256 + red; the large numbers are the engine's
// system colours; a transparent background paints nothing.
TEST_F(ReportTest, ColoursAndBackgrounds) {
  struct Case {
    const char* properties;
    uint32_t colour;
    bool has_background;
    uint32_t background;
  } cases[] = {
      {"color=rgb(255,0,0)", 0xFF0000, false, 0},
      {"color=255", 0xFF0000, false, 0},
      {"color=16711680", 0x0000FF, false, 0},
      {"color=33554432 background.color=536870912", 0x000000, false, 0},
      {"background.color=rgb(240,240,240)", 0x000000, true, 0xF0F0F0},
      {"background.mode=1 background.color=16777215", 0x000000, false, 0},
      {"background.mode=2 background.color=16777215", 0x000000, true, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.properties);
    DataStore store(library_);
    ASSERT_EQ(store.create(std::string("form(name=d_colour style=freeform)\nheader(height=40)\n"
                                       "text(name=t band=header x=0 y=0 width=100 height=30 text=\"字\" ") +
                           c.properties + ")\n"),
              "");
    const ReportPages pages = lay_out(store);
    ASSERT_EQ(pages.pages.size(), 1u);
    const auto t = items_named(pages.pages[0], "t");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]->color, c.colour);
    EXPECT_EQ(t[0]->has_background, c.has_background);
    if (c.has_background) {
      EXPECT_EQ(t[0]->background, c.background);
    }
  }
}

// A row whose condition is false leaves the object out; a report without rows prints its
// header, summary and footer once, with "page 1 of 1".
TEST_F(ReportTest, VisibilityAndEmptyReports) {
  const ReportPages under = lay_out(*retrieved("d_golden_freeform", {"2009002", "C01"}));
  ASSERT_EQ(under.pages.size(), 1u);
  EXPECT_TRUE(items_named(under.pages[0], "over_t").empty());
  const auto confirmed = items_named(under.pages[0], "confirmed");
  ASSERT_EQ(confirmed.size(), 1u);
  EXPECT_EQ(confirmed[0]->kind, ItemKind::CheckBox);
  EXPECT_FALSE(confirmed[0]->checked);
  ASSERT_EQ(items_named(under.pages[0], "company_property").size(), 1u);
  EXPECT_EQ(items_named(under.pages[0], "company_property")[0]->text, "事业单位");

  const ReportPages empty = lay_out(*retrieved("d_golden_grid", {"NONE"}));
  ASSERT_EQ(empty.pages.size(), 1u);
  const ReportPage& page = empty.pages[0];
  EXPECT_EQ(items_named(page, "title_t").size(), 1u);
  EXPECT_TRUE(items_named(page, "worker_code").empty());
  ASSERT_EQ(items_named(page, "count_c").size(), 1u);
  EXPECT_EQ(items_named(page, "count_c")[0]->text, "0人");
  ASSERT_EQ(items_named(page, "page_c").size(), 1u);
  EXPECT_EQ(items_named(page, "page_c")[0]->text, "第1页 共1页");
}

TEST_F(ReportTest, PrintPreviewProperty) {
  EXPECT_TRUE(in_print_preview(*retrieved("d_golden_freeform", {"2009001", "C01"})));
  auto grid = retrieved("d_golden_grid", {"C01"});
  EXPECT_FALSE(in_print_preview(*grid));
  EXPECT_EQ(grid->modify("datawindow.print.preview = 'Yes'"), "");
  EXPECT_TRUE(in_print_preview(*grid));
}

// PNG pages: the paper's size times the scale; pages outside the report are refused.
TEST_F(ReportTest, PngPages) {
  const ReportPages pages = lay_out(*retrieved("d_golden_grid", {"C01"}));
  struct Case {
    int page;
    double scale;
    bool ok;
    uint32_t width, height;
  } cases[] = {{1, 1.0, true, 794, 1123}, {2, 0.5, true, 397, 562}, {0, 1.0, false, 0, 0}, {3, 1.0, false, 0, 0},
               {1, 0.0, false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("page " + std::to_string(c.page) + " scale " + std::to_string(c.scale));
    std::string png, error;
    ASSERT_EQ(render_png(pages, c.page, c.scale, png, error), c.ok) << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&](size_t at) {
      return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
             (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), c.width);
    EXPECT_EQ(be32(20), c.height);
  }
}

TEST(JobFileName, MakesNamesSafe) {
  struct Case {
    const char* name;
    const char* file;
  } cases[] = {
      {"培训情况打印", "培训情况打印"},
      {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
      {"  ..隐藏. ", "隐藏"},
      {"..", "print"},
      {"", "print"},
      {"第一行\n第二行", "第一行_第二行"},
  };
  for (const Case& c : cases) EXPECT_EQ(job_file_name(c.name), c.file) << "name: " << c.name;
  // Long names are cut at a character boundary.
  std::string long_name;
  for (int i = 0; i < 60; ++i) long_name += "表";
  const std::string cut = job_file_name(long_name);
  EXPECT_LE(cut.size(), 120u);
  EXPECT_EQ(cut.size() % 3, 0u);
}

class PrintJobsTest : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    folder_ = fs::temp_directory_path() / ("shenbao-print-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

// Forms printed into one job make one PDF, each form with its own page numbers; two jobs of
// one name get two files.
TEST_F(PrintJobsTest, JobsCollectFormsIntoOnePdf) {
  PrintJobs jobs(folder_.string(), &library_);
  auto unit = retrieved("d_golden_freeform", {"2009001", "C01"});
  auto grid = retrieved("d_golden_grid", {"C01"});
  const int job = jobs.open("培训情况打印");
  ASSERT_GT(job, 0);
  EXPECT_EQ(jobs.print(job, *unit), 1);
  EXPECT_EQ(jobs.print(job, *grid), 1);
  EXPECT_TRUE(jobs.finished().empty());
  EXPECT_EQ(jobs.close(job), 1);
  const int alone = jobs.print_alone(*unit, "培训情况打印");
  ASSERT_GT(alone, job);

  ASSERT_EQ(jobs.finished().size(), 2u);
  const PrintJobInfo& first = jobs.finished()[0];
  EXPECT_EQ(first.id, job);
  EXPECT_EQ(first.name, "培训情况打印");
  EXPECT_EQ(first.forms, 2);
  EXPECT_EQ(first.pages, 3);
  EXPECT_EQ(first.pdf_path, (folder_ / "培训情况打印.pdf").string());
  ASSERT_NE(jobs.find(alone), nullptr);
  EXPECT_EQ(jobs.find(alone)->pdf_path, (folder_ / "培训情况打印 (2).pdf").string());
  EXPECT_EQ(jobs.find(alone)->pages, 1);
  EXPECT_TRUE(fs::exists(first.pdf_path));

  if (have_program("pdfinfo")) {
    const std::string info = run("pdfinfo '" + first.pdf_path + "'");
    const size_t pages_at = info.find("Pages:");
    ASSERT_NE(pages_at, std::string::npos) << info;
    EXPECT_EQ(std::atoi(info.c_str() + pages_at + 6), 3) << info;
    EXPECT_NE(info.find("培训情况打印"), std::string::npos) << info;
  }
  if (have_program("pdftotext")) {
    const std::string text = without_blanks(run("pdftotext -enc UTF-8 '" + first.pdf_path + "' -"));
    for (const char* expected : {"第1页共1页", "第1页共2页", "第2页共2页", "某某县人事局"})
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
}

TEST_F(PrintJobsTest, RefusesUnknownJobsAndSkipsEmptyOnes) {
  PrintJobs jobs(folder_.string(), &library_);
  auto unit = retrieved("d_golden_freeform", {"2009001", "C01"});
  EXPECT_EQ(jobs.print(7, *unit), -1);
  EXPECT_NE(jobs.last_error().find("7"), std::string::npos);
  EXPECT_EQ(jobs.close(7), -1);
  DataStore undefined(library_);
  const int job = jobs.open("空");
  EXPECT_EQ(jobs.print(job, undefined), -1);
  EXPECT_EQ(jobs.close(job), 1);  // nothing printed: no file, not listed
  EXPECT_EQ(jobs.close(job), -1);
  EXPECT_TRUE(jobs.finished().empty());
  EXPECT_FALSE(fs::exists(folder_ / "空.pdf"));
}

// `shenbao render`: exit 0 with the file written, 2 for a wrong command line, 1 when the
// database or the form fails.
TEST_F(PrintJobsTest, RenderCommand) {
  fs::create_directories(folder_);
  const std::string db = (folder_ / "render.db").string();
  {
    std::string error;
    auto file = Transaction::open("sqlite:" + db, error);
    ASSERT_TRUE(file) << error;
    ASSERT_EQ(file->execute_script(kSchema), 0) << file->sqlerrtext;
    insert_workers(*file);
    ASSERT_EQ(file->commit(), 0);
  }
  const std::string grid = kGolden + "/forms/d_golden_grid.form";
  const std::string pdf = (folder_ / "grid.pdf").string();
  const std::string png = (folder_ / "png").string();
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string written;
  } cases[] = {
      {{db, grid, "C01", "--pdf", pdf}, 0, pdf},
      {{db, grid, "C01", "--png", png, "--scale", "0.5"}, 0, png + "/page-2.png"},
      {{db, grid, "C01"}, 2, ""},
      {{db, grid, "C01", "--pdf", pdf, "--png", png}, 2, ""},
      {{db, grid, "--pdf", pdf}, 2, ""},
      {{db, grid, "C01", "--png", png, "--scale", "0"}, 2, ""},
      {{db, kGolden + "/forms/d_missing.form", "--pdf", pdf}, 1, ""},
      {{(folder_ / "no-such-dir" / "x.db").string(), grid, "C01", "--pdf", pdf}, 1, ""},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE("render" + line);
    EXPECT_EQ(render_command(c.args), c.exit);
    if (!c.written.empty()) {
      EXPECT_GT(fs::file_size(c.written), 1000u);
    }
  }
}

// The application's own approval form of a post and rank declaration, on the standard
// database: a ruled A4 table with every block and row, and the date in words.
TEST(PrintedForms, PostCountApprovalForm) {
  const std::string path = "/tmp/shenbao_zw_print_" + std::to_string(getpid()) + ".db";
  std::string error;
  auto sqlca = Transaction::open(path, error);
  ASSERT_TRUE(sqlca) << error;
  ASSERT_TRUE(create_database(*sqlca, true, "", error)) << error;
  ASSERT_EQ(sqlca->execute("insert into rs_w00031_com (pkid, company_num, company_name, sb_date, xzbz_mans, fsbz_mans, "
                           "zs_nsjg, now_mans, zs_hd_xcz, zs_hd_xcf, zs_hd_dy, zs_hd_fdy, zs_xy_xcz, zs_xy_xcf, zs_xy_dy, "
                           "zs_xy_fdy, zs_xcz_add, zs_xcf_add, zs_dy_add, zs_fdy_add, zs_xcz_js, zs_xcf_js, zs_dy_js, "
                           "zs_fdy_js, zs_tz_xcz, zs_tz_xcf, zs_tz_dy, zs_tz_fdy, sbr, phone) values ('0000000001', "
                           "'001', '江州市人事局', '2009-06-15 00:00:00', 12, 3, 5, 12, 1, 3, 2, 2, 1, 2, 1, 2, 0, 1, 0, 1, 0, 0, "
                           "0, 1, 1, 3, 1, 2, '王小红', '0791-86123456')"),
            0)
      << sqlca->sqlerrtext;
  sqlca->commit();
  DataStore form;
  ASSERT_EQ(form.set_dataobject("d_zw_company_form_print"), 1) << form.last_error();
  form.settransobject(sqlca.get());
  ASSERT_EQ(form.retrieve({"0000000001", "001"}), 1) << form.last_error();
  const ReportPages pages = layout_report(form);
  EXPECT_EQ(pages.pages.size(), 1u);
  EXPECT_TRUE(pages.warnings.empty());
  check_golden("zw_company_form_print", pages,
               {"公务员和参照管理人员职务职数调整审批表", "填报单位(盖章)：", "江州市人事局", "填报时间：", "2009年06月15日",
                "一、职位职数审核", "人员编制", "行政附属编制", "内设机构", "现有人数", "职位设置", "职数配置", "职位名称",
                "县处级正职", "县处级副职", "调研员", "副调研员", "核定职数", "现有职数", "拟调整数", "增加数", "减少数",
                "调整后实有数", "填表人：", "王小红", "联系电话：", "0791-86123456"});
  sqlca.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

}  // namespace
}  // namespace shenbao
