// What the Win32 settings store leaves in the registry, read back with the registry API itself.
#include "platform/settings_store.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "persistence/settings_persistence.h"

namespace orvane::platform {
namespace {

constexpr char kRoot[] = "Software\\Kavrin\\OrvaneSettingsWin32Test";

struct RawValue {
  DWORD type = 0;
  std::vector<BYTE> bytes;
};

// nullopt-like: type 0 and no bytes when the key or value is missing.
RawValue QueryRaw(const std::string& key, const char* name) {
  RawValue raw;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    return raw;
  }
  DWORD size = 64;
  raw.bytes.resize(size);
  if (RegQueryValueExA(handle, name, nullptr, &raw.type, raw.bytes.data(), &size) == ERROR_SUCCESS) {
    raw.bytes.resize(size);
  } else {
    raw = RawValue{};
  }
  RegCloseKey(handle);
  return raw;
}

TEST(Win32SettingsStoreTest, PersistenceWritesDwordsAndAnEightByteBinaryExposure) {
  // The tree is made only where none exists: start from none, also when the prefix is reused.
  RegDeleteTreeA(HKEY_CURRENT_USER, kRoot);
  SettingsSession session;
  persistence::SettingsPersistence persistence(session, kRoot);
  ASSERT_TRUE(persistence.CreateDefaultTree(0, {}));
  persistence::AnalogSettings analog;
  analog.global = 300;
  analog.exposureEx = 0.5;
  ASSERT_TRUE(persistence.SaveAnalog(0, analog));

  const std::string camera = std::string(kRoot) + "\\Camera_00";
  RawValue color = QueryRaw(camera, "Color");
  EXPECT_EQ(color.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(color.bytes, (std::vector<BYTE>{2, 0, 0, 0}));
  RawValue th = QueryRaw(camera + "\\Size_00", "TH");
  EXPECT_EQ(th.bytes, (std::vector<BYTE>{0xa0, 0x0f, 0, 0}));
  RawValue global = QueryRaw(camera + "\\Gain", "Global");
  EXPECT_EQ(global.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(global.bytes, (std::vector<BYTE>{0x2c, 0x01, 0, 0}));
  RawValue seconds = QueryRaw(camera + "\\Gain", "ExposureEx");
  EXPECT_EQ(seconds.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(seconds.bytes, (std::vector<BYTE>{0, 0, 0, 0, 0, 0, 0xe0, 0x3f}));
}

TEST(Win32SettingsStoreTest, ValuesOfAnotherTypeOrSizeAreNotRead) {
  const std::string key = std::string(kRoot) + "\\Types";
  SettingsSession session;
  ASSERT_TRUE(session.CreateKey(key));
  EXPECT_TRUE(session.KeyExists(kRoot));
  HKEY handle = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS);
  const BYTE four[4] = {1, 0, 0, 0};
  const char text[] = "12";
  RegSetValueExA(handle, "Binary4", 0, REG_BINARY, four, sizeof four);
  RegSetValueExA(handle, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  RegSetValueExA(handle, "ShortDword", 0, REG_DWORD, four, 2);
  RegCloseKey(handle);
  EXPECT_EQ(session.ReadDword(key, "Binary4"), std::nullopt);
  EXPECT_EQ(session.ReadDword(key, "Text"), std::nullopt);
  EXPECT_EQ(session.ReadDword(key, "ShortDword"), std::nullopt);
  EXPECT_EQ(session.ReadBinary(key, "Binary4"), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(session.ReadBinary(key, "Missing"), std::nullopt);
  EXPECT_FALSE(session.WriteDword(key + "\\Missing", "A", 1));
  EXPECT_FALSE(session.CreateKey(key + "\\\\Empty"));
}

}  // namespace
}  // namespace orvane::platform
