// Two processes log at the same moment, enough for the log to roll over:
// every line of both is in c:\fen.log.1 or c:\fen.log, once, and neither
// file passes its bound (a second rename would have replaced fen.log.1).
// Usage: log_race            (starts its twin and checks)
//        log_race TAG COUNT  (the writer each runs)
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "base/errors.h"
#include "platform/win32/win32_platform.h"

namespace {

const wchar_t kGo[] = L"Local\\LedraII log race";
const int kLines = 4000;

void Write(const char* tag, int count) {
  ledra::SetPlatform(&ledra::win32::ThePlatform(GetModuleHandleW(nullptr)));
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, kGo);
  WaitForSingleObject(go, 30000);
  for (int i = 0; i < count; ++i) {
    // Each text its own, so that none is folded as a repeat.
    char text[64];
    std::snprintf(text, sizeof text, "race %s %05d ", tag, i);
    ledra::LogError(ledra::FromAscii(text) + ledra::Text(120, u'.'));
  }
}

std::string Slurp(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) {
    Write(argv[1], std::atoi(argv[2]));
    return 0;
  }
  DeleteFileW(L"c:\\fen.log");
  DeleteFileW(L"c:\\fen.log.1");
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, kGo);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" B " + std::to_wstring(kLines);
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("FAIL cannot start the second writer\n");
    return 1;
  }
  Sleep(500);  // both waiting on the event
  SetEvent(go);
  Write("A", kLines);
  WaitForSingleObject(pi.hProcess, 120000);

  const std::string rolled = Slurp("c:\\fen.log.1"), current = Slurp("c:\\fen.log");
  int failures = 0;
  if (rolled.empty() || rolled.size() > (1u << 20) || current.size() > (1u << 20)) {
    std::printf("FAIL sizes: fen.log.1 %zu bytes, fen.log %zu bytes\n", rolled.size(), current.size());
    ++failures;
  }
  std::set<std::string> seen;
  std::istringstream lines(rolled + current);
  for (std::string line; std::getline(lines, line);) {
    size_t at = line.find("race ");
    if (at != std::string::npos && !seen.insert(line.substr(at, 12)).second) {
      std::printf("FAIL twice: %s\n", line.c_str());
      ++failures;
    }
  }
  for (const char* tag : {"A", "B"}) {
    for (int i = 0; i < kLines; ++i) {
      char key[32];
      std::snprintf(key, sizeof key, "race %s %05d", tag, i);
      if (!seen.count(key) && failures++ < 10) std::printf("FAIL missing: %s\n", key);
    }
  }
  std::printf("%zu lines in %zu + %zu bytes\n", seen.size(), rolled.size(), current.size());
  if (failures) return 1;
  std::printf("all passed\n");
  return 0;
}
