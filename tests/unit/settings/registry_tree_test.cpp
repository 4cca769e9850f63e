#include "platform/registry_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane::platform {
namespace {

constexpr char kKey[] = "Software\\Kavrin\\Sdk\\Camera_00";

RegistryTree SmallTree() {
  RegistryTree tree;
  EXPECT_TRUE(tree.CreateKey(kKey));
  EXPECT_TRUE(tree.WriteDword(kKey, "Offset", -5));
  const std::vector<uint8_t> half = {0, 0, 0, 0, 0, 0, 0xe0, 0x3f};  // 0.5 as a double
  EXPECT_TRUE(tree.WriteBinary(kKey, "ExposureEx", half));
  EXPECT_TRUE(tree.WriteDword(kKey, "Back\\slash \"quoted\"", 1));
  EXPECT_TRUE(tree.WriteBinary(kKey, "Empty", {}));
  return tree;
}

constexpr char kSmallTreeText[] =
    "REGEDIT4\n\n"
    "[HKEY_CURRENT_USER\\Software]\n\n"
    "[HKEY_CURRENT_USER\\Software\\Kavrin]\n\n"
    "[HKEY_CURRENT_USER\\Software\\Kavrin\\Sdk]\n\n"
    "[HKEY_CURRENT_USER\\Software\\Kavrin\\Sdk\\Camera_00]\n"
    "\"Offset\"=dword:fffffffb\n"
    "\"ExposureEx\"=hex:00,00,00,00,00,00,e0,3f\n"
    "\"Back\\\\slash \\\"quoted\\\"\"=dword:00000001\n"
    "\"Empty\"=hex:\n"
    "\n";

TEST(RegistryTreeTest, SmallTreeSerializesExactlyAndParsesBack) {
  EXPECT_EQ(SmallTree().Serialize(), kSmallTreeText);
  std::optional<RegistryTree> parsed = RegistryTree::Parse(kSmallTreeText);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(*parsed, SmallTree());
  EXPECT_EQ(parsed->ReadBinary(kKey, "Empty"), std::vector<uint8_t>{});  // present, not missing
}

TEST(RegistryTreeTest, ReadsWhatRegeditWritesAndKeepsOtherValueTypes) {
  const std::string text =
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "\r\n"
      "; exported by hand\r\n"
      "[HKEY_CURRENT_USER\\Software\\Kavrin\\Sdk]\r\n"
      "\"Short\"=dword:A\r\n"
      "\"Long\"=hex:01,02,03,\\\r\n"
      "  04,FF\r\n"
      "\"Text\"=dword:00000001\r\n"  // replaced whole by the line after it
      "\"Text\"=\"a string\"\r\n"
      "\"Path\"=hex(2):25,00\r\n";
  std::optional<RegistryTree> parsed = RegistryTree::Parse(text);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_TRUE(parsed->KeyExists("Software\\Kavrin"));  // parents exist with their children
  EXPECT_EQ(parsed->ReadDword("Software\\Kavrin\\Sdk", "Short"), 10);
  EXPECT_EQ(parsed->ReadBinary("Software\\Kavrin\\Sdk", "Long"),
            (std::vector<uint8_t>{1, 2, 3, 4, 0xff}));
  EXPECT_EQ(parsed->ReadDword("Software\\Kavrin\\Sdk", "Text"), std::nullopt);
  const std::string written = parsed->Serialize();
  EXPECT_NE(written.find("\"Text\"=\"a string\"\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\"Path\"=hex(2):25,00\n"), std::string::npos) << written;
  EXPECT_EQ(RegistryTree::Parse(written), parsed);
}

TEST(RegistryTreeTest, DamagedTextIsRejectedWhole) {
  const std::string kHead = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\K]\n";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"no header", "[HKEY_CURRENT_USER\\Software\\K]\n\"A\"=dword:00000001\n"},
      {"binary garbage", std::string("\x00\xff\x13garbage", 10)},
      {"value before any key", "REGEDIT4\n\"A\"=dword:00000001\n"},
      {"other hive", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n"},
      {"unterminated section", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\n"},
      {"empty key component", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\\\K]\n"},
      {"dword too long", kHead + "\"A\"=dword:000000001\n"},
      {"dword not hex", kHead + "\"A\"=dword:0000000g\n"},
      {"odd hex byte", kHead + "\"A\"=hex:0,01\n"},
      {"unterminated name", kHead + "\"A=dword:00000001\n"},
      {"empty name", kHead + "\"\"=dword:00000001\n"},
      {"stray line", kHead + "garbage\n"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(RegistryTree::Parse(c.text).has_value()) << c.what;
  }
  EXPECT_FALSE(RegistryTree::Parse(std::string(RegistryTree::kMaxTextBytes + 1, ';')).has_value());
}

TEST(RegistryTreeTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  RegistryTree tree;
  ASSERT_TRUE(tree.CreateKey("Software\\Kavrin"));
  ASSERT_TRUE(tree.CreateKey("SOFTWARE\\kavrin\\Camera_00"));
  ASSERT_TRUE(tree.WriteDword("software\\KAVRIN\\camera_00", "Color", 2));
  ASSERT_TRUE(tree.WriteDword("Software\\Kavrin\\Camera_00", "COLOR", 3));
  EXPECT_EQ(tree.ReadDword("Software\\Kavrin\\CAMERA_00", "color"), 3);
  EXPECT_EQ(tree.Serialize(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Kavrin]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Kavrin\\Camera_00]\n\"Color\"=dword:00000003\n\n");
}

TEST(RegistryTreeTest, RefusesInvalidPathsAndNamesAndWritesToMissingKeys) {
  RegistryTree tree;
  ASSERT_TRUE(tree.CreateKey("Software\\K"));
  for (const char* path : {"", "\\Software", "Software\\", "Software\\\\K", "Soft\nware"}) {
    EXPECT_FALSE(tree.CreateKey(path)) << path;
    EXPECT_FALSE(tree.KeyExists(path)) << path;
    EXPECT_FALSE(tree.WriteDword(path, "A", 1)) << path;
  }
  for (const char* name : {"", "new\nline", "tab\there"}) {
    EXPECT_FALSE(tree.WriteDword("Software\\K", name, 1)) << name;
  }
  EXPECT_FALSE(tree.WriteDword("Software\\Missing", "A", 1));
  EXPECT_FALSE(tree.KeyExists("Software\\Missing"));
  // A value is read only as the type it was written with.
  ASSERT_TRUE(tree.WriteBinary("Software\\K", "Blob", std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(tree.ReadDword("Software\\K", "Blob"), std::nullopt);
  ASSERT_TRUE(tree.WriteDword("Software\\K", "Word", 1));
  EXPECT_EQ(tree.ReadBinary("Software\\K", "Word"), std::nullopt);
}

}  // namespace
}  // namespace orvane::platform
