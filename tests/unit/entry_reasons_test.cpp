// A refused entry says why, in words a clerk understands, in the event's result (which the
// browser shows at the field): typed into the post and rank window through a session, as the
// browser posts it.
#include <gtest/gtest.h>

#include "app/database_setup.h"
#include "app/registry.h"
#include "framework/host/host_session.h"
#include "tests/unit/test_database.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

class EntryReasonsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    std::string error;
    ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
    register_windows(registry);
    session = start_test_session(db.url(), registry, "clerk001", Role::Clerk);
    ASSERT_TRUE(session);
    ASSERT_TRUE(session->post({"open", "w_vorant_zw"}).ok());
    ASSERT_TRUE(session->post({"click", "pb_16"}).ok());
    ASSERT_TRUE(session->post({"click", "pb_5"}).ok());
    Event add{"gesture", "add", 0, "", "", {"0010008"}};
    ASSERT_TRUE(session->post(add).ok());
  }

  TestDatabase db{Backend::SQLite};
  WindowRegistry registry;
  std::unique_ptr<Session> session;
};

TEST_F(EntryReasonsTest, RefusedEntriesSayWhy) {
  struct Case {
    const char* form;
    const char* column;
    const char* text;
    const char* reason;
  };
  const Case cases[] = {
      {"dw_3", "zs_xcz_add", "abc", "“abc”不是数字"},
      {"dw_3", "zs_xcz_add", "1.5", "“1.5”不是整数"},
      {"dw_3", "zs_xcz_add", " 2人 ", "“2人”不是数字"},
      {"dw_3", "zs_xcz_add", "-1", "不能为负数"},
      {"dw_3", "now_mans", "-12", "不能为负数"},
      {"dw_3", "sbr", "一二三四五六七八九十甲", "输入的内容太长，最多10个字"},
      {"dw_3", "sbr", "王\x01", "输入的内容含有不允许的控制字符"},
      {"dw_3", "sbr", "王\n小红", "此处只能输入一行文字"},
      {"dw_3", "state", "2", "“2”不是复选框可取的值"},
      {"dw_4", "yrzsj", "abc", "“abc”不是日期（yyyy-mm-dd）"},
      {"dw_4", "yrzsj", "2004-13-45", "“2004-13-45”不是日期（yyyy-mm-dd）"},
      {"dw_4", "ndzw", "9999", "“9999”不在可选的代码中"},
      {"dw_4", "sex", "x", "“x”不在可选的代码中"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.form) + "." + c.column + " \"" + c.text + "\"");
    const EventResult result = session->post({"type", c.form, 1, c.column, c.text});
    EXPECT_TRUE(result.ok());
    EXPECT_FALSE(result.accepted);
    ASSERT_TRUE(result.refusal);
    EXPECT_EQ(result.refusal->code, RefusalCode::InvalidEntry);
    EXPECT_EQ(result.refusal->text, c.reason);
  }
  // Entries that fit are kept: the limit counts characters, a count of 0 is a count.
  for (const auto& [form, column, text] : {std::tuple{"dw_3", "sbr", "一二三四五六七八九十"},
                                          std::tuple{"dw_3", "zs_xcz_add", "0"},
                                          std::tuple{"dw_4", "yrzsj", "2004-07-01"}}) {
    SCOPED_TRACE(std::string(column) + " " + text);
    const EventResult result = session->post({"type", form, 1, column, text});
    EXPECT_TRUE(result.accepted) << result.error();
  }
}

}  // namespace
}  // namespace shenbao::testing
