#include "base/text_matching.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

class TextMatchingTest : public PlatformTest {};

std::string U8(const Text& t) { return ToUtf8(t); }

// DigitsOnly: each row the digits alone, and with the dialling format kept.
TEST_F(TextMatchingTest, DigitsOnly) {
  struct Row { const char16_t* source; const char16_t* digits; const char16_t* kept; };
  const Row rows[] = {
      {u"+44 (0)20 7946-0000", u"4402079460000", u"+44 (0)20 79460000"},
      // Leading blanks vanish, runs collapse, the trailing blank stays.
      {u"  0161   496 ", u"0161496", u"0161 496 "},
      {u"(x)123", u"123", u")123"}, {u"*31#", u"*31#", u"*31#"}, {u"", u"", u""}, {u"1.5", u"15", u"1.5"},
      // A digit nine blanks on is inside the ten-character window; ten on, it is not, so the "+" goes.
      {u"+         1", u"1", u"+ 1"}, {u"+          1", u"1", u"1"},
      // Punctuation before punctuation: only the one that a digit follows
      // stays; at the end it has nothing after it.
      {u"(+44", u"44", u"+44"}, {u"12.", u"12", u"12"},
      // A tab is not a blank: it neither survives nor counts as a gap.
      {u"01\t23", u"0123", u"0123"}, {u"+\t1", u"1", u"1"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(U8(DigitsOnly(r.source, false)), U8(r.digits)) << U8(r.source);
    EXPECT_EQ(U8(DigitsOnly(r.source, true)), U8(r.kept)) << U8(r.source);
  }
}

// The other routines from text to text, each row one call.
TEST_F(TextMatchingTest, TextToText) {
  const auto rid_star = [](const Text& s) { return RidStr(s, u"*"); };
  const auto rid_ab = [](const Text& s) { return RidStr(s, u"ab"); };
  struct Row { Text (*routine)(const Text&); Text source; const char16_t* expected; };
  const Row rows[] = {
      {WordsOnly, u"Smith & Sons, Ltd. ", u"SMITH,SONS,LTD"}, {WordsOnly, u"  Smith", u",SMITH"},
      {WordsOnly, u"O'Brien", u"O,BRIEN"}, {WordsOnly, u"Caf\u00e9 24", u"CAF,24"}, {WordsOnly, u"", u""},
      {WordsOnly, u"abc123", u"ABC123"}, {WordsOnly, u"a\tb", u"A,B"}, {WordsOnly, u"--", u""},
      {WordsOnly, u"-a-", u",A"}, {WordsOnly, u"\u00c9clair", u",CLAIR"},
      {rid_star, u"**AB*C", u"ABC"}, {rid_star, u"ABC", u"ABC"}, {rid_star, u"***", u""},
      // Cutting one occurrence joins a new one, which goes too.
      {rid_ab, u"aabb", u""}, {rid_ab, u"xaabby", u"xy"},
      {ZTrim, Text(u"Path\0more", 9), u"Path"}, {ZTrim, u"Path", u"Path"}, {ZTrim, u"\x1f" u"abc", u""},
      {ZTrim, u"A\tB", u"A"}, {ZTrim, u"A B ", u"A B "}, {ZTrim, u"A\x7f\u00e9", u"A\x7f\u00e9"},
  };
  for (const Row& r : rows) EXPECT_EQ(U8(r.routine(r.source)), U8(r.expected)) << U8(r.source);
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(TextMatchingTest, WordsMatch) {
  struct Row { const char16_t* target; const char16_t* words; bool expected; };
  const Row rows[] = {
      {u",JOHN,SMITH", u"SM,JO", true}, {u",JOHN,SMITH", u"SMITHS", false}, {u",JOHN,SMITH", u"", true},
      {u",JOHN,SMITH", u"OHN", false}, {u",JOHN,SMITH", u"JO,XY", false}, {u",JOHN,SMITH", u"john", false},
      // A trailing comma leaves no further word; an empty word matches any
      // target that has a comma.
      {u",JOHN,SMITH", u"JO,", true}, {u",JOHN,SMITH", u"JO,,SM", true},
      {u"JOHN", u",JO", false}, {u"", u"", true}, {u"", u"A", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.target) + " / " + U8(r.words));
    EXPECT_EQ(WordsMatch(r.target, r.words), r.expected);
  }
  EXPECT_TRUE(sys.Failures().empty());
}

// A list box as ListSearch sees it; reading a property can be made to fail.
class FakeList : public ListControl {
 public:
  explicit FakeList(std::vector<std::pair<Text, int32_t>> items) : items_(std::move(items)) {}
  int ListCount() const override {
    if (count_fails) Raise(Err::NotSupported);
    return static_cast<int>(items_.size());
  }
  Text List(int index) const override {
    if (index == failing_item) Raise(Err::NotSupported);
    return items_.at(index).first;
  }
  int32_t ItemData(int index) const override {
    if (index == failing_item) Raise(Err::NotSupported);
    return items_.at(index).second;
  }
  bool count_fails = false;
  int failing_item = -1;

 private:
  std::vector<std::pair<Text, int32_t>> items_;
};

TEST_F(TextMatchingTest, ListSearch) {
  FakeList list({{u"Show contact", 10}, {u"Sales processing", 20}, {u"20", 99}});
  struct Row { const char* name; Var value; int16_t expected; };
  const Row rows[] = {
      {"whole text, other case", Var(u"sales processing"), 1},
      {"a leading part is not enough", Var(u"SHOW"), -1},
      {"text of a number goes by text", Var(u"20"), 2},
      {"double by item data", Var::Double(20.0), 1},
      {"double matching no item data", Var::Double(11), -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(ListSearch(list, r.value), r.expected);
  }
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(TextMatchingTest, ListSearchOverUnreadableControl) {
  FakeList broken({{u"Show contact", 10}});
  broken.count_fails = true;
  EXPECT_EQ(ListSearch(broken, Var(u"Show contact")), -1);
  ASSERT_EQ(sys.Failures().size(), 1u);
  EXPECT_EQ(sys.Failures()[0], "Object doesn't support this property or method @ basGlobal.ListSearch");

  // One unreadable item is logged and the search goes on with the next.
  FakeList partly({{u"Show contact", 10}, {u"Show contact", 20}});
  partly.failing_item = 0;
  EXPECT_EQ(ListSearch(partly, Var(u"show contact")), 1);
  EXPECT_EQ(sys.Failures().size(), 2u);
}

}  // namespace
}  // namespace ledra
