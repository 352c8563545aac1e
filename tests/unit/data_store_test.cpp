#include "framework/runtime/forms/data_store.h"

#include <gtest/gtest.h>

#include "tests/unit/test_database.h"

namespace shenbao::testing {
namespace {

constexpr const char* kPersonForm = R"(form(name=d_person style=grid)
header(height=24)
detail(height=24)
table(retrieve="select code, name, age, born from person where dept = :dept order by code" update=person)
argument(name=dept type=char(10))
column(name=code type=char(10) key=yes update=yes band=detail x=0 y=0 width=60 height=20)
column(name=name type=char(4) update=yes band=detail x=60 y=0 width=60 height=20)
column(name=age type=long update=yes band=detail x=120 y=0 width=60 height=20)
column(name=born type=datetime update=yes band=detail x=180 y=0 width=80 height=20)
compute(name=older expression="age + 1" band=detail x=260 y=0 width=40 height=20)
)";

class DataStoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    SHENBAO_REQUIRE_DATABASE(db);
    db.run(
        "create table person (code varchar(10) primary key, name varchar(4), age integer, born timestamp, "
        "dept varchar(10));\n"
        "insert into person values ('001', '张三', 40, '1969-03-01 00:00:00', 'a');\n"
        "insert into person values ('002', '李四', 30, null, 'a');\n"
        "insert into person values ('003', '王五', 20, null, 'a');\n"
        "insert into person values ('009', '赵六', 50, null, 'b');\n");
    ASSERT_EQ(ds.create(kPersonForm), "");
    ds.settransobject(&db.sqlca());
  }

  // The table's rows of dept 'a' as "code name age" lines, read on another connection.
  std::vector<std::string> stored() {
    std::vector<std::string> rows;
    auto other = db.connect_again();
    other->query("select code, name, age from person where dept = 'a' or dept is null order by code", {},
                 [&](const ResultRow& row) {
                   rows.push_back(row.get(0).to_string() + " " + row.get(1).to_string() + " " + row.get(2).to_string());
                   return true;
                 });
    return rows;
  }

  TestDatabase db{GetParam()};
  DataStore ds;
};

TEST_P(DataStoreTest, RetrieveReadsTypedRowsByArgument) {
  ASSERT_EQ(ds.retrieve({"a"}), 3) << ds.last_error();
  EXPECT_EQ(ds.getitem(1, "name"), Value("张三"));
  EXPECT_EQ(ds.getitem(1, "age"), Value(40));
  EXPECT_EQ(ds.getitem(1, "born"), Value(DateTime::from_civil(1969, 3, 1)));
  EXPECT_TRUE(ds.getitem(2, "born").is_null());
  EXPECT_EQ(ds.getitem_any(3, "older"), Value(21));
  EXPECT_EQ(ds.getrow(), 1);
  EXPECT_EQ(ds.retrieve({"none"}), 0);
  EXPECT_EQ(ds.retrieve({}), -1) << "missing argument";
  EXPECT_NE(ds.last_error().find("arguments"), std::string::npos);
}

TEST_P(DataStoreTest, SetitemRefusesWrongTypesAndLongTexts) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  static const struct {
    const char* name;
    const char* column;
    Value value;
    int expected;
  } cases[] = {
      {"text into long", "age", Value("41"), -1},
      {"number with fraction into long", "age", Value(4.5), -1},
      {"whole number as number into long", "age", Value(41.0), 1},
      {"four Chinese characters fit char(4)", "name", Value("欧阳修文"), 1},
      {"five do not", "name", Value("欧阳修文字"), -1},
      {"number into char", "name", Value(5), -1},
      {"text into datetime", "born", Value("2009-01-01"), -1},
      {"null anywhere", "born", Value(), 1},
      {"unknown column", "nosuch", Value(1), -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ds.setitem(1, c.column, c.value), c.expected) << c.name;
    if (c.expected < 0) {
      EXPECT_FALSE(ds.last_error().empty()) << c.name;
    }
  }
  EXPECT_EQ(ds.setitem(9, "age", Value(1)), -1) << "no such row";
}

