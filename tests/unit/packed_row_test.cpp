#include "framework/runtime/values/packed_row.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace shenbao::testing {
namespace {

PackedRow pack(const std::vector<Value>& values) {
  std::string packed;
  for (const Value& v : values) PackedRow::append(packed, v);
  return PackedRow(packed);
}

// Every kind of value at the edges of each width it is packed in comes back as it went in,
// read alone, read with the others, and next to a value replaced by one of another width.
TEST(PackedRow, HoldsEveryValueAsGiven) {
  static const struct {
    const char* name;
    Value value;
  } cases[] = {
      {"null", Value()},
      {"zero", Value(0)},
      {"one byte high", Value(127)},
      {"one byte low", Value(-128)},
      {"two bytes", Value(128)},
      {"two bytes low", Value(-32768)},
      {"four bytes", Value(32768)},
      {"four bytes high", Value(2147483647LL)},
      {"eight bytes", Value(2147483648LL)},
      {"long min", Value(std::numeric_limits<long long>::min())},
      {"long max", Value(std::numeric_limits<long long>::max())},
      {"number", Value(5230.25)},
      {"negative number", Value(-0.5)},
      {"whole number as a number", Value(3.0)},
      {"date before 1970", Value(DateTime::from_civil(1962, 3, 15))},
      {"date and time", Value(DateTime::from_civil(2009, 6, 15, 23, 59, 59))},
      {"date past 2038", Value(DateTime::from_civil(2100, 1, 1))},
      {"empty text", Value("")},
      {"short text", Value("张建国")},
      {"text of 127 bytes", Value(std::string(127, 'a'))},
      {"text of 128 bytes", Value(std::string(128, 'b'))},
      {"long text", Value(std::string(40000, 'c'))},
      {"text holding a NUL", Value(std::string_view("a\0b", 3))},
  };
  std::vector<Value> all;
  for (const auto& c : cases) all.push_back(c.value);
  PackedRow row = pack(all);
  for (size_t i = 0; i < all.size(); ++i) {
    const Value got = row.get(i);
    EXPECT_EQ(got.kind(), all[i].kind()) << cases[i].name;
    EXPECT_EQ(got, all[i]) << cases[i].name;
  }
  EXPECT_EQ(row.unpack(), all);

  // Each value replaced by the next case's (a different width): the others stay as they were.
  for (size_t i = 0; i < all.size(); ++i) {
    PackedRow changed = row;
    const Value next = all[(i + 1) % all.size()];
    changed.set(i, next);
    std::vector<Value> expected = all;
    expected[i] = next;
    EXPECT_EQ(changed.unpack(), expected) << cases[i].name;
    EXPECT_EQ(row.get(i), all[i]) << "the copy changed, not the row: " << cases[i].name;
  }
}

TEST(PackedRow, HoldsARowInAboutTheSizeOfItsValues) {
  std::vector<Value> values = {Value("W0000001"), Value("张建国"), Value("1"), Value(40), Value(5230.5),
                               Value(DateTime::from_civil(1962, 3, 15)), Value()};
  size_t payload = 0;
  for (const Value& v : values) payload += v.payload_size();
  const PackedRow row = pack(values);
  // A tag a value, a length and the allocator's header: within 1.5 times the values' size.
  EXPECT_LE(static_cast<double>(row.memory_used()), 1.5 * static_cast<double>(payload) + 16);
  EXPECT_EQ(PackedRow().memory_used(), 0u);
  EXPECT_TRUE(PackedRow().get(0).is_null());
}

}  // namespace
}  // namespace shenbao::testing
