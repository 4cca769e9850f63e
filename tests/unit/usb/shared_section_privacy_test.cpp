// The shared device table's objects on POSIX are the user's own: a name squatted by something else, or
// a lock another process holds and never lets go, makes the attach fail within a bounded wait instead
// of hiding every camera or hanging.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "lock_holding_child.h"
#include "returns_within.h"
#include "usb_test_support.h"

namespace orvane::usb {
namespace {

using testing::Options;
using testing::ScopedSectionName;

std::string Uid() { return std::to_string(geteuid()); }
std::string LockPath(const std::string& section) { return "/dev/shm/" + section + "-Lock-" + Uid(); }

// Runs `f` on another thread and fails the test (instead of hanging it) when it takes over 30 s.
template <typename F>
auto WithinWatchdog(F f) -> decltype(f()) {
  return ReturnsWithin(std::chrono::seconds(30), f);
}

TEST(SharedSectionPrivacy, ObjectsAreCreatedForTheUserAlone) {
  ScopedSectionName section;
  sim::VirtualBus bus(1);
  COrvCy3Cam cam(Options(bus, section.name()));
  ASSERT_TRUE(cam.IsAttached());
  for (const std::string& path : {LockPath(section.name()), "/dev/shm/" + section.name() + "-" + Uid(),
                                  "/dev/shm/" + section.name() + "-" + Uid() + ".users"}) {
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_EQ(st.st_uid, geteuid()) << path;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
}

TEST(SharedSectionPrivacy, ASquattedNameFailsTheAttach) {
  struct Case {
    const char* what;
    std::string suffix;  // after /dev/shm/<section>
  };
  const Case cases[] = {
      {"directory at the lock", "-Lock-" + Uid()},
      {"directory at the section", "-" + Uid()},
      {"directory at the users object", "-" + Uid() + ".users"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedSectionName section;
    const std::string path = "/dev/shm/" + section.name() + c.suffix;
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
    sim::VirtualBus bus(1);
    const bool attached = WithinWatchdog([&] { return COrvCy3Cam(Options(bus, section.name())).IsAttached(); });
    EXPECT_FALSE(attached);
    rmdir(path.c_str());
    EXPECT_TRUE(COrvCy3Cam(Options(bus, section.name())).IsAttached()) << "usable once the name is free";
  }
}

TEST(SharedSectionPrivacy, AnotherUsersObjectAtTheNameIsNotUsed) {
  if (geteuid() != 0) GTEST_SKIP() << "making another user's file needs root";
  ScopedSectionName section;
  const std::string path = LockPath(section.name());
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchown(fd, 4242, 4242), 0);
  close(fd);
  sim::VirtualBus bus(1);
  EXPECT_FALSE(COrvCy3Cam(Options(bus, section.name())).IsAttached());
  unlink(path.c_str());
}

TEST(SharedSectionPrivacy, ALockHeldByAnotherProcessFailsTheAttachWithinTheBound) {
  ScopedSectionName section;
  const std::string path = LockPath(section.name());
  LockHoldingChild holder([&] { return LockFileForever(path.c_str()); });
  ASSERT_TRUE(holder.holds());
  sim::VirtualBus bus(1);
  const auto start = std::chrono::steady_clock::now();
  const bool attached = WithinWatchdog([&] { return COrvCy3Cam(Options(bus, section.name())).IsAttached(); });
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(attached);
  EXPECT_GE(waited, std::chrono::milliseconds(kTableLockWaitMs)) << "gave up before the bound";
  ASSERT_TRUE(holder.Kill());
  EXPECT_TRUE(COrvCy3Cam(Options(bus, section.name())).IsAttached()) << "the dead holder's lock is gone";
}

}  // namespace
}  // namespace orvane::usb