TEST_P(DataStoreTest, UpdateWritesNewChangedAndDeletedRowsThenResetsFlags) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  ds.setitem(1, "age", Value(41));         // changed
  ds.deleterow(2);                          // deleted
  const long added = ds.insertrow(0);       // new
  ds.setitem(added, "code", Value("004"));
  ds.setitem(added, "name", Value("新人"));
  ds.insertrow(0);                          // new and never touched: not written
  EXPECT_EQ(ds.modifiedcount(), 2);
  EXPECT_EQ(ds.deletedcount(), 1);
  EXPECT_EQ(ds.getitemstatus(1), RowStatus::DataModified);
  EXPECT_EQ(ds.getitemstatus(added), RowStatus::NewModified);

  ASSERT_EQ(ds.update(), 1) << ds.last_error();
  ASSERT_EQ(db.sqlca().commit(), 0);
  // The new row has no dept, so it is read back through "dept is null".
  EXPECT_EQ(stored(), (std::vector<std::string>{"001 张三 41", "003 王五 20", "004 新人 null"}));
  EXPECT_EQ(ds.modifiedcount(), 0);
  EXPECT_EQ(ds.deletedcount(), 0);
  EXPECT_EQ(ds.getitemstatus(1), RowStatus::NotModified);
  // Nothing left to write: a second update runs no statement.
  EXPECT_EQ(ds.update(), 1);
}

// A value set as retrieved (a marker) leaves the row as it was: unchanged rows stay unchanged,
// and a changed row still writes only what the user changed.
TEST_P(DataStoreTest, ValueSetAsRetrievedIsNeverWritten) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  const uint64_t before = ds.revision();
  ASSERT_EQ(ds.setitem_as_retrieved(2, "name", Value("标记")), 1);
  EXPECT_GT(ds.revision(), before) << "what the form shows changed";
  EXPECT_EQ(ds.getitemstatus(2), RowStatus::NotModified);
  ds.setitem(1, "age", Value(41));
  ASSERT_EQ(ds.setitem_as_retrieved(1, "name", Value("标记")), 1);
  EXPECT_FALSE(ds.item_modified(1, 2));
  EXPECT_EQ(ds.modifiedcount(), 1);
  EXPECT_EQ(ds.setitem_as_retrieved(1, "name", Value("五个字太长")), -1) << "held to the column's length";
  ASSERT_EQ(ds.update(), 1) << ds.last_error();
  ASSERT_EQ(db.sqlca().commit(), 0);
  EXPECT_EQ(stored(), (std::vector<std::string>{"001 张三 41", "002 李四 30", "003 王五 20"}));
}

// Many new rows are written many to a statement: every one of them, each with its own values
// and null where it has none, in batches and in the rows left over; and a failure in any
// batch keeps nothing.
TEST_P(DataStoreTest, ManyNewRowsAreAllWrittenOrNoneIs) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  constexpr int kAdded = 150;
  for (int i = 0; i < kAdded; ++i) {
    const long row = ds.insertrow(0);
    char code[8];
    std::snprintf(code, sizeof code, "n%03d", i);
    ds.setitem(row, "code", Value(code));
    if (i % 3 != 0) ds.setitem(row, "age", Value(i));
  }
  ds.setitem(ds.rowcount() - 20, "code", Value("009"));  // taken by dept b's row, in the last batch
  EXPECT_EQ(ds.update(), -1);
  db.sqlca().commit();
  EXPECT_EQ(stored().size(), 3u) << "nothing of a failed update is kept";

  ds.setitem(ds.rowcount() - 20, "code", Value("n999"));
  ASSERT_EQ(ds.update(), 1) << ds.last_error();
  db.sqlca().commit();
  const std::vector<std::string> rows = stored();
  ASSERT_EQ(rows.size(), 3u + kAdded);
  EXPECT_EQ(rows[3], "n000 null null");
  EXPECT_EQ(rows[4], "n001 null 1");
  EXPECT_EQ(rows[rows.size() - 2], "n149 null 149");
  EXPECT_EQ(rows.back(), "n999 null null") << "the row that failed, written once mended";
}

TEST_P(DataStoreTest, UpdateChangesTheKeyByTheRetrievedKey) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  ds.setitem(3, "code", Value("007"));
  ASSERT_EQ(ds.update(), 1) << ds.last_error();
  db.sqlca().commit();
  EXPECT_EQ(stored(), (std::vector<std::string>{"001 张三 40", "002 李四 30", "007 王五 20"}));
}

