// The search key cache answers exactly as the scan does, within its bound,
// over tables that change in every way between searches and during the
// worker's reads. Sessions on several threads are the stress test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "base/vars.h"
#include "contacts/data_source.h"
#include "search/search_keys.h"
#include "fakes/fake_platform.h"
#include "fakes/memory_files.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::DbfValue;
using testing::DbfWriter;
using testing::MemoryFiles;

struct Row { std::string account, name; DbfValue contact; DbfValue tel; bool deleted = false; };

const char* const kNames[] = {"Acme Ltd", "mason & sons", " Moss Bros", "Caf\xe9 M\xfcller", "", "O'Brien",
                              "Mill Lane Garage", "Smithson Ltd", "M", "Zeta"};
const char* const kPeople[] = {"J Smith", "Ann Brown", "Dave Pennington", "\xc9mile Marsh", "Smi th"};

std::string Number(uint32_t i) {
  char tel[32];
  std::snprintf(tel, sizeof tel, "0161 %03u %04u", i % 13, i * 7 % 10000);
  return tel;
}

// Rows of every kind the keys must get right: plain, lower-case, leading
// blanks, nulls, accented letters, "#" in the telephone, empty names.
std::vector<Row> Company(const std::string& code, int n) {
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) {
    Row r;
    r.account = code + std::to_string(i);
    r.name = kNames[i % 10];
    r.contact = i % 7 == 3 ? DbfValue() : DbfValue(kPeople[i % 5]);
    r.tel = i % 11 == 5 ? DbfValue() : i % 29 == 4 ? DbfValue("*31#") : DbfValue(Number(i));
    r.deleted = i % 17 == 9;
    rows.push_back(r);
  }
  return rows;
}

std::string Table(const std::string& code, const std::vector<Row>& rows) {
  DbfWriter w(0x30);
  w.CodePage(0x03);
  w.Field(code + "_ACCOUNT", 'C', 10).Field(code + "_NAME", 'C', 40).Field(code + "_CONTACT", 'C', 30, 0, true);
  w.Field(code + "_TELENO", 'C', 20, 0, true).Field(code + "_FAXNO", 'C', 20).Field(code + "_ADDR1", 'C', 30);
  w.Field(code + "_ADDR2", 'C', 30).Field(code + "_ADDR3", 'C', 30).Field(code + "_PSTCODE", 'C', 10);
  for (const Row& r : rows) {
    w.Row({r.account, r.name, r.contact, r.tel, "", "1 High St", "", "Leeds", "LS1"}, r.deleted);
  }
  return w.Build();
}

struct Request { bool list; std::string rd; };

Text Ask(Session& s, const Request& r) {
  const Text rd = FromUtf8(r.rd);
  return r.list ? s.FindList(rd) : s.FindContact(rd);
}

// The scan's answer: with no budget the keys answer nothing.
Text Scanned(Session& s, const Request& r) {
  const uint64_t budget = SearchKeyBudget();
  SetSearchKeyBudget(0);
  Text answer = Ask(s, r);
  SetSearchKeyBudget(budget);
  return answer;
}

class SearchKeysTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    SetSearchKeyBudget(kDefaultSearchKeyBudget);
    sys.platform.files = &files;
    files.clock = &sys.clock;
    files.MakeFolder(u"C:\\Acc");
    tables[0] = Company("P", 150);
    tables[1] = Company("S", 300);
    Write(0);
    Write(1);
    s.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
    ASSERT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  }
  void TearDown() override { SetSearchKeyBudget(kDefaultSearchKeyBudget); }

  static Text Path(int t) { return t == 0 ? u"C:\\Acc/a_pname.dbf" : u"C:\\Acc/a_sname.dbf"; }
  // Rewrites the file's bytes in place, as a writer does; its write time
  // is now.
  void Write(int t) {
    std::string bytes = Table(t == 0 ? "pn" : "sn", tables[t]);
    if (auto b = files.Get(Path(t))) {
      *b = std::move(bytes);
    } else {
      files.Put(Path(t), std::move(bytes));
    }
    files.WriteTime(Path(t), *files.Get(Path(t)));
  }
  // The worker's rounds over the next ms milliseconds, four a second as
  // the worker's own.
  void Run(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 250) {
      sys.clock.ticks += 250;
      RefreshSearchKeys();
    }
  }
  void ExpectScansAnswers(const std::vector<Request>& requests, const std::string& when) {
    for (const Request& r : requests) {
      SCOPED_TRACE(when + ": " + r.rd);
      EXPECT_EQ(ToUtf8(Ask(s, r)), ToUtf8(Scanned(s, r)));
    }
  }

  MemoryFiles files;
  std::vector<Row> tables[2];
  Session s;
};

