// The contact search on a fuzzed request: the input is the host's request
// record, sent to FindContact and FindList over a small company made by the
// sample generator once. Every answer must be a well-formed record that says
// how the search ended.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "common/vars.h"
#include "fakes/memory_files.h"
#include "fakes/well_formed.h"
#include "fuzz_support.h"
#include "session/session.h"
#include "tool/sample_tables.h"

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
    auto* s = new Session;
    s->Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
    s->Load(u"");
    return s;
  }();
  return *session;
}

void Check(const Text& request, const Text& answer) {
  std::string fault = testing::RecordFault(answer);
  if (!fault.empty()) Broken("an answer is not a well-formed record", request + u" -> " + FromUtf8(fault));
  Text result = CStr(GetVar(answer, u"Result"));
  if (result != u"Success" && result != u"Fail") Broken("an answer says no result", request + u" -> " + answer);
}

}  // namespace
}  // namespace ledra::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ledra;
  using namespace ledra::fuzz;
  UsePlatform();
  Session& s = Fixture();
  const Text request = TextOf(data, size);
  Check(request, s.FindContact(request));
  Check(request, s.FindList(request));
  return 0;
}
