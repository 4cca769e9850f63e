// Claims on cameras: one holder at a time, in this process and across processes, free again when the
// holder lets go or dies.
#include "platform/camera_claim.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include "lock_holding_child.h"
#endif

namespace orvane::platform {
namespace {

std::string FreshScope() {
  static const std::string run = std::to_string(std::random_device{}());
  static int counter = 0;
  return "OrvaneClaimTest-" + run + "-" + std::to_string(counter++);
}

ClaimResult Try(const std::string& scope, const std::string& key, std::optional<CameraClaim>* claim) {
  return CameraClaim::TryAcquire(scope, key, claim);
}

TEST(CameraClaim, OneHolderPerCameraUntilItLetsGo) {
  const std::string scope = FreshScope();
  std::optional<CameraClaim> first, second, other, otherScope;
  ASSERT_EQ(Try(scope, "\\\\?\\usb#vid_04b4&pid_31f0#sim00001", &first), ClaimResult::kHeld);
  EXPECT_EQ(Try(scope, "\\\\?\\usb#vid_04b4&pid_31f0#sim00001", &second), ClaimResult::kBusy);
  EXPECT_FALSE(second.has_value());
  // Other cameras, and the same path numbered by another table, are claims of their own.
  EXPECT_EQ(Try(scope, "\\\\?\\usb#vid_04b4&pid_31f0#sim00002", &other), ClaimResult::kHeld);
  EXPECT_EQ(Try(FreshScope(), "\\\\?\\usb#vid_04b4&pid_31f0#sim00001", &otherScope), ClaimResult::kHeld);
  first.reset();
  EXPECT_EQ(Try(scope, "\\\\?\\usb#vid_04b4&pid_31f0#sim00001", &second), ClaimResult::kHeld);
  // A moved claim is still the one claim.
  std::optional<CameraClaim> moved(std::move(second));
  second.reset();
  EXPECT_EQ(Try(scope, "\\\\?\\usb#vid_04b4&pid_31f0#sim00001", &first), ClaimResult::kBusy);
}

TEST(CameraClaim, AClaimTakenOnAnotherThreadIsStillExclusive) {
  const std::string scope = FreshScope();
  std::optional<CameraClaim> held;
  std::thread([&] { ASSERT_EQ(Try(scope, "camera", &held), ClaimResult::kHeld); }).join();
  std::optional<CameraClaim> second;
  EXPECT_EQ(Try(scope, "camera", &second), ClaimResult::kBusy);
  std::thread([&] { held.reset(); }).join();  // let go from yet another thread
  EXPECT_EQ(Try(scope, "camera", &second), ClaimResult::kHeld);
}

TEST(CameraClaim, ObjectNamesCarryNoPathSeparators) {
  const std::string name = CameraClaim::ObjectName("R3O5-MemMap", "\\\\?\\usb#vid_04b4&pid_31f0#a/b\\c");
  EXPECT_EQ(name.rfind("R3O5-MemMap-Camera-", 0), 0u);
  EXPECT_EQ(name.find('/'), std::string::npos);
  EXPECT_EQ(name.find('\\'), std::string::npos);
  EXPECT_NE(name, CameraClaim::ObjectName("R3O5-MemMap", "\\\\?\\usb#vid_04b4&pid_31f0#a/b\\d"));
}

#ifdef _WIN32
// A process that died holding the mutex leaves it abandoned: the camera is free. A thread that ends
// while owning the mutex leaves it abandoned the same way.
TEST(CameraClaim, AnAbandonedMutexCountsAsFree) {
  const std::string scope = FreshScope();
  const std::string name = CameraClaim::ObjectName(scope, "camera");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  std::thread([&] { ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); }).join();
  std::optional<CameraClaim> claim;
  EXPECT_EQ(Try(scope, "camera", &claim), ClaimResult::kHeld);
  CloseHandle(mutex);
}

TEST(CameraClaim, AMutexOwnedElsewhereIsBusy) {
  const std::string scope = FreshScope();
  HANDLE mutex = CreateMutexA(nullptr, TRUE, CameraClaim::ObjectName(scope, "camera").c_str());
  ASSERT_NE(mutex, nullptr);
  std::optional<CameraClaim> claim;
  EXPECT_EQ(Try(scope, "camera", &claim), ClaimResult::kBusy);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  EXPECT_EQ(Try(scope, "camera", &claim), ClaimResult::kHeld);
}
#else
// A child process takes the claim and is killed with SIGKILL: the camera is free again.
TEST(CameraClaim, AKilledHolderLeavesTheCameraFree) {
  const std::string scope = FreshScope();
  // Only the child's copy of `held` gets the claim, and keeps it until the child dies.
  std::optional<CameraClaim> held;
  LockHoldingChild holder([&] { return Try(scope, "camera", &held) == ClaimResult::kHeld; });
  ASSERT_TRUE(holder.reported());
  EXPECT_TRUE(holder.holds());
  std::optional<CameraClaim> claim;
  EXPECT_EQ(Try(scope, "camera", &claim), ClaimResult::kBusy);
  ASSERT_TRUE(holder.Kill());
  EXPECT_EQ(Try(scope, "camera", &claim), ClaimResult::kHeld);
}
#endif

}  // namespace
}  // namespace orvane::platform