// Numbers and words sampled from the rows as they are now, and requests of
// every shape besides. A row just changed is asked for whole: every row
// with its number, or with its name's words, listed.
std::vector<Request> Sample(const std::vector<Row>* tables, const std::vector<Row>& changed, std::mt19937& rng) {
  // A quote fails the scan's queries: keys a word search left must not answer.
  std::vector<Request> out = {{false, "{Tel=09876 543210}"}, {true, "{Tel=#}"},           {true, "{Begin=m}"},
                              {true, "{Text=m}{MaxFind=7}"},  {true, "{Begin=a}{Text=acme}"}, {false, "{Tel=1}"},
                              {true, "{Begin='s}"}};
  for (size_t k = 0; k < 6 + changed.size(); ++k) {
    const bool whole = k < changed.size();
    const std::vector<Row>& rows = tables[rng() % 2];
    const Row& row = whole ? changed[k] : rows[rng() % rows.size()];
    const std::string most = whole ? "}{MaxFind=500}" : "}{MaxFind=3}";
    std::string digits;
    for (char c : row.tel.value_or("")) {
      if (IsDialling(static_cast<unsigned char>(c))) digits += c;
    }
    if (!digits.empty()) {
      const size_t from = whole ? 0 : rng() % digits.size();
      out.push_back({whole || k % 2 == 0, "{Tel=" + digits.substr(from, whole ? digits.size() : 1 + rng() % (digits.size() - from)) + most});
    }
    std::string word, words;
    for (char c : row.name + " " + row.contact.value_or("") + " ") {
      if (std::isalnum(static_cast<unsigned char>(c))) {
        word += c;
      } else if (!word.empty()) {
        words += (words.empty() ? "" : " ") + (whole ? word : word.substr(0, 1 + rng() % word.size()));
        word.clear();
        if (!whole && rng() % 2) break;
      }
    }
    if (!words.empty()) out.push_back({whole || k % 2 == 1, "{Text=" + words + most});
    if (!row.name.empty()) out.push_back({true, "{Begin=" + row.name.substr(0, 1) + most});
  }
  return out;
}

