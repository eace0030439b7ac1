// A customer table's bytes in memory with its records' layout, as the
// sample writes them, for the Wine clients that play the accounting
// application: they change records in the image and write it back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

struct Table {
  std::string bytes;
  uint32_t count = 0, header = 0, reclen = 0;
  struct Field {
    uint32_t offset, length;
  };
  Field account{}, tel{};

  explicit Table(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    bytes.resize(GetFileSize(h, nullptr));
    DWORD got = 0;
    ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(h);
    if (bytes.size() < 32) return;
    std::memcpy(&count, &bytes[4], 4);
    header = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
    reclen = static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8;
    uint32_t offset = 1;
    for (size_t d = 32; d + 32 <= header && bytes[d] != 0x0D; d += 32) {
      const std::string name(&bytes[d], strnlen(&bytes[d], 11));
      const uint32_t length = static_cast<uint8_t>(bytes[d + 16]);
      if (_stricmp(name.c_str(), "sn_account") == 0) account = {offset, length};
      if (_stricmp(name.c_str(), "sn_teleno") == 0) tel = {offset, length};
      offset += length;
    }
  }
  char* Record(uint32_t i) { return &bytes[header + i * reclen]; }
  std::string Text(uint32_t i, const Field& f) {
    std::string v(Record(i) + f.offset, f.length);
    v.erase(v.find_last_not_of(' ') + 1);
    return v;
  }
  void Set(uint32_t i, const Field& f, const std::string& v) {
    std::memset(Record(i) + f.offset, ' ', f.length);
    std::memcpy(Record(i) + f.offset, v.data(), v.size());
  }
};

