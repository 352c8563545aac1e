// An extraction's period is asked in a dialog that refuses a wrong date at its field and stays
// open on an empty one; the extraction then says how many worker rows it wrote. On both
// databases.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

class ExtractionTest : public ApplicationDatabaseTest {
 protected:
  void ok(Session& s, Event event) {
    const EventResult r = s.post(event);
    ASSERT_TRUE(r.ok()) << event.kind << " " << event.target << ": " << r.error();
  }
  static std::string message(Session& s) {
    const auto m = s.state()["message"];
    return m.is_null() ? std::string() : m["text"].get<std::string>();
  }
  // The text of a control of the dialog on top; "" when no dialog is open.
  static std::string dialog_text(Session& s, const std::string& control) {
    const nlohmann::json modals = s.state()["modals"];
    if (!modals.is_array() || modals.empty()) return "";
    for (const auto& c : modals.back()["controls"])
      if (c["name"] == control) return c.value("text", "");
    return "";
  }
  static bool dialog_open(Session& s) {
    const nlohmann::json modals = s.state()["modals"];
    return modals.is_array() && !modals.empty();
  }
};

TEST_P(ExtractionTest, TheClerkGivesAValidPeriodAndIsToldHowManyRowsWereWritten) {
  SHENBAO_REQUIRE_DATABASE(db);
  auto s = start_session("clerk001", Role::Clerk);
  ASSERT_TRUE(s);
  ok(*s, {"open", "w_vorant_px"});
  ok(*s, {"click", "pb_16"});
  ok(*s, {"click", "pb_5"});
  ok(*s, {"click", "pb_6"});
  ASSERT_TRUE(dialog_open(*s));
  ASSERT_EQ(dialog_text(*s, "em_1"), "2009-01-01");

  // Not dates: refused where typed, the field keeps its date.
  for (const char* wrong : {"2009-13-45", "2009-02-30x", "明年"}) {
    const EventResult r = s->post({"text", "em_1", 0, "", wrong});
    EXPECT_FALSE(r.accepted) << wrong;
    EXPECT_NE(r.error().find("不是日期"), std::string::npos) << wrong << ": " << r.error();
    EXPECT_EQ(dialog_text(*s, "em_1"), "2009-01-01") << wrong;
  }
  // Emptied, the field is taken, but 确定 keeps the dialog open and says why.
  ok(*s, {"text", "em_2", 0, "", ""});
  ok(*s, {"click", "pb_1"});
  EXPECT_EQ(message(*s), "请输入日期（yyyy-mm-dd）！");
  ok(*s, {"answer", "ok"});
  EXPECT_TRUE(dialog_open(*s)) << "the dialog closed on an empty date";
  std::vector<Value> rows;
  ASSERT_EQ(db.sqlca().select_into("select count(*) from rs_w00028", {}, rows), 0);
  EXPECT_EQ(rows[0].as_long(), 0) << "nothing is extracted before the period is given";

  ok(*s, {"text", "em_2", 0, "", "2009-12-31"});
  ok(*s, {"click", "pb_1"});
  EXPECT_FALSE(dialog_open(*s));
  EXPECT_EQ(message(*s), "");
  ASSERT_EQ(db.sqlca().select_into("select count(*) from rs_w00028", {}, rows), 0);
  EXPECT_EQ(s->state()["status"], "已提取" + std::to_string(rows[0].as_long()) + "条人员信息");
  EXPECT_GT(rows[0].as_long(), 0);
}

INSTANTIATE_TEST_SUITE_P(Databases, ExtractionTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