// Random edits, appends, deletions, recalls, packs and copies renamed over
// a table, each with the file's write time moved or held back, reported by
// the folder's watch or not, applied before the worker reads the file or
// while it reads it. Where the stamp moved the next search gets the scan's
// answer; where only the watch saw it, every search after the worker's
// next round; where nothing did, every search once the rolling check has
// been round the tables.
TEST_F(SearchKeysTest, AnswersAsTheScanAfterRandomChangesAtOnceOrWithinTheBound) {
  std::mt19937 rng(20240611);
  Run(3000);
  const SearchKeyStats before = SearchKeyState();
  enum Kind { kEdit, kAppend, kDelete, kRecall, kPack, kCopy };
  // Where: before the worker reads the file, while it reads it, or an edit
  // and a second one in the second the worker read the first, which the
  // write time does not show.
  enum When { kBefore, kDuringRead, kTwice };
  struct Step { Kind kind; bool held; bool reported; When when; };
  std::vector<Step> steps;
  for (Kind kind : {kEdit, kAppend, kDelete, kRecall, kPack, kCopy}) {
    for (bool held : {false, true}) steps.push_back({kind, held, kind % 2 == held, kBefore});
  }
  for (bool held : {false, true}) steps.push_back({kEdit, held, !held, kDuringRead});
  steps.push_back({kEdit, true, false, kDuringRead});
  steps.push_back({kEdit, false, true, kTwice});
  steps.push_back({kEdit, true, false, kTwice});
  steps.insert(steps.end(), steps.begin(), steps.end());
  std::shuffle(steps.begin(), steps.end(), rng);
  for (size_t step = 0; step < steps.size(); ++step) {
    const int t = static_cast<int>(rng() % 2);
    const auto [kind, held, reported, when] = steps[step];
    SCOPED_TRACE("step " + std::to_string(step) + " kind " + std::to_string(kind) + (held ? " held" : " moved") +
                 (reported ? " reported" : " unreported") + (when == kDuringRead ? " during a read" : "") +
                 (when == kTwice ? " twice" : ""));
    std::vector<Row>& rows = tables[t];
    const size_t size_before = files.Get(Path(t))->size();
    if (held) files.pinned_write_time[Path(t)] = files.WriteTime(Path(t), *files.Get(Path(t)));
    if (!reported) files.unreported.insert(Path(t));
    std::vector<Row> changed;
    auto change = [&] {
      Row& row = rows[rng() % rows.size()];
      switch (kind) {
        case kEdit:
        case kCopy:
          if (rng() % 2) {
            row.tel = Number(static_cast<uint32_t>(rng()));
          } else {
            row.name = kNames[rng() % 10];
            row.contact = kPeople[rng() % 5];
          }
          changed.push_back(row);
          break;
        case kAppend:
          for (int i = 1 + static_cast<int>(rng() % 3); i > 0; --i) {
            rows.push_back({"N" + std::to_string(rng() % 1000), kNames[rng() % 10], DbfValue(kPeople[rng() % 5]),
                            DbfValue(Number(static_cast<uint32_t>(rng())))});
            changed.push_back(rows.back());
          }
          break;
        case kDelete:
        case kRecall:
          for (Row& r : rows) {
            if (r.deleted == (kind == kRecall)) {
              r.deleted = kind == kDelete;
              if (changed.size() < 4) changed.push_back(r);
              if (rng() % 4 == 0) break;
            }
          }
          break;
        case kPack:
          rows.erase(std::remove_if(rows.begin(), rows.end(), [](const Row& r) { return r.deleted; }), rows.end());
          break;
        default:
          break;
      }
      if (kind == kCopy) {
        files.Put(Path(t), Table(t == 0 ? "pn" : "sn", rows));
      } else {
        Write(t);
      }
    };
    if (when == kDuringRead) {
      // Applied once the worker, building the table anew, is past the header.
      files.before_read = [&, armed = true](const Text& path, uint64_t offset) mutable {
        if (!armed || path != Path(t) || offset < 2000) return;
        armed = false;
        change();
      };
      files.read_chunk = 1000;
      ClearSearchKeys();
      Run(1000);
      files.before_read = nullptr;
      files.read_chunk = 0;
    } else {
      change();
    }
    if (when == kTwice) {
      Run(3000);
      files.pinned_write_time[Path(t)] = files.WriteTime(Path(t), *files.Get(Path(t)));
      change();
    }
    const std::vector<Request> requests = Sample(tables, changed, rng);
    const bool moved = (!held && when != kTwice) || kind == kCopy || files.Get(Path(t))->size() != size_before;
    if (moved) ExpectScansAnswers(requests, "at once");
    Run(250);
    if (moved || reported) ExpectScansAnswers(requests, "after a round");
    Run(90000);
    ExpectScansAnswers(requests, "after the rolling check");
    files.pinned_write_time.clear();
    files.unreported.clear();
  }
  const SearchKeyStats after = SearchKeyState();
  EXPECT_GT(after.keyed - before.keyed, 500u);  // the answers came from keys, not only from scans
  EXPECT_GT(after.builds - before.builds, 10u);
  EXPECT_GT(after.rolled - before.rolled, 10u);
  EXPECT_EQ(files.open_handles(), 0);
  for (const std::string& line : sys.Failures()) EXPECT_EQ(line.find("Unsupported SQL statement"), 0u) << line;
}

