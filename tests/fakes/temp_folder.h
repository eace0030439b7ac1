// A folder of the test's own on the local disk, removed with all it holds.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace ledra::testing {

struct TempFolder {
  TempFolder() {
    char pattern[] = "/tmp/ledra-test-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern), nullptr);
    path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  // A folder inside, made.
  std::string Sub(const std::string& name) const {
    std::filesystem::create_directories(path + "/" + name);
    return path + "/" + name;
  }

  std::string path;
};

}  // namespace ledra::testing
