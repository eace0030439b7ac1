// The ledra tool's commands over a sample company on the local disk: what a
// support engineer reads, and the exit codes scripts rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "fakes/fake_platform.h"
#include "fakes/temp_folder.h"
#include "platform/native/native_files.h"
#include "tools/ledra.h"
#include "tools/sample_tables.h"

namespace ledra::testing {
namespace {

class LedraToolTest : public PlatformTest {
 protected:
  LedraToolTest() {
    sys.platform.files = &files;
    summary = sample::GenerateCompany(temp.path, "a_", 120, 5, sample::CompanyOptions());
  }

  // With the sample company's table, unless args name another.
  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    if (std::find(args.begin(), args.end(), "--dbfile") == args.end()) {
      args.push_back("--dbfile");
      args.push_back(temp.path + "/a_sname.dbf");
    }
    return tool::Run(args, out, err);
  }

  NativeFiles files;
  TempFolder temp;
  sample::CompanySummary summary;
  std::ostringstream out, err;
};

TEST_F(LedraToolTest, ExitCodesAndWhatIsPrinted) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* shown;  // a line the output holds
    const char* not_shown = nullptr;
  };
  const std::vector<std::string> broken = {"--dbfile", "X:\\nonexistent\\a_sname.dbf"};
  auto in_broken = [&](std::vector<std::string> args) {
    args.insert(args.end(), broken.begin(), broken.end());
    return args;
  };
  const char* const load_failed = "The data could not be loaded: Could not load SName: The data folder";
  const Case cases[] = {
      {in_broken({"check"}), 1, "check: FAILED: data source, suppliers, customers\n"},
      {in_broken({"lookup", "123"}), 1, load_failed, "No contact found"},
      {in_broken({"search", "harr"}), 1, load_failed, "No contacts found"},
      {in_broken({"show", "snHARR01"}), 1, load_failed, "No contact with Id"},
      {{"check"}, 0, "check: all passed\n"},
      {{"search", "ren"}, 0, "Id             Company                          Name                     Telephone\n"},
      {{"lookup", "01234 567890"}, 0, "  Id        pnACME01\n"},
      {{"lookup", "09876 543210"}, 1, "No contact found for 09876 543210 (digits searched: 09876543210"},
      {{"show", "snHARR01"}, 0, "  Company   Harrison & Sons\n"},
      {{"show", "snNOSUCH"}, 1, "No contact with Id snNOSUCH\n"},
      {{"search", "acme"}, 0, "pnACME01"},
      {{"list", "--letter", "H"}, 0, "snHARR01"},
      {{"lookup", "01234 567890", "--vars"}, 0, "{Id(S8)=pnACME01}{Name(S7)=J Smith}"},
      {{"check"}, 0, "  code page  1252 (mark 0x03)\n"},
      {{"check"}, 0, "numbers     matched on all their digits (MatchLastDigits)\n"},
      {{"lookup"}, 2, ""},
      {{"frobnicate"}, 2, ""},
      {{"list", "--letter"}, 2, ""},
      // From here on with MatchLastDigits 9, shown where it acts.
      {{"lookup", "+44 1234 567890"}, 0, "MatchLastDigits 9: 441234567890 is searched as its last 9 digits, 234567890\n"
                                         "Caller +44 1234 567890 is the supplier Acme Ltd\n"},
      {{"check"}, 0, "numbers     matched on their last 9 digits (MatchLastDigits)\n"},
  };
  for (const Case& c : cases) {
    if (c.args.size() > 1 && c.args[1][0] == '+') {
      sys.registry.SetText(Registry::kLocalMachine, u"Software\\LedraII", u"MatchLastDigits", u"9");
    }
    EXPECT_EQ(Run(c.args), c.code) << c.args[0] << "\n" << out.str() << err.str();
    EXPECT_NE(out.str().find(c.shown), std::string::npos) << c.args[0] << "\n" << out.str();
    if (c.not_shown) EXPECT_EQ(out.str().find(c.not_shown), std::string::npos) << c.args[0] << "\n" << out.str();
  }
  Run({"lookup", "2201"});
  EXPECT_EQ(out.str().find("MatchLastDigits"), std::string::npos) << out.str();

  // The telephone column starts at the same character on every line of a
  // listing whose names hold letters of two bytes ("Renée").
  Run({"search", "ren"});
  std::istringstream lines(out.str());
  int wide = 0, listed = 0;
  for (std::string line; std::getline(lines, line) && line.find(" found (") == std::string::npos; ++listed) {
    std::u32string chars;
    for (char32_t c : FromUtf8(line)) chars += c;
    wide += chars.size() < line.size();
    ASSERT_GE(chars.size(), 73u) << line;
    EXPECT_TRUE(chars[72] == U' ' && (chars.size() == 73 || chars[73] != U' ')) << line;
  }
  EXPECT_GT(wide, 0);
  EXPECT_GE(listed, 2);  // the heading and a contact at least
}

TEST_F(LedraToolTest, ExportWritesEveryLiveContactAsCsv) {
  ASSERT_EQ(Run({"export"}), 0) << err.str();
  std::istringstream lines(out.str());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "Id,Name,Company,Maintel,Fax,Address1,Address2,Town,PostCode");
  std::getline(lines, line);
  EXPECT_EQ(line, "pnACME01,J Smith,Acme Ltd,01234 567890,,\"Unit 4, Riverside Park\",Mill Lane,Bedford,MK40 1AA");
  uint64_t rows = 1;
  while (std::getline(lines, line)) ++rows;
  const uint64_t live = summary.suppliers.records - summary.suppliers.deleted + summary.customers.records -
                        summary.customers.deleted;
  EXPECT_EQ(rows, live);
  EXPECT_EQ(err.str(), std::to_string(live) + " contacts exported\n");
}

}  // namespace
}  // namespace ledra::testing
