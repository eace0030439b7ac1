// ledra.exe: the same commands on the real Win32 platform; failures go to
// the log exactly as the plug-in writes them.
#include <windows.h>
#include <shellapi.h>

#include <iostream>

#include "platform/win32/win32_platform.h"
#include "tools/ledra.h"

int main() {
  SetConsoleOutputCP(CP_UTF8);
  static ledra::Platform platform = ledra::win32::ThePlatform(GetModuleHandleW(nullptr));
  platform.threads = nullptr;  // one lookup a run: search keys would only cost
  ledra::SetPlatform(&platform);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string a(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &a[0], n, nullptr, nullptr);
    args.push_back(a);
  }
  LocalFree(argv);
  int rc = ledra::tool::Run(args, std::cout, std::cerr);
  ledra::SetPlatform(nullptr);  // writes the repeats the log still owes
  return rc;
}
