// What an acceptance writes into the register, seen through its journal, for a declaration of
// each category whose acceptance writes there: the preview (入库预览) changes nothing anywhere
// in the database, and the acceptance followed by its reversal (撤销入库) leaves every table of
// the register exactly as it was. On both databases.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "tests/unit/table_digest.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

struct Category {
  const char* window;
  const char* setup;  // a submitted declaration 0000000001 of unit 001 with its rows
};

const Category kCategories[] = {
    {"w_vorant_zw",  // posts and ranks written into the persons' records
     "insert into rs_w00031_com (pkid, company_num, state, sb_date) values ('0000000001', '001', 1, '2009-06-10');\n"
     "insert into rs_w00031 (pkid, company_num, worker_code, worker_name, ndzw, ndjb, yrzsj) values "
     "('0000000001', '001', '0010008', '黄海涛', '0111', '11', '2004-07-01');\n"
     "insert into rs_w00031 (pkid, company_num, worker_code, worker_name, ndzw, ndjb, yrzsj) values "
     "('0000000001', '001', '0010004', '赵志刚', '0131', '13', '2005-03-01')"},
    {"w_vorant_rsjh",  // new persons in the register
     "insert into rs_w00034_com (pkid, company_num, state, sb_date) values ('0000000001', '001', 1, '2009-06-01');\n"
     "insert into rs_w00034 (pkid, company_num, worker_code, worker_name, sex, birthday) values "
     "('0000000001', '001', '9000001', '甲', '2', '1971-01-31');\n"
     "insert into rs_w00034 (pkid, company_num, worker_code, worker_name, sex) values "
     "('0000000001', '001', '9000002', '乙', '1')"},
    {"w_vorant_ct",  // dismissals: the persons leave, the unit's head count falls
     "insert into rs_w00044_com (pkid, company_num, state, company_name, sb_date) values "
     "('0000000001', '001', 1, '江州市人事局', '2009-06-15');\n"
     "insert into rs_w00044 (pkid, company_num, worker_code, worker_name, sex, post, ct_reason, ct_date) values "
     "('0000000001', '001', '0010003', '王秀英', '2', '0151', '1', '2009-06-01')"},
    {"w_vorant_cz",  // resignations: the persons leave, the unit's head count falls
     "insert into rs_w00043_com (pkid, company_num, state, company_name, sb_date) values "
     "('0000000001', '001', 1, '江州市人事局', '2009-06-15');\n"
     "insert into rs_w00043 (pkid, company_num, worker_code, worker_name, sex, post, cz_date) values "
     "('0000000001', '001', '0010005', '刘芳', '2', '0151', '2009-06-01')"},
    {"w_vorant_cj",  // punishments recorded, an expelled person leaves
     "insert into rs_w00029_com (pkid, company_num, state, company_name, sb_date) values "
     "('0000000001', '001', 1, '江州市人事局', '2009-06-15');\n"
     "insert into rs_w00029 (pkid, company_num, worker_code, worker_name, sex, punish_date, cf_type, punish_name, "
     "punish_reason, rescind_date) values ('0000000001', '001', '0010002', '李卫东', '1', '2009-05-10', '政纪处分', "
     "'66', '01', '2011-05-10');\n"
     "insert into rs_w00029 (pkid, company_num, worker_code, worker_name, sex, punish_date, cf_type, punish_name, "
     "punish_reason, rescind_date) values ('0000000001', '001', '0010004', '赵志刚', '1', '2009-03-15', '政纪处分', "
     "'50', '01', '2010-03-15')"},
    {"w_vorant_jl_gwy",  // civil servants' rewards recorded
     "insert into rs_w00033_com (pkid, company_num, state, sb_date) values ('0000000001', '001', 1, '2009-06-15');\n"
     "insert into rs_w00033 (pkid, company_num, worker_code, worker_name, sex, jl_name, jl_date, jl_gg) values "
     "('0000000001', '001', '0010002', '李卫东', '1', '2000', '2009-05-04', '4');\n"
     "insert into rs_w00033 (pkid, company_num, worker_code, worker_name, sex, jl_name) values "
     "('0000000001', '001', '0010003', '王秀英', '2', '1000')"},
};

// The register: every table but the declaration's history and journal, which grow by design,
// and SQLite's record of the keys it has handed out (a key is not handed out twice, reversal or
// not).
Digest without_growing_tables(Digest digest) {
  for (const char* table : {"sb_history", "sb_journal", "sqlite_sequence"}) digest.erase(table);
  return digest;
}

class RegisterJournalTest : public ApplicationDatabaseTest {
 protected:
  void ok(Session& s, Event event) {
    const EventResult r = s.post(event);
    ASSERT_TRUE(r.ok()) << event.kind << " " << event.target << ": " << r.error();
  }
  std::string message(Session& s) {
    const auto m = s.state()["message"];
    return m.is_null() ? std::string() : m["text"].get<std::string>();
  }
};

TEST_P(RegisterJournalTest, PreviewChangesNothingAndReversalRestoresTheRegister) {
  SHENBAO_REQUIRE_DATABASE(db);
  for (const Category& category : kCategories) {
    SCOPED_TRACE(category.window);
    db.run(category.setup);  // each category in its own tables; the register is shared
    auto s = start_session("authority", Role::Both);
    ASSERT_TRUE(s);
    ok(*s, {"open", category.window});
    ok(*s, {"select", "dw_1", 1});
    const Digest before = take_digest(db.sqlca());

    ok(*s, {"click", "pb_preview_accept"});
    ASSERT_EQ(message(*s), "");
    ok(*s, {"close"});
    EXPECT_EQ(take_digest(db.sqlca()), before) << "a preview writes nothing";

    ok(*s, {"click", "pb_approve"});
    ok(*s, {"answer", "yes"});
    ASSERT_EQ(message(*s), "数据入库成功！");
    ok(*s, {"answer", "ok"});
    const Digest register_before = without_growing_tables(before);
    ASSERT_NE(without_growing_tables(take_digest(db.sqlca())), register_before) << "the acceptance wrote the register";

    ok(*s, {"click", "pb_reverse"});
    ok(*s, {"text", "mle_reason", 0, {}, "测试撤销"});
    ok(*s, {"click", "pb_1"});
    ASSERT_EQ(message(*s), "已撤销入库。");
    ok(*s, {"answer", "ok"});
    EXPECT_EQ(without_growing_tables(take_digest(db.sqlca())), register_before)
        << "every register table is as before the acceptance";
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, RegisterJournalTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

}  // namespace
}  // namespace shenbao::testing
