#include "platform/native/native_platform.h"

#include <iconv.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/calendar.h"

namespace ledra {

namespace {

// %G with the given precision: shortest form, exponent as the runtime writes
// it (1E+16, 1E-05).
Text General(double v, int precision) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", precision, v);
  return FromAscii(buf);
}

// A month of 1 to 12 and a day that the month has (2/30 is no date).
bool ValidDay(int y, int m, int d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

struct Parts { long day; long secs; };

// An OLE date's day and second of day; negative dates count the time
// backwards from their day, as OLE dates do.
Parts Split(OleDate d) {
  double day = std::trunc(d);
  double frac = std::fabs(d - day);
  long secs = std::lround(frac * 86400.0);
  if (secs >= 86400) { secs -= 86400; day += d < 0 ? -1 : 1; }
  return {static_cast<long>(day), secs};
}

Text DatePart(long day) {
  int y, m, dd;
  CivilFromOleDay(day, &y, &m, &dd);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", m, dd, y);
  return FromAscii(buf);
}

Text TimePart(long secs) {
  int h = static_cast<int>(secs / 3600), mi = static_cast<int>(secs / 60 % 60), s = static_cast<int>(secs % 60);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h % 12 == 0 ? 12 : h % 12, mi, s, h < 12 ? "AM" : "PM");
  return FromAscii(buf);
}

std::string Narrow(const Text& s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

Text InvariantLocale::FormatDouble(double v) const { return General(v, 15); }
Text InvariantLocale::FormatSingle(float v) const { return General(v, 7); }

Text InvariantLocale::FormatDate(OleDate d) const {
  Parts p = Split(d);
  if (p.day == 0 && d >= 0) return TimePart(p.secs);
  if (p.secs == 0) return DatePart(p.day);
  return DatePart(p.day) + u" " + TimePart(p.secs);
}

Text InvariantLocale::FormatLogTime(OleDate d) const {
  Parts p = Split(d);
  return DatePart(p.day) + u" " + TimePart(p.secs);
}

std::optional<double> InvariantLocale::ParseNumber(const Text& s) const {
  std::string t = Narrow(Trim(s));
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || t.find_first_of("xXnN") != std::string::npos) return std::nullopt;
  return v;
}

std::optional<OleDate> InvariantLocale::ParseDate(const Text& s) const {
  std::string t = Narrow(Trim(s));
  int a = 0, b = 0, c = 0, h = 0, mi = 0, sec = 0, n = 0;
  char ampm[3] = {0};
  OleDate day = 0;
  const char* rest = t.c_str();
  if (std::sscanf(rest, "%d-%d-%d%n", &a, &b, &c, &n) == 3 && a > 31) {
    if (!ValidDay(a, b, c)) return std::nullopt;
    day = OleDayFromCivil(a, b, c);
  } else if (std::sscanf(rest, "%d/%d/%d%n", &a, &b, &c, &n) == 3) {
    if (c < 100) c += c < 30 ? 2000 : 1900;
    if (!ValidDay(c, a, b)) return std::nullopt;
    day = OleDayFromCivil(c, a, b);
  } else {
    n = 0;
  }
  rest += n;
  while (*rest == ' ') ++rest;
  if (*rest) {
    int m = 0;
    int got = std::sscanf(rest, "%d:%d%n", &h, &mi, &m);
    if (got != 2) return std::nullopt;
    rest += m;
    if (*rest == ':') {
      int k = 0;
      if (std::sscanf(rest, ":%d%n", &sec, &k) != 1) return std::nullopt;
      rest += k;
    }
    while (*rest == ' ') ++rest;
    if (*rest) {
      if (std::sscanf(rest, "%2s", ampm) != 1) return std::nullopt;
      std::string ap = ampm;
      if (ap == "PM" || ap == "pm") { if (h < 12) h += 12; }
      else if (ap == "AM" || ap == "am") { if (h == 12) h = 0; }
      else return std::nullopt;
      rest += 2;
      if (*rest) return std::nullopt;
    }
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59) return std::nullopt;
  } else if (n == 0) {
    return std::nullopt;
  }
  double frac = (h * 3600 + mi * 60 + sec) / 86400.0;
  return day < 0 ? day - frac : day + frac;
}

Text InvariantLocale::Upper(const Text& s) const {
  Text r = s;
  for (char16_t& c : r) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<char16_t>(c - 32);
    else if (c == 0xFF) c = 0x178;
  }
  return r;
}

std::string InvariantLocale::ToAnsi(const Text& s) const { return ToUtf8(s); }
Text InvariantLocale::FromAnsi(const std::string& s) const { return FromUtf8(s); }

