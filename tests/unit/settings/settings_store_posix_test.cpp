// The Linux settings store: the registry file, its atomic replacement and its lock.
#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "temporary_store.h"

namespace orvane::platform {
namespace {

namespace fs = std::filesystem;
constexpr char kKey[] = "Software\\Kavrin\\OrvaneKD73R5Sdk\\Camera_00\\Gain";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  orvane::testing::TemporarySettingsStore store_;
};

TEST_F(SettingsStoreTest, FileIsReplacedWholeNeverRewrittenInPlace) {
  {
    SettingsSession session;
    ASSERT_TRUE(session.CreateKey(kKey));
    ASSERT_TRUE(session.WriteDword(kKey, "Global", 1));
  }
  const std::string before = ReadFile(store_.StoreFile());
  EXPECT_EQ(fs::status(store_.StoreFile()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // A reader that opened the old file keeps reading the old contents whole.
  int oldFile = ::open(store_.StoreFile().c_str(), O_RDONLY);
  ASSERT_GE(oldFile, 0);
  {
    SettingsSession session;
    ASSERT_TRUE(session.WriteDword(kKey, "Global", 2));
    EXPECT_TRUE(session.Flush());
    ASSERT_TRUE(session.WriteDword(kKey, "ColorR", 3));
  }
  std::string old(before.size() + 16, '\0');
  ssize_t n = ::pread(oldFile, old.data(), old.size(), 0);
  ::close(oldFile);
  ASSERT_GE(n, 0);
  old.resize(static_cast<size_t>(n));
  EXPECT_EQ(old, before);
  std::vector<std::string> names;  // no temporary file is left behind
  for (const auto& entry : fs::directory_iterator(store_.StoreDirectory())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
  SettingsSession session;
  EXPECT_EQ(session.ReadDword(kKey, "Global"), 2);
  EXPECT_EQ(session.ReadDword(kKey, "ColorR"), 3);
}

TEST_F(SettingsStoreTest, DamagedFileReadsAsEmptyAndIsKeptAsideWhenReplaced) {
  const std::string damaged[] = {
      std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10),
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kavrin\\OrvaneKD73R5Sdk\\Camera_00]\n"
      "\"Color\"=dword:zz\n",
  };
  for (const std::string& text : damaged) {
    WriteFile(store_.StoreFile(), text);
    fs::remove(store_.StoreFile() + ".bad");
    {
      SettingsSession session;
      EXPECT_FALSE(session.KeyExists("Software"));  // so the persistence takes its defaults
      ASSERT_TRUE(session.CreateKey(kKey));
      ASSERT_TRUE(session.WriteDword(kKey, "Global", 5));
      EXPECT_TRUE(session.Flush());
    }
    EXPECT_EQ(ReadFile(store_.StoreFile() + ".bad"), text);
    SettingsSession session;
    EXPECT_EQ(session.ReadDword(kKey, "Global"), 5);
  }
}

TEST_F(SettingsStoreTest, UnusableLocationWorksInMemoryAndReportsTheFailedFlush) {
  const std::string notADirectory = store_.ConfigHome() + "/file";
  WriteFile(notADirectory, "x");
  setenv("XDG_CONFIG_HOME", notADirectory.c_str(), 1);
  SettingsSession session;
  ASSERT_TRUE(session.CreateKey(kKey));
  ASSERT_TRUE(session.WriteDword(kKey, "Global", 9));
  EXPECT_EQ(session.ReadDword(kKey, "Global"), 9);
  EXPECT_FALSE(session.Flush());
}

TEST_F(SettingsStoreTest, NestedSessionsOnOneThreadShareOneLockedTransaction) {
  auto outer = std::make_unique<SettingsSession>();
  ASSERT_TRUE(outer->CreateKey(kKey));
  ASSERT_TRUE(outer->WriteDword(kKey, "Global", 1));
  {
    SettingsSession inner;  // would block forever on the file lock if it took its own
    EXPECT_EQ(inner.ReadDword(kKey, "Global"), 1);
    ASSERT_TRUE(inner.WriteDword(kKey, "ColorR", 2));
  }
  EXPECT_FALSE(fs::exists(store_.StoreFile()));
  EXPECT_EQ(outer->ReadDword(kKey, "ColorR"), 2);
  outer.reset();
  SettingsSession after;
  EXPECT_EQ(after.ReadDword(kKey, "Global"), 1);
  EXPECT_EQ(after.ReadDword(kKey, "ColorR"), 2);
}

// Each writer adds its own values, one session (one read-modify-write of the file) per value.
void WriteOwnValues(const std::string& writer, int count) {
  for (int i = 0; i < count; ++i) {
    SettingsSession session;
    session.CreateKey(kKey);
    session.WriteDword(kKey, writer + "_" + std::to_string(i), i);
  }
}

void ExpectAllValues(const std::vector<std::string>& writers, int count) {
  SettingsSession session;
  for (const std::string& writer : writers) {
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(session.ReadDword(kKey, writer + "_" + std::to_string(i)), i) << writer << i;
    }
  }
}

TEST_F(SettingsStoreTest, ConcurrentThreadsAndProcessesLoseNoValue) {
  constexpr int kCount = 20;
  std::thread a(WriteOwnValues, "A", kCount);
  std::thread b(WriteOwnValues, "B", kCount);
  a.join();
  b.join();
  const std::vector<std::string> writers = {"A", "B", "P0", "P1", "P2"};
  std::vector<pid_t> children;
  for (const char* writer : {"P0", "P1", "P2"}) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      WriteOwnValues(writer, kCount);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectAllValues(writers, kCount);
}

}  // namespace
}  // namespace orvane::platform