TEST_P(DataStoreTest, FailedUpdateKeepsNothingAndRetryWritesTheSameRows) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  ds.setitem(1, "age", Value(99));
  ds.deleterow(3);
  const long added = ds.insertrow(0);
  ds.setitem(added, "code", Value("009"));  // taken by dept b's row
  ds.setitem(added, "name", Value("重号"));
  EXPECT_EQ(ds.update(), -1);
  EXPECT_EQ(db.sqlca().sqlcode, -1);
  EXPECT_FALSE(ds.last_error().empty());
  // The change and the delete that ran before the failing insert are undone as well.
  db.sqlca().commit();
  EXPECT_EQ(stored(), (std::vector<std::string>{"001 张三 40", "002 李四 30", "003 王五 20"}));
  EXPECT_EQ(ds.modifiedcount(), 2);
  EXPECT_EQ(ds.deletedcount(), 1);

  ds.setitem(added, "code", Value("010"));
  ASSERT_EQ(ds.update(), 1) << ds.last_error();
  db.sqlca().commit();
  EXPECT_EQ(stored(), (std::vector<std::string>{"001 张三 99", "002 李四 30", "010 重号 null"}));
}

TEST_P(DataStoreTest, UpdateOfARowChangedByOthersFails) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  db.run("delete from person where code = '002'");
  ds.setitem(2, "age", Value(31));
  EXPECT_EQ(ds.update(), -1);
  EXPECT_NE(ds.last_error().find("changed"), std::string::npos);
}

TEST_P(DataStoreTest, ListHandling) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  static const struct {
    const char* expression;
    long start, end, row;
  } finds[] = {
      {"age > 25", 1, 3, 1},
      {"age > 25", 2, 3, 2},
      {"age > 25", 3, 1, 2},  // backwards
      {"name = '王五'", 1, 99, 3},
      {"age > 100", 1, 3, 0},
      {"age > 0", 4, 4, 0},  // the usual "next match" after the last row: none
      {"age > 0", 3, 99, 3},
      {"age >", 1, 3, -1},
      {"nosuch = 1", 1, 3, -1},
  };
  for (const auto& f : finds) EXPECT_EQ(ds.find(f.expression, f.start, f.end), f.row) << f.expression;

  ASSERT_EQ(ds.setfilter("age >= 30"), 1);
  ASSERT_EQ(ds.filter(), 1);
  EXPECT_EQ(ds.rowcount(), 2);
  EXPECT_EQ(ds.filteredcount(), 1);
  // A condition that reads every row judges them all as they were.
  ASSERT_EQ(ds.setfilter("age * 3 >= sum(age)"), 1);
  ASSERT_EQ(ds.filter(), 1);
  EXPECT_EQ(ds.rowcount(), 2) << "40 and 30 against a sum of 90";
  EXPECT_EQ(ds.filteredcount(), 1);
  ds.setfilter("");
  ds.filter();
  EXPECT_EQ(ds.rowcount(), 3);

  DataStore copy;
  ASSERT_EQ(copy.create(kPersonForm), "");
  ASSERT_EQ(ds.rowscopy(2, 3, Buffer::Primary, copy, 1, Buffer::Primary), 1) << "row 1 of an empty form";
  EXPECT_EQ(copy.rowcount(), 2);
  EXPECT_EQ(copy.getitem(2, "name"), Value("王五"));
  EXPECT_EQ(copy.getitemstatus(1), RowStatus::NewModified);
  // A value the target cannot hold stops the copy instead of being lost.
  DataStore narrow;
  ASSERT_EQ(narrow.create(std::string(kPersonForm).replace(std::string(kPersonForm).find("char(4)"), 7, "char(1)")), "");
  EXPECT_EQ(ds.rowscopy(1, 3, Buffer::Primary, narrow, 0, Buffer::Primary), -1);
  EXPECT_EQ(narrow.rowcount(), 0);

  EXPECT_EQ(ds.setrow(3), 1);
  EXPECT_EQ(ds.getrow(), 3);
  EXPECT_EQ(ds.setrow(4), -1);
  EXPECT_EQ(ds.getrow(), 3);
  ds.reset();
  EXPECT_EQ(ds.rowcount(), 0);
}

