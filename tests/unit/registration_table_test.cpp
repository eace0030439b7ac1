#include "com/registration_table.h"

#include <gtest/gtest.h>

#include <string>

namespace ledra::com {
namespace {

const RegistrationValues kValues{"{C}", "{L}", "{I}", "D:\\[x]\\LedraII.dll", "win64"};

bool Under(const std::string& key, const std::string& root) {
  return key == root || key.rfind(root + "\\", 0) == 0;
}

// Unregistering deletes the roots (and the type library's key once no
// platform is left): every entry must lie under one of them, and every
// token must be one the writers fill in.
TEST(RegistrationTable, EveryEntryIsUnderARootAndFullyExpanded) {
  for (const RegistryEntry& e : kRegistration) {
    const std::string key = ExpandRegistration(e.key, kValues);
    bool owned = Under(key, ExpandRegistration(kTypeLibRoot, kValues));
    for (const char* root : kRegistrationRoots) owned = owned || Under(key, ExpandRegistration(root, kValues));
    EXPECT_TRUE(owned) << key;
    EXPECT_EQ(key.find('%'), std::string::npos) << key;
    EXPECT_EQ(ExpandRegistration(e.value, kValues).find('%'), std::string::npos) << e.value;
  }
  EXPECT_TRUE(Under(ExpandRegistration(kRegistrationRoots[3], kValues), ExpandRegistration(kTypeLibPlatforms, kValues)));
}

// The installer's escaping applies to the table's own text, never to the
// values filled in (the DLL's path there is a reference to the installed file).
TEST(RegistrationTable, LiteralTextAloneGoesThroughTheEscaper) {
  struct Row { const char* text; const char* expected; } const rows[] = {
      {"CLSID\\%CLSID%\\InprocServer32", "<CLSID\\>{C}<\\InprocServer32>"},
      {"%DLL%", "<>D:\\[x]\\LedraII.dll<>"},
      {"TypeLib\\%LIBID%\\2.0\\0\\%PLATFORM%", "<TypeLib\\>{L}<\\2.0\\0\\>win64<>"},
      {"50% off %IID", "<50% off %IID>"},
      {"", "<>"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ExpandRegistration(r.text, kValues, [](const std::string& s) { return "<" + s + ">"; }), r.expected)
        << r.text;
  }
}

}  // namespace
}  // namespace ledra::com
