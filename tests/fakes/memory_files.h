// A file system in memory for the table tests, which write their tables with
// the tools' dBase writer: files are shared byte strings, so a test can
// append to or cut a file while a result set reads it (the same file) or Put
// it anew (a replaced file), and the open handles and bytes read are
// counted so a test can see that nothing stays open and what was read. Its
// folder watches report every file whose bytes or identity changed since
// they last looked, unless a test says otherwise.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/platform.h"
#include "tools/dbf_writer.h"

namespace ledra::testing {

using tool::DbfValue;
using tool::DbfWriter;

class MemoryFiles : public FileSystem {
 public:
  using Bytes = std::shared_ptr<std::string>;

  // Creates or replaces the file; the returned bytes may be changed later.
  Bytes Put(const Text& path, std::string bytes) {
    auto b = std::make_shared<std::string>(std::move(bytes));
    files_[path] = b;
    ids_[path] = ++next_id_;
    return b;
  }
  Bytes Get(const Text& path) const {
    auto it = files_.find(path);
    return it == files_.end() ? nullptr : it->second;
  }
  void Remove(const Text& path) { files_.erase(path); }

  int open_handles() const { return *open_; }
  int opens() const { return opens_; }
  uint64_t bytes_read() const { return *read_; }

  // Opens of these paths are refused, as a sharing violation would be.
  std::set<Text> refused;
  // Changes to these paths are not reported by the watches (a write the
  // file system tells nobody about); a watch loses track once with
  // lose_track.
  std::set<Text> unreported;
  bool lose_track = false;

  // Reads at or past this offset fail (-1), a read across it stops there;
  // reads return at most
  // read_chunk bytes at a time (0: no limit), as a network share may.
  uint64_t fail_reads_from = UINT64_MAX;
  size_t read_chunk = 0;
  // Folders whose listing fails (the listing is then empty).
  bool list_fails = false;
  // Runs before every read of any file (a test may change the file there).
  std::function<void(const Text& path, uint64_t offset)> before_read;
  // A file's last-write time is the clock's time when its content was
  // first seen changed, unless pinned here, as a file system would leave it
  // after an edit whose time it does not show (or that was put back).
  std::map<Text, int64_t> pinned_write_time;
  // The file times' clock: a fixed time without one.
  const Clock* clock = nullptr;

  int64_t FileTimeNow() const override {
    constexpr int64_t kStart = 134000000000000000;  // in 2025, in 100 ns units since 1601
    return kStart + (clock ? static_cast<int64_t>(clock->Milliseconds()) * 10000 : 0);
  }
  // The write time a file has now.
  int64_t WriteTime(const Text& path, const std::string& bytes) const {
    auto pinned = pinned_write_time.find(path);
    if (pinned != pinned_write_time.end()) return pinned->second;
    const uint64_t h = Hash(bytes);
    std::lock_guard<std::mutex> hold(times_lock_);
    Written& w = written_[path];
    if (w.time < 0 || w.content != h) w = {h, FileTimeNow()};
    return w.time;
  }

  std::unique_ptr<DataFile> OpenShared(const Text& path, Text* error) override {
    auto it = files_.find(path);
    if (it == files_.end() || refused.count(path)) {
      if (error) {
        *error = it == files_.end() ? u"The system cannot find the file specified."
                                    : u"The process cannot access the file because it is being used by another process.";
      }
      return nullptr;
    }
    ++opens_;
    return std::make_unique<File>(path, it->second, open_, read_, this, ids_.at(path));
  }

  std::unique_ptr<FolderWatch> Watch(const Text& folder) override {
    if (!FolderExists(folder)) return nullptr;
    return std::make_unique<Watcher>(*this, folder);
  }

  std::vector<Text> List(const Text& folder) override {
    std::vector<Text> names;
    if (list_fails) return names;
    Text prefix = Join(folder, u"");
    for (const auto& [path, bytes] : files_) {
      if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
          path.find(u'/', prefix.size()) == Text::npos) {
        names.push_back(path.substr(prefix.size()));
      }
    }
    return names;
  }

