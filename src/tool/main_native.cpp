// ledra on Linux: the invariant platform, tables read from the local disk,
// failures that the plug-in would log printed on standard error.
#include <iostream>

#include "platform/native/native_files.h"
#include "platform/native/native_platform.h"
#include "tool/ledra.h"

namespace {

class StderrLog : public ledra::LogFile {
 public:
  void AppendLine(const std::string& line) noexcept override { std::cerr << "log: " << line << "\n"; }
};

}  // namespace

int main(int argc, char** argv) {
  ledra::NativePlatform native("/dev/null");
  StderrLog log;
  ledra::NativeFiles files;
  native.platform.log = &log;
  native.platform.files = &files;
  native.platform.threads = nullptr;  // one lookup a run: search keys would only cost
  ledra::SetPlatform(&native.platform);
  std::vector<std::string> args(argv + 1, argv + argc);
  int rc = ledra::tool::Run(args, std::cout, std::cerr);
  ledra::SetPlatform(nullptr);
  return rc;
}
