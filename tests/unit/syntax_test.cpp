#include "framework/runtime/forms/syntax.h"

#include <gtest/gtest.h>

namespace shenbao {
namespace {

TEST(Syntax, ParsesAndPrintsCanonically) {
  static const struct {
    const char* name;
    const char* input;
    const char* printed;
  } cases[] = {
      {"empty", "", ""},
      {"comments and blank lines", "# a comment\n\n   # indented\nform(name=a)\n", "form(name=a)\n"},
      {"blanks around =", "column( name = sex_code  type =char(10) )", "column(name=sex_code type=char(10))\n"},
      {"dotted names", "column(font.face=SimSun dddw.name=d_select_sex print.preview=yes)",
       "column(font.face=SimSun dddw.name=d_select_sex print.preview=yes)\n"},
      {"balanced parentheses in bare values", "text(color=rgb(162,192,248) w=f(g(1),2))",
       "text(color=rgb(162,192,248) w=f(g(1),2))\n"},
      {"quoted with escapes", R"s(text(text="a \"b\" \\ c\nd\te"))s", R"s(text(text="a \"b\" \\ c\nd\te"))s" "\n"},
      {"quoted kept quoted", R"s(text(text="plain" v="=if(isnull(a), 0, 1)"))s",
       R"s(text(text="plain" v="=if(isnull(a), 0, 1)"))s" "\n"},
      {"two statements on one line, no properties", "header()detail(height=24)", "header()\ndetail(height=24)\n"},
      {"statement spanning lines", "text(\n  name=t\n  x=1\n)", "text(name=t x=1)\n"},
      {"utf-8 bare and quoted", "text(text=代码 t2=\"名 称\")", "text(text=代码 t2=\"名 称\")\n"},
      {"blank before (", "form  (name=x)", "form(name=x)\n"},
      {"backslash alone in a quoted value", "t(a=\"c:\\\\dir\")", "t(a=\"c:\\\\dir\")\n"},
      {"backslash in a bare value", "t(a=c:\\dir)", "t(a=c:\\dir)\n"},
      {"value with = and #", "t(a=b=c d=#1)", "t(a=b=c d=#1)\n"},
  };
  for (const auto& c : cases) {
    std::string error = "not cleared";
    const auto statements = parse_statements(c.input, error);
    EXPECT_EQ(error, "") << c.name;
    EXPECT_EQ(print_statements(statements), c.printed) << c.name;
  }
}

TEST(Syntax, ReadsValuesAndLines) {
  std::string error;
  const auto st = parse_statements("# head\nform(name=f)\n\ncolumn(name=a\n type=\"char(10)\")\ntext(text=\"x\\\"y\")", error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(st.size(), 3u);
  EXPECT_EQ(st[0].line, 2);
  EXPECT_EQ(st[1].line, 4);
  EXPECT_EQ(st[2].line, 6);
  EXPECT_EQ(st[1].kind, "column");
  EXPECT_EQ(st[1].get("type"), "char(10)");
  EXPECT_TRUE(st[1].find("type")->quoted);
  EXPECT_FALSE(st[1].find("name")->quoted);
  EXPECT_EQ(st[1].get("missing", "fb"), "fb");
  EXPECT_EQ(st[2].get("text"), "x\"y");
}

TEST(Syntax, RejectsMalformedInputWithLine) {
  static const struct {
    const char* name;
    const char* input;
    const char* error;
  } cases[] = {
      {"no parenthesis", "form name=a", "line 1: expected '(' after form"},
      {"not closed, at the line it starts", "form(name=a)\ntext(name=t\n\n", "line 2: text(...) is not closed with ')'"},
      {"unterminated quote", "form(name=a)\ntext(\ntext=\"abc)\n", "line 3: text: quoted value without its closing \""},
      {"unbalanced ( in bare value", "text(color=rgb(1,2 x=1)", "line 1: color: unbalanced '(' in value rgb(1,2"},
      {"missing value", "text(x= )", "line 1: x: missing value before ')'"},
      {"missing value at end", "text(x=", "line 1: x: missing value at the end"},
      {"missing =", "\ntext(x 1)", "line 2: expected '=' after x"},
      {"unknown escape", "text(t=\"a\\qb\")", "line 1: t: unknown escape \\q in a quoted value"},
      {"name starting with a digit", "text(1x=2)", "line 1: expected a property name in text(...), found '1'"},
      {"duplicate property", "text(x=1 y=2 x=3)", "line 1: property x given twice in text(...)"},
      {"stray characters", "form(name=a) )", "line 1: expected a statement, found ')'"},
      {"quote right after a bare value", "text(x=a\"b\")", "line 1: expected a property name in text(...), found '\"'"},
      {"control byte", "text(x=1)\n\x01", "line 2: expected a statement, found byte 0x01"},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto st = parse_statements(c.input, error);
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(st.empty()) << c.name;
  }
}

TEST(Syntax, PrintThenParseGivesTheSameStatements) {
  std::vector<Statement> in(2);
  in[0].kind = "text";
  const char* values[] = {"", "a b", "q\"uote", "back\\slash", "new\nline", "tab\there", "close)", "(open",
                          "=expr", "char(10)", "代码", "a)(b", "x\r"};
  int i = 0;
  for (const char* v : values) in[0].set("p" + std::to_string(i++), v, false);
  in[1].kind = "compute";
  in[1].set("expression", "a + b", true);
  in[1].set("q", "plain", true);
  in[1].set("font.face", "SimSun", false);

  std::string error;
  const auto out = parse_statements(print_statements(in), error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(out.size(), in.size());
  for (size_t s = 0; s < in.size(); ++s) {
    EXPECT_EQ(out[s].kind, in[s].kind);
    ASSERT_EQ(out[s].properties.size(), in[s].properties.size());
    for (size_t p = 0; p < in[s].properties.size(); ++p) {
      const Property& a = in[s].properties[p];
      const Property& b = out[s].properties[p];
      EXPECT_EQ(b.name, a.name);
      EXPECT_EQ(b.value, a.value) << a.name;
      // Bare values that could not be written bare come back quoted; quoted ones stay quoted.
      EXPECT_EQ(b.quoted, a.quoted || value_needs_quotes(a.value)) << a.name;
    }
  }
}

TEST(Syntax, QuoteValue) {
  static const struct {
    const char* value;
    const char* quoted;
  } cases[] = {
      {"12", "12"},           {"rgb(1,2,3)", "rgb(1,2,3)"}, {"", "\"\""},
      {"a b", "\"a b\""},     {"a\"b", "\"a\\\"b\""},      {"a\\b", "a\\b"},
      {"x)", "\"x)\""},       {"(x", "\"(x\""},            {"l1\nl2", "\"l1\\nl2\""},
  };
  for (const auto& c : cases) EXPECT_EQ(quote_value(c.value), c.quoted) << c.value;
}

TEST(Syntax, StatementSetReplacesOrAppends) {
  Statement st;
  st.set("x", "1", false);
  st.set("y", "2", false);
  st.set("x", "a b", true);
  ASSERT_EQ(st.properties.size(), 2u);
  EXPECT_EQ(st.properties[0].value, "a b");
  EXPECT_TRUE(st.properties[0].quoted);
}

TEST(Syntax, ReadStatementAdvancesPosition) {
  std::string error;
  size_t pos = 0;
  const std::string_view text = "  line(band=header x1=\"270\") destroy t";
  const auto st = read_statement(text, pos, error);
  ASSERT_TRUE(st) << error;
  EXPECT_EQ(st->kind, "line");
  EXPECT_EQ(st->get("x1"), "270");
  EXPECT_EQ(text.substr(pos), " destroy t");
}

}  // namespace
}  // namespace shenbao