  // A folder exists when a file lies in it or it was made empty.
  void MakeFolder(const Text& folder) { folders_.insert(Join(folder, u"")); }
  bool FolderExists(const Text& folder) override {
    Text prefix = Join(folder, u"");
    if (folders_.count(prefix)) return true;
    for (const auto& entry : files_) {
      if (entry.first.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  Text Join(const Text& folder, const Text& name) const override {
    Text f = folder;
    while (!f.empty() && f.back() == u'/') f.pop_back();
    return f + u"/" + name;
  }

 private:
  using Counter = std::shared_ptr<std::atomic<uint64_t>>;
  static uint64_t Hash(const std::string& bytes) {  // FNV-1a
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
  }
  // Each file of a folder by name: its identity and a hash of its bytes.
  std::map<Text, std::pair<uint64_t, uint64_t>> Look(const Text& folder) const {
    std::map<Text, std::pair<uint64_t, uint64_t>> out;
    std::vector<Text> names = const_cast<MemoryFiles*>(this)->List(folder);
    for (const Text& name : names) {
      const Text path = Join(folder, name);
      out[name] = {ids_.at(path), Hash(*files_.at(path))};
    }
    return out;
  }

  class Watcher : public FolderWatch {
   public:
    Watcher(MemoryFiles& owner, Text folder) : owner_(owner), folder_(std::move(folder)), seen_(owner.Look(folder_)) {}
    bool Changes(std::vector<Text>* names) override {
      auto now = owner_.Look(folder_);
      if (owner_.lose_track) {
        owner_.lose_track = false;
        seen_ = std::move(now);
        return false;
      }
      auto report = [&](const Text& name) {
        if (!owner_.unreported.count(owner_.Join(folder_, name))) names->push_back(name);
      };
      for (const auto& [name, look] : now) {
        auto was = seen_.find(name);
        if (was == seen_.end() || was->second != look) report(name);
      }
      for (const auto& [name, look] : seen_) {
        if (!now.count(name)) report(name);
      }
      seen_ = std::move(now);
      return true;
    }

   private:
    MemoryFiles& owner_;
    Text folder_;
    std::map<Text, std::pair<uint64_t, uint64_t>> seen_;
  };

  class File : public DataFile {
   public:
    File(Text path, Bytes bytes, std::shared_ptr<std::atomic<int>> open, Counter read, const MemoryFiles* owner,
         uint64_t id)
        : path_(std::move(path)), bytes_(std::move(bytes)), open_(std::move(open)), read_(std::move(read)),
          owner_(owner), fail_from_(owner->fail_reads_from), chunk_(owner->read_chunk), id_(id) {
      ++*open_;
    }
    ~File() override { --*open_; }
    int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
      if (owner_->before_read) owner_->before_read(path_, offset);
      if (offset >= fail_from_) return -1;
      const std::string& b = *bytes_;
      if (offset >= b.size()) return 0;
      size_t take = std::min<size_t>(n, b.size() - offset);
      if (chunk_) take = std::min(take, chunk_);
      if (fail_from_ != UINT64_MAX) take = std::min<uint64_t>(take, fail_from_ - offset);
      std::memcpy(buf, b.data() + offset, take);
      *read_ += take;
      return static_cast<int64_t>(take);
    }
    int64_t Size() override { return static_cast<int64_t>(bytes_->size()); }
    int64_t LastWriteTime() override { return owner_->WriteTime(path_, *bytes_); }
    uint64_t Identity() override { return id_; }

   private:
    Text path_;
    Bytes bytes_;
    std::shared_ptr<std::atomic<int>> open_;
    Counter read_;
    const MemoryFiles* owner_;
    uint64_t fail_from_;
    size_t chunk_;
    uint64_t id_;
  };

  struct Written { uint64_t content = 0; int64_t time = -1; };
  mutable std::mutex times_lock_;
  mutable std::map<Text, Written> written_;
  std::map<Text, Bytes> files_;
  std::map<Text, uint64_t> ids_;  // a new one for every Put: a replaced file
  uint64_t next_id_ = 0;
  std::set<Text> folders_;
  // Counted from any thread: the search keys' worker opens files too.
  std::shared_ptr<std::atomic<int>> open_ = std::make_shared<std::atomic<int>>(0);
  Counter read_ = std::make_shared<std::atomic<uint64_t>>(0);
  std::atomic<int> opens_{0};
};

}  // namespace ledra::testing
