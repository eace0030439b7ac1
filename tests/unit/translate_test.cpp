#include "common/translate.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

class TranslateTest : public PlatformTest {};

TEST_F(TranslateTest, Translate) {
  struct Row {
    const char* name;
    const char16_t* def;
    std::optional<Var> phrase;
    const char16_t* insert1;
    const char16_t* insert2;
    const char16_t* expected;
  };
  const Row rows[] = {
      {"caption", u"<1> Configuration", std::nullopt, u"LedraII", u"", u"LedraII Configuration"},
      {"no inserts", u"Lookup", std::nullopt, u"", u"", u"Lookup"},
      {"no placeholders", u"(Default)", std::nullopt, u"x", u"y", u"(Default)"},
      {"blanks only", u"   ", std::nullopt, u"x", u"y", u""},
      {"empty", u"", std::nullopt, u"x", u"y", u""},
      {"both placeholders", u"<2> of <1>", std::nullopt, u"3", u"5", u"5 of 3"},
      {"every occurrence", u"<1>-<1>", std::nullopt, u"a", u"", u"a-a"},
      {"unknown placeholder kept", u"<3> left", std::nullopt, u"x", u"y", u"<3> left"},
      {"exact placeholder only", u"< 1> <1 >", std::nullopt, u"x", u"y", u"< 1> <1 >"},
      // The second insert also fills a "<2>" that the first brought in...
      {"second fills the first's", u"<1>", std::nullopt, u"<2>!", u"two", u"two!"},
      // ...but an insert is not scanned for its own placeholder.
      {"first not rescanned", u"<1>", std::nullopt, u"<1><1>", u"", u"<1><1>"},
      {"phrase is the text", u"Lookup", Var(u"Search <1>"), u"x", u"", u"Search x"},
      // Only phrase and default together decide blankness; the default is not shown.
      {"blank phrase, default given", u"Lookup", Var(u"  "), u"", u"", u"  "},
      {"blank phrase, blank default", u" ", Var(u"  "), u"", u"", u""},
      {"empty phrase, no default", u"", Var(u""), u"", u"", u""},
      {"number phrase", u"", Var::Integer(5), u"", u"", u"5"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(ToUtf8(Translate(r.def, r.phrase, r.insert1, r.insert2)), ToUtf8(r.expected));
  }
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(TranslateTest, AnUnconvertiblePhraseIsLoggedAndGivesNothing) {
  EXPECT_EQ(ToUtf8(Translate(u"Lookup", Var::Null(), u"", u"")), "");
  EXPECT_TRUE(sys.Failures().empty());  // Null reads as the empty text

  EXPECT_EQ(ToUtf8(Translate(u"Lookup", Var::Obj(std::make_shared<Object>()), u"", u"")), "");
  ASSERT_EQ(sys.Failures().size(), 1u);
  EXPECT_EQ(sys.Failures()[0], "Type mismatch  @  Translate");
}

}  // namespace
}  // namespace ledra