namespace {

std::string IconvName(uint32_t cp) {
  switch (cp) {
    case 10000: return "MACINTOSH";
    case 10029: return "MAC-CENTRALEUROPE";
    default: return "CP" + std::to_string(cp);
  }
}

bool MultiByte(uint32_t cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

// One code page as iconv gives it: a byte table for single-byte pages, an
// open descriptor (used under the lock) for the East Asian ones.
struct Converter {
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  bool usable = false;
  std::array<char16_t, 256> table{};
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
};

std::mutex g_converters_lock;
std::map<uint32_t, std::unique_ptr<Converter>> g_converters;

// Converts bytes with cd into UTF-16LE units; undecodable bytes give
// U+FFFD and are skipped one at a time.
Text RunIconv(iconv_t cd, const char* bytes, size_t n) {
  Text out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes);
  size_t left = n;
  char16_t buf[256];
  while (left > 0) {
    char* o = reinterpret_cast<char*>(buf);
    size_t room = sizeof buf;
    size_t r = iconv(cd, &in, &left, &o, &room);
    out.append(buf, (sizeof buf - room) / 2);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      out += u'\uFFFD';
      if (errno == EINVAL) break;  // cut off at the end
      ++in;
      --left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

Converter* ConverterFor(uint32_t cp) {
  auto& slot = g_converters[cp];
  if (slot) return slot.get();
  slot = std::make_unique<Converter>();
  iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return slot.get();
  slot->usable = true;
  if (MultiByte(cp)) {
    slot->cd = cd;
    return slot.get();
  }
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    Text t = RunIconv(cd, &in, 1);
    slot->table[b] = t.size() == 1 ? t[0] : u'\uFFFD';
  }
  iconv_close(cd);
  return slot.get();
}

}  // namespace

Text InvariantLocale::Decode(uint32_t codepage, const char* bytes, size_t n) const {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  if (codepage == 0 || codepage == 65001) return FromUtf8(std::string(bytes, n));
  std::lock_guard<std::mutex> hold(g_converters_lock);
  Converter* c = ConverterFor(codepage);
  Text out;
  if (!c->usable) {
    // A code page this system cannot convert: ASCII survives, nothing else.
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) out += p[i] < 0x80 ? static_cast<char16_t>(p[i]) : u'\uFFFD';
    return out;
  }
  if (c->cd != reinterpret_cast<iconv_t>(-1)) return RunIconv(c->cd, bytes, n);
  out.resize(n);
  for (size_t i = 0; i < n; ++i) out[i] = c->table[p[i]];
  return out;
}

void FileLog::Append(const std::string& bytes, const Full& full) noexcept {
  try {
    std::lock_guard<std::mutex> hold(lock_);
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && full(static_cast<uint64_t>(st.st_size))) {
      std::rename(path_.c_str(), (path_ + ".1").c_str());
    }
    FILE* f = std::fopen(path_.c_str(), "ab");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  } catch (...) {
  }
}

OleDate SystemClock::Now() const {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return OleDayFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

float SystemClock::Timer() const {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return static_cast<float>(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec + ms / 1000.0);
}

void NoMessages::WaitForMessages(uint32_t max_ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(max_ms));
}

