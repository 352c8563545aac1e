// Every print of the module filled to the brim: each text column holds as many characters as
// it takes (wide Chinese and wide Latin), each number the largest a clerk types, and the
// layout must print all of it: no text cut at its box, none shrunk below the smallest size,
// none outside the paper. The pages are kept in test-artifacts/print/overflow/ to be looked at.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/form_def.h"
#include "framework/runtime/reports/report.h"
#include "framework/runtime/sql/transaction.h"
#include "framework/runtime/windows/window.h"
#include "tests/unit/test_session.h"

namespace shenbao {
namespace {

namespace fs = std::filesystem;

const std::string kArtifacts = std::string(SHENBAO_SOURCE_DIR) + "/test-artifacts/print/overflow";

// The printed forms: the ones a window prints or previews, and those they hold.
const char* const kPrints[] = {
    "d_zw_company_form_print", "d_rsjh_company_print", "d_px_company_print_km", "d_px_print_km",
    "d_jl_company_print",      "d_jl_szf_print",       "d_shsp_yj_print",       "d_sjxtjl_print",
    "d_szfjl_print",           "d_px_km_total",
};

struct Fill {
  const char* name;
  const char* unit;  // repeated up to a text column's length
};
const Fill kFills[] = {{"chinese", "赢"}, {"latin", "W"}};

constexpr int kLongText = 2000;

std::string repeated(const char* unit, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += unit;
  return out;
}

// One row with every column at its full length.
void fill_row(DataStore& store, const Fill& fill) {
  const long row = store.insertrow(0);
  const FormDef& def = store.def();
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const ColumnType& type = def.columns[c].type;
    const int column = static_cast<int>(c) + 1;
    Value value;
    switch (type.kind) {
      // A text without a limit (an explanation, an opinion) gets two thousand characters.
      case TypeKind::Char: value = Value(repeated(fill.unit, std::min(type.size, kLongText))); break;
      case TypeKind::Long: value = Value(99999); break;
      case TypeKind::Number:
      case TypeKind::Decimal: value = Value(9999.99); break;
      default: value = Value(DateTime::from_civil(2026, 12, 31)); break;
    }
    store.setitem(row, column, value);
  }
}

// The items that break the rule, one line each.
std::vector<std::string> faults(const ReportPages& pages) {
  std::vector<std::string> out = pages.warnings;
  for (size_t p = 0; p < pages.pages.size(); ++p) {
    const int width = pages.pages[p].width > 0 ? pages.pages[p].width : pages.width;
    const int height = pages.pages[p].height > 0 ? pages.pages[p].height : pages.height;
    for (const ReportItem& item : pages.pages[p].items) {
      if (item.kind != ItemKind::Text || item.text.empty()) continue;
      const std::string where = "page " + std::to_string(p + 1) + " " + item.name + ": ";
      const TextFit fit = fit_text(item);
      if (!fit.fits) out.push_back(where + "cut at its box");
      if (fit.size < kMinTextPoints) out.push_back(where + "drawn at " + std::to_string(fit.size) + " pt");
      if (item.x < 0 || item.y < 0 || item.x + item.w > width || item.y + item.h > height)
        out.push_back(where + "outside the paper");
    }
  }
  return out;
}

TEST(PrintOverflow, EveryPrintHoldsEveryTextAtFullLength) {
  fs::create_directories(kArtifacts);
  for (const char* form : kPrints) {
    for (const Fill& fill : kFills) {
      SCOPED_TRACE(std::string(form) + " " + fill.name);
      DataStore store;
      ASSERT_EQ(store.set_dataobject(form), 1) << store.last_error();
      // A composite's nested reports get a full row of their own each.
      std::vector<std::unique_ptr<DataStore>> nested;
      LayoutOptions options;
      if (store.def().style == Style::Composite) {
        for (const FormObject& o : store.def().objects) {
          if (o.kind != ObjectKind::Report) continue;
          auto child = std::make_unique<DataStore>();
          ASSERT_EQ(child->set_dataobject(o.get("form")), 1) << child->last_error();
          fill_row(*child, fill);
          nested.push_back(std::move(child));
        }
        options.nested_rows = [&](std::string_view name) -> const DataStore* {
          size_t i = 0;
          for (const FormObject& o : store.def().objects) {
            if (o.kind != ObjectKind::Report) continue;
            if (o.name == name) return nested[i].get();
            ++i;
          }
          return nullptr;
        };
      }
      if (!store.def().columns.empty()) fill_row(store, fill);
      const ReportPages pages = layout_report(store, options);
      ASSERT_FALSE(pages.pages.empty());
      std::string error;
      for (int page = 1; page <= static_cast<int>(pages.pages.size()); ++page) {
        const std::string png =
            kArtifacts + "/" + form + "-" + fill.name + "-" + std::to_string(page) + ".png";
        EXPECT_TRUE(write_png(pages, page, png, 1.5, error)) << error;
      }
      for (const std::string& fault : faults(pages)) ADD_FAILURE() << fault;
    }
  }
}

// The list "应培未培公务员名单" that the training report generates, for ten subjects whose
// names take twenty characters each: every character of every name is printed, in its
// column's caption, at a legible size.
class GeneratedListTest : public testing::ApplicationDatabaseTest {};

TEST_P(GeneratedListTest, TenLongSubjectNamesPrintWhole) {
  Transaction& sqlca = db.sqlca();
  ASSERT_EQ(sqlca.execute("insert into rs_w00028_com (pkid, company_num, company_name, sb_date, state) values "
                          "('P1', '001', '江州市人事局', '2009-06-01 00:00:00', 1)"),
            0)
      << sqlca.sqlerrtext;
  std::vector<std::string> names;
  for (int i = 1; i <= 10; ++i) {
    const std::string code = (i < 10 ? "0" : "") + std::to_string(i);
    // Twenty characters: seventeen Chinese, two digits and one more Chinese.
    names.push_back("电子政务应用专题研修培训课程内容第" + code + "期");
    ASSERT_EQ(sqlca.execute("insert into rs_px_type (pkid, company_num, code, name, ks) values ('P1', '001', :code, "
                            ":name, 8)",
                            {Value(code), Value(names.back())}),
              0)
        << sqlca.sqlerrtext;
  }
  ASSERT_EQ(sqlca.execute("insert into rs_w00028 (pkid, company_num, worker_code, worker_name, xf01) values "
                          "('P1', '001', 'w1', '张三', 1), ('P1', '001', 'w2', '欧阳明月', null)"),
            0)
      << sqlca.sqlerrtext;
  ASSERT_EQ(sqlca.commit(), 0);
  auto session = start_session("clerk001", Role::Both);
  ASSERT_TRUE(session);
  Event open;
  open.kind = "open";
  open.target = "w_px_print";
  open.args = {"P1", "001"};
  ASSERT_TRUE(session->post(open).ok());
  Event generate;
  generate.kind = "click";
  generate.target = "pb_2";
  ASSERT_TRUE(session->post(generate).ok());
  ReportPages pages;
  session->read_quietly([&] { pages = layout_report(session->active_window()->form("dw_3")->store()); });
  ASSERT_EQ(pages.pages.size(), 1u);
  std::vector<std::string> printed;
  for (const ReportItem& item : pages.pages[0].items) printed.push_back(item.text);
  for (const std::string& name : names)
    EXPECT_NE(std::find(printed.begin(), printed.end(), name), printed.end()) << name << " is not printed whole";
  for (const std::string& fault : faults(pages)) ADD_FAILURE() << fault;
  fs::create_directories(kArtifacts);
  std::string error;
  EXPECT_TRUE(write_png(pages, 1, kArtifacts + "/generated-list-ten-long-subjects.png", 1.5, error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Databases, GeneratedListTest, ::testing::Values(testing::Backend::SQLite),
                         testing::backend_name);

}  // namespace
}  // namespace shenbao