// One row read again alone: its new values in its place, a row new to the list where the
// list's order puts it, a row the statement no longer gives gone; the others as they were.
TEST_P(DataStoreTest, ReselectReadsOneRowAgain) {
  ASSERT_EQ(ds.retrieve({"a"}), 3);
  ASSERT_EQ(ds.setitem(1, "age", Value(41)), 1);  // a change not yet written stays
  auto other = db.connect_again();
  other->execute("update person set name = '李四四' where code = '002'");
  other->execute("update person set name = '改' where code = '001'");
  other->execute("update person set dept = 'b' where code = '003'");
  other->execute("insert into person values ('000', '新', 10, null, 'a')");
  other->execute("insert into person values ('004', '新二', 11, null, 'a')");
  ASSERT_EQ(other->commit(), 0);
  const auto by_code = [](const DataStore& store, long a, long b) {
    return store.getitem(a, "code").compare(store.getitem(b, "code")) < 0;
  };
  const auto codes = [&] {
    std::string text;
    for (long r = 1; r <= ds.rowcount(); ++r) text += ds.getitemstring(r, "code") + " ";
    return text;
  };

  EXPECT_EQ(ds.reselect("code", Value("002")), 2);
  EXPECT_EQ(ds.getitem(2, "name"), Value("李四四"));
  EXPECT_EQ(ds.getitemstatus(2), RowStatus::NotModified);
  EXPECT_EQ(ds.getitem(1, "name"), Value("张三")) << "only the row asked for is read";
  EXPECT_EQ(ds.getitem(1, "age"), Value(41));
  EXPECT_EQ(ds.getitemstatus(1), RowStatus::DataModified);

  EXPECT_EQ(ds.reselect("code", Value("000"), by_code), 1);
  EXPECT_EQ(ds.reselect("code", Value("004")), 5) << "without an order: appended";
  EXPECT_EQ(codes(), "000 001 002 003 004 ");
  EXPECT_EQ(ds.reselect("code", Value("003"), by_code), 0) << "no longer in dept a";
  EXPECT_EQ(codes(), "000 001 002 004 ");
  EXPECT_EQ(ds.reselect("code", Value("404")), 0);
  EXPECT_EQ(ds.rowcount(), 4);

  EXPECT_EQ(ds.reselect("nosuch", Value("002")), -1);
  EXPECT_EQ(codes(), "000 001 002 004 ");
  // The changed row writes only its change, by its retrieved key.
  ASSERT_EQ(ds.update_and_commit(), 1) << ds.last_error();
  EXPECT_EQ(stored(), (std::vector<std::string>{"000 新 10", "001 改 41", "002 李四四 30", "004 新二 11"}));
}

