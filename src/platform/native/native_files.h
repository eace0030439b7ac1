// The file system of the native build: POSIX calls, UTF-8 paths. Folders
// written the Windows way ("c:\data" style settings, "\" separators) are
// accepted with "/" in place of "\".
#pragma once

#include "base/platform.h"

namespace ledra {

class NativeFiles : public FileSystem {
 public:
  std::unique_ptr<DataFile> OpenShared(const Text& path, Text* error) override;
  // inotify on Linux.
  std::unique_ptr<FolderWatch> Watch(const Text& folder) override;
  std::vector<Text> List(const Text& folder) override;
  bool FolderExists(const Text& folder) override;
  Text Join(const Text& folder, const Text& name) const override;
  int64_t FileTimeNow() const override;
};

}  // namespace ledra
