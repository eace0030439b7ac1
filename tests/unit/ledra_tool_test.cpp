// The ledra tool's commands over a sample company on the local disk: what a
// support engineer reads, and the exit codes scripts rely on.
#include <gtest/gtest.h>

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

  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    args.push_back("--dbfile");
    args.push_back(temp.path + "/a_sname.dbf");
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
  };
  const Case cases[] = {
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
  }
  Run({"lookup", "2201"});
  EXPECT_EQ(out.str().find("MatchLastDigits"), std::string::npos) << out.str();
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
