// The changes between two state documents: applied to the old one they give the new one,
// and a small change to a big document stays small.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "framework/runtime/values/json_text.h"
#include "framework/runtime/windows/state_diff.h"

namespace shenbao {
namespace {

using nlohmann::json;

json with(json document, const json& more) {
  document.update(more);
  return document;
}

json rows(int count, int changed = -1) {
  json out = json::array();
  for (int i = 0; i < count; ++i)
    out.push_back({{"values", {"name" + std::to_string(i), i == changed ? "changed" : "text"}}, {"codes", {i, nullptr}}});
  return out;
}

// Texts go into the state document written by hand: each must read back as itself, with
// what is not UTF-8 replaced, never as broken JSON.
TEST(StateDiffTest, TextsAreWrittenAsJsonStrings) {
  const struct {
    std::string text, reads_as;
  } cases[] = {
      {"", ""},
      {"保存成功", "保存成功"},
      {"say \"第1页\" \\ a\tb\nc\x01\x1f\x7f", "say \"第1页\" \\ a\tb\nc\x01\x1f\x7f"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},                      // four bytes
      {"ab\xe4\xbf", "ab\xef\xbf\xbd\xef\xbf\xbd"},                    // cut off at the end
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                        // overlong
      {"\xed\xa0\x80x", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdx"},      // a surrogate
      {"\xff\xfe保", "\xef\xbf\xbd\xef\xbf\xbd保"},
  };
  for (const auto& c : cases) {
    std::string text;
    append_json_string(text, c.text);
    EXPECT_EQ(json::parse(text).get<std::string>(), c.reads_as) << text;
  }
}

TEST(StateDiffTest, ChangesTurnTheOldDocumentIntoTheNew) {
  const json form = {{"row_count", 3}, {"rows_from", 1}, {"rows", rows(3)}, {"modified", false}};
  const struct {
    const char* what;
    json from, to;
  } cases[] = {
      {"nothing changed", form, form},
      {"a value", form, with(form, {{"modified", true}})},
      {"a key added", form, with(form, {{"lists", {{"post", {{"01", "A"}}}}}})},
      {"a key removed", with(form, {{"extra", 1}}), form},
      {"a row appended", form, with(form, {{"rows", rows(4)}, {"row_count", 4}})},
      {"rows cut", with(form, {{"rows", rows(5)}}), form},
      {"all rows gone", form, with(form, {{"rows", json::array()}})},
      {"a cell in one row", json{{"rows", rows(50)}}, json{{"rows", rows(50, 7)}}},
      {"a type changed", json{{"a", {1, 2}}}, json{{"a", "x"}}},
      {"null to a document", json{{"message", nullptr}}, json{{"message", {{"text", "保存成功"}, {"buttons", {"ok"}}}}}},
      {"another root", json::array({1}), json{{"a", 1}}},
  };
  for (const auto& c : cases) {
    json document = c.from;
    apply_state_changes(document, state_changes(c.from, c.to));
    EXPECT_EQ(document, c.to) << c.what;
  }
  EXPECT_TRUE(state_changes(form, form).empty());
}

TEST(StateDiffTest, SmallChangesStaySmallAndMovedWindowsGoWhole) {
  const json before = {{"sheets", {{{"controls", {{{"form", {{"rows", rows(100)}}}}}}}}}};
  json after = before;
  after["sheets"][0]["controls"][0]["form"]["rows"] = rows(100, 42);
  const json one = state_changes(before, after);
  ASSERT_EQ(one.size(), 1u) << one.dump();
  EXPECT_LT(one.dump().size(), 200u);

  // Every row differs (the window moved): the rows go as one replacement, no bigger than them.
  json moved = before;
  json shifted = json::array();
  for (int i = 0; i < 100; ++i) shifted.push_back({{"values", {"other" + std::to_string(i), "x"}}, {"codes", {i + 500, 1}}});
  moved["sheets"][0]["controls"][0]["form"]["rows"] = shifted;
  const json whole = state_changes(before, moved);
  EXPECT_LT(whole.dump().size(), shifted.dump().size() + 200);
}

}  // namespace
}  // namespace shenbao