// The indexes hold runs of four dialling characters and word starts of
// three: requests shorter than those, and the "#" a request without a
// number is tested with, walk the keys instead, with the scan's answers.
TEST_F(SearchKeysTest, RequestsShorterThanAnIndexRunGetTheScansAnswers) {
  Run(3000);
  const uint64_t keyed = SearchKeyState().keyed;
  const std::vector<Request> requests = {
      {false, "{Tel=#}"},         {true, "{Tel=#}{MaxFind=9}"}, {true, "{Number=*}"},   {true, "{Tel=1#}"},
      {false, "{Tel=6}"},         {true, "{Tel=16}{MaxFind=5}"}, {true, "{Tel=006}"},   {true, "{Tel=31#}"},
      {false, "{Tel=0161}"},      {true, "{Text=sm}{MaxFind=4}"}, {true, "{Text=j,smi}"}, {true, "{Text=ma}{Tel=*3}"},
      {true, "{Begin=#}"},        {true, "{Begin=z}{Tel=#}"}};
  ExpectScansAnswers(requests, "keys warm");
  EXPECT_EQ(SearchKeyState().keyed, keyed + 2 * requests.size());
}

// While nothing changes the worker reads only the rolling check's spans,
// within its budget. A changed table is read once it has been quiet; one
// that shows a sign of the application's maintenance (refused, missing,
// its size changing under the read) is left alone for 5 s, then 10 s, ...
TEST_F(SearchKeysTest, TheWorkerReadsWhatChangedOnceQuietWithinItsBudgetAndBacksOff) {
  Run(3000);
  const uint64_t idle_from = files.bytes_read(), builds = SearchKeyState().builds;
  Run(60000);
  EXPECT_EQ(SearchKeyState().builds, builds);
  EXPECT_GT(SearchKeyState().rolled, 0u);
  EXPECT_LE(files.bytes_read() - idle_from, kRollBytesPerMinute + 2 * 64 * 1024);

  for (int i = 0; i < 10; ++i) {  // written every second: not read meanwhile
    tables[1][7].tel = Number(9000 + i);
    Write(1);
    Run(1000);
  }
  Run(750);
  EXPECT_EQ(SearchKeyState().builds, builds);
  Run(500);
  EXPECT_EQ(SearchKeyState().builds, builds + 1);

  const Text path = Path(1);
  std::string kept;
  struct Sign { const char* name; std::function<void()> begin, end; };
  const Sign signs[] = {
      {"refused", [&] { files.refused.insert(path); }, [&] { files.refused.clear(); }},
      {"missing", [&] { kept = *files.Get(path); files.Remove(path); }, [&] { files.Put(path, kept); }},
      {"resized during the read",
       [&] {
         files.read_chunk = 1000;
         files.before_read = [&](const Text& at, uint64_t offset) {
           if (at != path || offset < 2000) return;
           files.unreported.insert(path);  // only the size tells
           files.Get(path)->append(100, ' ');
         };
       },
       [&] { files.before_read = nullptr; }}};
  for (const Sign& sign : signs) {
    SCOPED_TRACE(sign.name);
    tables[1][8].tel = Number(static_cast<uint32_t>(sys.clock.ticks));
    Write(1);
    sign.begin();
    const uint64_t b = SearchKeyState().builds, backoffs = SearchKeyState().backoffs;
    std::vector<uint64_t> seen;
    for (int i = 0; i < 100; ++i) {  // 25 s
      Run(250);
      seen.push_back(SearchKeyState().backoffs - backoffs);
    }
    // Seen at the first round, tried 2 s later (quiet), then 5 and 10 s
    // after that; again 20 s after that.
    EXPECT_EQ(seen[7], 0u);
    EXPECT_EQ(seen[8], 1u);
    EXPECT_EQ(seen[27], 1u);
    EXPECT_EQ(seen[28], 2u);
    EXPECT_EQ(seen[67], 2u);
    EXPECT_EQ(seen[68], 3u);
    EXPECT_EQ(seen[99], 3u);
    sign.end();
    Write(1);
    files.unreported.clear();
    files.read_chunk = 0;
    Run(15000);
    EXPECT_EQ(SearchKeyState().builds, b + 1);
    EXPECT_EQ(SearchKeyState().backoffs, backoffs + 3);
    ExpectScansAnswers({{false, "{Tel=" + Number(static_cast<uint32_t>(sys.clock.ticks)) + "}"}, {true, "{Begin=a}"}},
                       sign.name);
  }

  // A watch that loses track (too many changes at once) puts every table of
  // its folder in doubt: both are read again, once.
  const uint64_t before_lost = SearchKeyState().builds;
  files.lose_track = true;
  Run(5000);
  EXPECT_EQ(SearchKeyState().builds, before_lost + 2);
  EXPECT_EQ(files.open_handles(), 0);
}

