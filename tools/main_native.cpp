// ledra on Linux: the invariant platform, tables read from the local disk,
// failures that the plug-in would log printed on standard error.
#include <iostream>

#include "platform/native/native_files.h"
#include "platform/native/native_platform.h"
#include "tools/ledra.h"

namespace {

class StderrLog : public ledra::LogFile {
 public:
  void Append(const std::string& bytes, const Full&) noexcept override {
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
      std::cerr << "log: " << bytes.substr(at, end - at) << "\n";
    }
  }
  ledra::Text Path() override { return u"standard error"; }
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
