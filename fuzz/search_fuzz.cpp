// The contact search on a fuzzed request: the input is the host's request
// record, sent to FindContact and FindList over a small company made by the
// sample generator once. Every answer must say how the search ended, and be
// well formed when the request is.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/vars.h"
#include "fakes/memory_files.h"
#include "fakes/well_formed.h"
#include "fuzz_support.h"
#include "session/session.h"
#include "tools/sample_tables.h"

namespace ledra::fuzz {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Twelve rows a table, held in memory: the search reads no disk.
Session& Fixture() {
  static testing::MemoryFiles files;
  static Session* session = [] {
    char dir[] = "/tmp/ledra_fuzz_XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    sample::CompanySummary c = sample::GenerateCompany(dir, "a_", 12, 7);
    for (const auto* t : {&c.customers, &c.suppliers}) {
      files.Put(u"C:\\Acc/" + FromUtf8(t->path.substr(t->path.rfind('/') + 1)), ReadFile(t->path));
      unlink(t->path.c_str());
    }
    rmdir(dir);
    UsePlatform().files = &files;
    files.clock = UsePlatform().clock;  // so that the worker's keys come to answer too
    auto* s = new Session;
    s->Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
    s->Load(u"");
    return s;
  }();
  return *session;
}

bool EndsWith(const Text& s, const char16_t* end) {
  const Text e(end);
  return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

// A well-formed request whose values hold no braces.
bool FlatRecord(const Text& r) {
  size_t entries = 0;
  if (!testing::RecordFault(r, &entries).empty()) return false;
  return static_cast<size_t>(std::count(r.begin(), r.end(), u'{')) == entries &&
         static_cast<size_t>(std::count(r.begin(), r.end(), u'}')) == entries;
}

// Every answer ends with how the search ended. Only an answer to a flat
// request must be well formed: a request may carry what looks like an entry
// inside a value, which the answer echoes in "Tel" or "NiceTel", and AddVar
// finds entries by plain text, inside values too, so writing the answer's
// later keys may cut into that value, as the record rules say.
void Check(const Text& request, const Text& answer) {
  if (!EndsWith(answer, u"{Result(S7)=Success}") && !EndsWith(answer, u"{Reason(S6)=NoFind}") &&
      !EndsWith(answer, u"{Result(S4)=Fail}")) {
    Broken("an answer does not end with its result", request + u" -> " + answer);
  }
  if (FlatRecord(request)) {
    std::string fault = testing::RecordFault(answer);
    if (!fault.empty()) Broken("an answer is not a well-formed record", request + u" -> " + FromUtf8(fault));
  }
}

}  // namespace
}  // namespace ledra::fuzz

LEDRA_FUZZ_TARGET {
  Session& s = Fixture();
  const Text request = TextOf(data, size);
  Check(request, s.FindContact(request));
  Check(request, s.FindList(request));
}