TEST_F(SearchKeysTest, AWarmSearchReadsOnlyTheHeadersAndTheAnsweredRows) {
  const Request known{false, "{Tel=0161 006 0042}"};
  Run(3000);
  int reads = 0;
  files.before_read = [&](const Text&, uint64_t) { ++reads; };
  Text warm = Ask(s, known);
  files.before_read = nullptr;
  EXPECT_EQ(ToUtf8(warm), ToUtf8(Scanned(s, known)));
  // Per table: the header and the row answered.
  EXPECT_EQ(reads, 4);
}

// A second company needs the room the first holds: the keys of the tables
// searched least recently go first. Keys of tables not searched for a
// while, or of a company no Session keeps loaded, are given back.
TEST_F(SearchKeysTest, KeysGoBackLeastRecentlyUsedFirstAndWhenNoLongerWanted) {
  const Request known{false, "{Tel=0161 006 0042}"};
  Run(3000);
  const uint64_t one_company = SearchKeyState().bytes;
  ASSERT_GT(one_company, 0u);
  SetSearchKeyBudget(one_company * 6 / 5);
  files.MakeFolder(u"C:\\Two");
  files.Put(u"C:\\Two/b_pname.dbf", Table("pn", Company("Q", 150)));
  files.Put(u"C:\\Two/b_sname.dbf", Table("sn", Company("T", 300)));
  Session two;
  Engine().RegisterDataSource(u"Ledra II SP1", kVfpDriverName, u"SourceDB=C:\\Two;SourceType=DBF;");
  two.Initialize(u"{DBFile=C:\\Two\\b_sname.dbf}", u"", nullptr);
  ASSERT_EQ(ToUtf8(two.Load(u"")), "{Result=Success}");
  Ask(two, known);
  Run(3000);
  const SearchKeyStats now = SearchKeyState();
  EXPECT_EQ(now.tables, 2u);
  EXPECT_LE(now.bytes, one_company * 6 / 5);
  Ask(two, known);
  EXPECT_EQ(SearchKeyState().keyed, now.keyed + 2);  // the second company's keys answered
  Ask(s, known);
  EXPECT_EQ(SearchKeyState().keyed, now.keyed + 2);  // the first one's are gone

  SetSearchKeyBudget(kDefaultSearchKeyBudget);
  Ask(s, known);
  Run(13000);
  EXPECT_EQ(SearchKeyState().tables, 4u);
  sys.clock.ticks += 11 * 60 * 1000;
  Ask(two, known);
  Run(1000);
  EXPECT_EQ(SearchKeyState().tables, 2u);  // only the company searched kept its keys
  two.Unload();
  EXPECT_EQ(SearchKeyState().tables, 0u);
  EXPECT_EQ(SearchKeyState().bytes, 0u);
}

}  // namespace
}  // namespace ledra