uint32_t SystemClock::TickCount() const {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t SystemClock::Milliseconds() const {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {

class NativeLock : public Lock {
 public:
  void Acquire() override { m_.lock(); }
  bool TryAcquire() override { return m_.try_lock(); }
  void Release() override { m_.unlock(); }

 private:
  std::mutex m_;
};

class NativeSignal : public Signal {
 public:
  void Set() override {
    std::lock_guard<std::mutex> hold(m_);
    set_ = true;
    cv_.notify_one();
  }
  bool Wait(uint32_t max_ms) override {
    std::unique_lock<std::mutex> hold(m_);
    bool got = cv_.wait_for(hold, std::chrono::milliseconds(max_ms), [&] { return set_; });
    set_ = false;
    return got;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

class NativeThread : public Thread {
 public:
  struct Ending {
    std::mutex m;
    std::condition_variable cv;
    bool ended = false;
  };
  NativeThread(std::thread t, std::shared_ptr<Ending> e) : t_(std::move(t)), e_(std::move(e)) {}
  ~NativeThread() override {
    if (t_.joinable()) t_.detach();
  }
  bool Join(uint32_t max_ms) override {
    {
      std::unique_lock<std::mutex> hold(e_->m);
      if (!e_->cv.wait_for(hold, std::chrono::milliseconds(max_ms), [&] { return e_->ended; })) return false;
    }
    if (t_.joinable()) t_.join();
    return true;
  }

 private:
  std::thread t_;
  std::shared_ptr<Ending> e_;
};

}  // namespace

std::unique_ptr<Lock> NativeThreads::NewLock() { return std::make_unique<NativeLock>(); }
std::unique_ptr<Signal> NativeThreads::NewSignal() { return std::make_unique<NativeSignal>(); }

std::unique_ptr<Thread> NativeThreads::Start(std::function<void()> body) {
  auto ending = std::make_shared<NativeThread::Ending>();
  try {
    std::thread t([body = std::move(body), ending] {
      try {
        body();
      } catch (...) {
      }
      std::lock_guard<std::mutex> hold(ending->m);
      ending->ended = true;
      ending->cv.notify_all();
    });
    return std::make_unique<NativeThread>(std::move(t), ending);
  } catch (...) {
    return nullptr;
  }
}

std::string MemoryRegistry::Path(uint32_t root, const Text& subkey, View view) {
  std::string p = std::to_string(root) + (view == View::Bits32 && root == kLocalMachine ? "-32\\" : "\\");
  for (char16_t c : subkey) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    p += c < 128 ? static_cast<char>(c) : '?';
  }
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

namespace {

bool IsText(uint32_t type) { return type == Registry::kText || type == Registry::kExpandText; }

std::string Utf16Bytes(const std::string& utf8) {
  std::string out;
  for (char16_t c : FromUtf8(utf8)) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::string Utf8OfUtf16(const std::string& bytes) {
  Text t;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    t += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
  }
  return ToUtf8(t);
}

std::string UpperName(const Text& name) {
  std::string n;
  for (char16_t c : name) n += static_cast<char>(c >= u'a' && c <= u'z' ? c - 32 : c);
  return n;
}

}  // namespace

long MemoryRegistry::OpenKey(uint32_t root, const Text& subkey, Key* key, View view) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto path = Path(root, subkey, view);
  if (!keys_.count(path)) return 2;
  *key = next_++;
  open_[*key] = path;
  return 0;
}

long MemoryRegistry::QueryValue(Key key, const Text& name, uint32_t* type, uint8_t* data, uint32_t* size) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto k = open_.find(key);
  if (k == open_.end()) return 6;  // invalid handle
  auto& values = keys_[k->second];
  auto v = values.find(UpperName(name));
  if (v == values.end()) return 2;
  if (type) *type = v->second.type;
  uint32_t need = static_cast<uint32_t>(v->second.bytes.size());
  if (!data || *size < need) { *size = need; return data ? 234 : 0; }  // ERROR_MORE_DATA
  std::copy(v->second.bytes.begin(), v->second.bytes.end(), data);
  *size = need;
  return 0;
}

long MemoryRegistry::CloseKey(Key key) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return open_.erase(key) ? 0 : 6;
}

long MemoryRegistry::DeleteKey(uint32_t root, const Text& subkey) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto path = Path(root, subkey);
  auto it = keys_.find(path);
  if (it == keys_.end()) return 2;
  // Like RegDeleteKey: a key with subkeys stays.
  auto next = std::next(it);
  if (next != keys_.end() && next->first.rfind(path + "\\", 0) == 0) return 5;
  keys_.erase(it);
  return 0;
}

long MemoryRegistry::SetText(uint32_t root, const Text& subkey, const Text& name, const Text& value) {
  SetRaw(root, subkey, name, kText, ToUtf8(value) + std::string(1, '\0'));
  return 0;
}

Text MemoryRegistry::ExpandEnvironment(const Text& s) const {
  std::string in = ToUtf8(s), out;
  for (size_t i = 0; i < in.size();) {
    size_t end = in[i] == '%' ? in.find('%', i + 1) : std::string::npos;
    auto var = end == std::string::npos ? environment.end() : environment.find(in.substr(i + 1, end - i - 1));
    if (var == environment.end()) {
      out += in[i++];
      continue;
    }
    out += var->second;
    i = end + 1;
  }
  return FromUtf8(out);
}

void MemoryRegistry::SetRaw(uint32_t root, const Text& subkey, const Text& name, uint32_t type,
                            const std::string& bytes, View view) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto path = Path(root, subkey, view);
  // Every key on the way exists too, as in the real registry.
  for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
    if (pos + 1 < path.size()) keys_[path.substr(0, path.find('\\', pos + 1))];
  }
  keys_[path][UpperName(name)] = Value{type, IsText(type) ? Utf16Bytes(bytes) : bytes};
}

bool MemoryRegistry::HasKey(uint32_t root, const Text& subkey) const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return keys_.count(Path(root, subkey)) > 0;
}

std::optional<std::string> MemoryRegistry::Raw(uint32_t root, const Text& subkey, const Text& name) const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto k = keys_.find(Path(root, subkey));
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.find(UpperName(name));
  if (v == k->second.end()) return std::nullopt;
  return IsText(v->second.type) ? Utf8OfUtf16(v->second.bytes) : v->second.bytes;
}

NativePlatform::NativePlatform(std::string log_path) : log(std::move(log_path)) {
  platform.locale = &locale;
  platform.log = &log;
  platform.clock = &clock;
  platform.pump = &pump;
  platform.registry = &registry;
  platform.threads = &threads;
  platform.module.major = 2;
  platform.module.minor = 0;
  platform.module.title = u"LedraII";
}

}  // namespace ledra
