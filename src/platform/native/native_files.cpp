#include "platform/native/native_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace ledra {

namespace {

std::string Native(const Text& path) {
  Text p = path;
  for (char16_t& c : p) {
    if (c == u'\\') c = u'/';
  }
  return ToUtf8(p);
}

class PosixFile : public DataFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    for (;;) {
      ssize_t r = ::pread(fd_, buf, n, static_cast<off_t>(offset));
      if (r >= 0) return r;
      if (errno != EINTR) return -1;
    }
  }

  int64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
  }

  int64_t LastWriteTime() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
  }

  uint64_t Identity() override {
    Facts f;
    return Stat(&f) ? f.identity : 0;
  }

  bool Stat(Facts* f) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    f->size = st.st_size;
    f->written = static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
    f->identity = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
    return true;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<DataFile> NativeFiles::OpenShared(const Text& path, Text* error) {
  // POSIX has no share modes: a reader never locks writers out.
  int fd;
  do {
    fd = ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error) *error = FromUtf8(std::strerror(errno));
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = u"not a regular file";
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

namespace {

class InotifyWatch : public FolderWatch {
 public:
  explicit InotifyWatch(int fd) : fd_(fd) {}
  ~InotifyWatch() override { ::close(fd_); }
  InotifyWatch(const InotifyWatch&) = delete;
  InotifyWatch& operator=(const InotifyWatch&) = delete;

  bool Changes(std::vector<Text>* names) override {
    alignas(inotify_event) char buf[16 * 1024];
    bool whole = true;
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return whole && (n == 0 || errno == EAGAIN);
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
        if (e->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) whole = false;
        if (e->len) names->push_back(FromUtf8(e->name));
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<FolderWatch> NativeFiles::Watch(const Text& folder) {
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return nullptr;
  const std::string dir = Native(folder);
  if (::inotify_add_watch(fd, dir.empty() ? "." : dir.c_str(),
                          IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<InotifyWatch>(fd);
}

std::vector<Text> NativeFiles::List(const Text& folder) {
  std::vector<Text> names;
  std::string dir = Native(folder);
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.push_back(FromUtf8(e->d_name));
  }
  ::closedir(d);
  return names;
}

bool NativeFiles::FolderExists(const Text& folder) {
  std::string dir = Native(folder);
  struct stat st {};
  return ::stat(dir.empty() ? "." : dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t NativeFiles::FileTimeNow() const {
  timespec ts;
  if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
  return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

Text NativeFiles::Join(const Text& folder, const Text& name) const {
  Text f = folder;
  for (char16_t& c : f) {
    if (c == u'\\') c = u'/';
  }
  if (f.empty()) return name;
  if (f.back() != u'/') f += u'/';
  return f + name;
}

}  // namespace ledra
