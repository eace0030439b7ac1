// ledra-sample: writes a company's customer and supplier tables with
// realistic made-up data, for demonstrations, tests and timing.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/sample_tables.h"

namespace {

const char kUsage[] =
    "usage: ledra-sample --out DIR [--prefix a_] [--rows N] [--seed S] [--vfp] [--no-known]\n"
    "  --out DIR     folder for the tables (created when missing)\n"
    "  --prefix P    table name prefix, two characters (default a_)\n"
    "  --rows N      records per table, deleted ones included (default 1000)\n"
    "  --seed S      the same seed gives the same files (default 1)\n"
    "  --vfp         Visual FoxPro tables (version 0x30, nullable columns)\n"
    "                instead of FoxPro 2.x (0x03)\n"
    "  --no-known    random rows only, without the fixed sample contacts\n";

bool ParseCount(const char* s, uint64_t* out) {
  if (!*s) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(s, &end, 10);
  if (errno || *end || s[0] == '-') return false;
  *out = v;
  return true;
}

bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return false;
  return MakeFolder(path.substr(0, slash)) && (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST);
}

void Print(const char* what, const ledra::sample::TableSummary& t) {
  std::printf("%-9s %s: %llu records (%llu deleted), %u bytes each, %llu bytes\n", what, t.path.c_str(),
              static_cast<unsigned long long>(t.records), static_cast<unsigned long long>(t.deleted),
              t.record_length, static_cast<unsigned long long>(t.file_bytes));
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  std::string prefix = "a_";
  uint64_t rows = 1000;
  uint64_t seed = 1;
  ledra::sample::CompanyOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ledra-sample: %s needs a value\n%s", a.c_str(), kUsage);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--out") out = value();
    else if (a == "--prefix") prefix = value();
    else if (a == "--rows" || a == "--seed") {
      const char* v = value();
      if (!ParseCount(v, a == "--rows" ? &rows : &seed)) {
        std::fprintf(stderr, "ledra-sample: %s wants a whole number, not '%s'\n", a.c_str(), v);
        return 2;
      }
    } else if (a == "--vfp") options.visual_foxpro = true;
    else if (a == "--no-known") options.known_contacts = false;
    else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "ledra-sample: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (out.empty()) {
    std::fprintf(stderr, "ledra-sample: --out is required\n%s", kUsage);
    return 2;
  }
  // The plug-in takes the prefix from the first two characters of the
  // customer table's file name.
  if (prefix.size() != 2) {
    std::fprintf(stderr, "ledra-sample: the prefix must be two characters, like a_\n");
    return 2;
  }
  if (!MakeFolder(out)) {
    std::fprintf(stderr, "ledra-sample: cannot create %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  try {
    ledra::sample::CompanySummary s = ledra::sample::GenerateCompany(out, prefix, rows, seed, options);
    std::printf("%s tables, seed %llu\n", options.visual_foxpro ? "Visual FoxPro" : "FoxPro 2.x",
                static_cast<unsigned long long>(seed));
    Print("suppliers", s.suppliers);
    Print("customers", s.customers);
    if (options.known_contacts) {
      std::printf("sample contacts:\n");
      for (const auto& k : ledra::sample::KnownContacts()) {
        if (static_cast<uint64_t>(k.position) >= rows) continue;
        std::printf("  %s%-8s %-26s %-16s %s\n", k.table, k.account, k.name, k.contact, k.teleno);
      }
    }
    std::printf("settings DBFile: %s/%ssname.dbf\n", out.c_str(), prefix.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ledra-sample: %s\n", e.what());
    return 1;
  }
  return 0;
}