// A decimal column holds its digits after the point as the database does, rounding half
// away from zero the decimal that was written.
TEST(DecimalColumns, HoldTheirDigitsAfterThePoint) {
  DataStore amounts;
  ASSERT_EQ(amounts.create("form(name=d_amounts style=grid)\ndetail(height=20)\n"
                           "column(name=amount type=decimal(2))\ncolumn(name=ratio type=number)\n"),
            "");
  static const struct {
    double given, held;
  } cases[] = {{2.675, 2.68}, {0.1 + 0.2, 0.3}, {-2.675, -2.68}, {1.004, 1.0}, {-0.001, 0.0}, {12345678.905, 12345678.91}, {7, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    const long row = amounts.insertrow(0);
    ASSERT_EQ(amounts.setitem(row, "amount", Value(c.given)), 1);
    EXPECT_EQ(amounts.getitem(row, "amount"), Value(c.held));
    EXPECT_EQ(amounts.getitem(row, "amount").to_string(), Value(c.held).to_string()) << "no -0";
    ASSERT_EQ(amounts.setitem(row, "ratio", Value(c.given)), 1);
    EXPECT_EQ(amounts.getitem(row, "ratio"), Value(c.given)) << "a number column keeps every digit";
  }
}

TEST_P(DataStoreTest, ModifyAndDescribeSpeakTheDefinitionsProperties) {
  EXPECT_EQ(ds.modify("datawindow.print.preview=yes name.visible = 0"), "");
  EXPECT_EQ(ds.describe("datawindow.print.preview"), "yes");
  EXPECT_EQ(ds.describe("name.visible"), "0");
  EXPECT_NE(ds.modify("nosuch.visible=0"), "");
  EXPECT_EQ(ds.describe("name.visible"), "0") << "a failed modify changes nothing";
}

TEST_P(DataStoreTest, SyntaxFromSqlBuildsAFormThatRetrieves) {
  std::string error;
  const std::string syntax =
      syntax_from_sql(db.sqlca(), "select code, name, age from person where dept = 'a' order by code", "style(type=grid)", error);
  ASSERT_FALSE(syntax.empty()) << error;
  DataStore built;
  ASSERT_EQ(built.create(syntax), "");
  EXPECT_EQ(built.def().style, Style::Grid);
  built.settransobject(&db.sqlca());
  ASSERT_EQ(built.retrieve(), 3) << built.last_error();
  EXPECT_EQ(built.getitem(3, "age"), Value(20));
  // An unaliased expression gets a name of its own (PostgreSQL names it itself).
  DataStore counted;
  ASSERT_EQ(counted.create(syntax_from_sql(db.sqlca(), "select dept, count(*) from person group by dept",
                                           "style(type=grid)", error)),
            "")
      << error;
  EXPECT_EQ(counted.def().columns[1].name, GetParam() == Backend::SQLite ? "compute_0001" : "count");
  EXPECT_EQ(counted.def().columns[1].name + "_t", counted.def().objects.back().name);
  DataStore aliased;
  ASSERT_EQ(aliased.create(syntax_from_sql(db.sqlca(), "select name as 姓名 from person", "style(type=grid)", error)), "");
  EXPECT_EQ(aliased.def().columns[0].name, "姓名") << "a Chinese alias is a name";
  EXPECT_EQ(syntax_from_sql(db.sqlca(), "select nosuch from person", "style(type=grid)", error), "");
  EXPECT_FALSE(error.empty());
  EXPECT_NE(built.create("column(name=x"), "") << "malformed syntax answers an error";
}

TEST_P(DataStoreTest, CompositeKeepsItsArgumentsForItsNestedReports) {
  DataStore composite;
  ASSERT_EQ(composite.create("form(name=d_pair style=composite)\ndetail(height=200)\n"
                             "argument(name=dept type=char(10))\n"
                             "report(name=dw_1 x=0 y=0 width=300 height=100 form=d_person arguments=\"dept\")\n"),
            "");
  composite.settransobject(&db.sqlca());
  EXPECT_EQ(composite.retrieve({"a"}), 1) << composite.last_error();
  EXPECT_EQ(composite.retrieval_arguments(), std::vector<Value>{"a"});
  EXPECT_NE(composite.create("form(style=composite)\nreport(name=dw_1 form=d_person arguments=\"nosuch\")\n"), "")
      << "a report argument must name a column or an argument";
}

INSTANTIATE_TEST_SUITE_P(Databases, DataStoreTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         backend_name);

TEST(ParseEntry, ReadsWhatUsersType) {
  using namespace std::string_view_literals;
  static const struct {
    const char* type;
    std::string_view text;
    const char* expected;  // printed value, or the user's reason when refused
    bool refused = false;
  } cases[] = {
      {"long", "42", "42"},
      {"long", " 7 ", "7"},
      {"long", "4.5", "“4.5”不是整数", true},
      {"long", "abc", "“abc”不是数字", true},
      {"long", "1人", "“1人”不是数字", true},
      {"long", "", "null"},
      {"number", "0.5", "0.5"},
      {"number", "x", "“x”不是数字", true},
      {"datetime", "2009-06-15", "2009-06-15"},
      {"datetime", "2009-02-30", "“2009-02-30”不是日期（yyyy-mm-dd）", true},
      {"char(2)", "ab", "ab"},
      {"char(2)", "abc", "输入的内容太长，最多2个字", true},
      {"char(2)", "", "null"},
      {"char(20)", "clerk004\0x"sv, "输入的内容含有不允许的控制字符", true},
      {"char(20)", "a\x1b[2Jb", "输入的内容含有不允许的控制字符", true},
      {"char(20)", "a\x7f", "输入的内容含有不允许的控制字符", true},
      {"char(20)", "两\n行", "此处只能输入一行文字", true},
      {"char(20)", "a\tb", "此处只能输入一行文字", true},
      {"char(500)", "第一行\r\n第二行\t完", "第一行\r\n第二行\t完"},
      {"char(500)", "a\0b"sv, "输入的内容含有不允许的控制字符", true},
  };
  for (const auto& c : cases) {
    auto value = parse_entry(*ColumnType::parse(c.type), c.text);
    if (!c.refused) {
      ASSERT_TRUE(value) << c.type << " " << c.text << ": " << value.refusal().describe();
      EXPECT_EQ(value->to_string(), c.expected) << c.type << " " << c.text;
    } else {
      ASSERT_FALSE(value) << c.type << " " << c.text;
      EXPECT_EQ(value.refusal().text, c.expected) << c.type << " " << c.text;
      EXPECT_EQ(value.refusal().code, RefusalCode::InvalidEntry);
    }
  }
}

}  // namespace
}  // namespace shenbao::testing
