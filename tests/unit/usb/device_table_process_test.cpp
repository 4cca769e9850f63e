// Two processes sharing the device table (Linux: the test program starts itself again).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "usb_test_support.h"

extern char** environ;

namespace orvane::usb {
namespace {

using namespace testing;

std::function<int()> Spawn(const std::string& role, const std::string& section) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back("ORVANE_TEST_ROLE=" + role);
  env.push_back("ORVANE_TEST_SECTION=" + section);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=DeviceTableChild.*";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return {};
  return [pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
}

std::string ChildRole() {
  const char* role = std::getenv("ORVANE_TEST_ROLE");
  return role != nullptr ? role : "";
}

TEST(DeviceTableChild, Role) {
  if (ChildRole().empty()) GTEST_SKIP() << "runs only as the child of a two-process test";
  RunDeviceTableChildRole(ChildRole(), std::getenv("ORVANE_TEST_SECTION"));
}

TEST(DeviceTable, TwoProcessesSeeTheSameNumbering) {
  if (!ChildRole().empty()) GTEST_SKIP();
  TwoProcessesSeeTheSameNumbering(Spawn);
}

TEST(DeviceTable, ConcurrentEnumerationFromTwoProcessesLosesNoEntry) {
  if (!ChildRole().empty()) GTEST_SKIP();
  ConcurrentEnumerationFromTwoProcessesLosesNoEntry(Spawn);
}

}  // namespace
}  // namespace orvane::usb
