// One camera, several SDK objects: the camera is open in one object at a time, in this process or in
// another; the others are refused with error 2 and the holder's stream goes on untouched. Close,
// Release and the holder's death free the camera.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "small_frames.h"
#include "test_camera.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lock_holding_child.h"
extern char** environ;
#endif

namespace {

constexpr int kFrameBytes = SmallFrameBytes(24);

// One SDK object previewing into its own buffer, with its own window.
struct Viewer {
  explicit Viewer(bool preview) : buffer(kFrameBytes) {
    handle = Orvane_Initialize(window.handle());
    if (handle == 0) return;
    initErrors = Errors();
    Configure();
    while (!window.Empty()) {
    }
    if (preview) started = Orvane_CallBackPreview(handle, window.handle(), buffer.data(), kFrameBytes, 1);
  }
  ~Viewer() {
    if (handle != 0) Orvane_Release(handle);
  }
  // A camera's stored settings come with its opening: the format of the buffers is set again after.
  void Configure() {
    Orvane_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0);
    Orvane_SetColorMode(handle, 24);
    Orvane_SetSubSample(handle, kSmallSubSample);
    Errors();
  }
  // Takes `count` frame messages; false at the first error message or a missing frame.
  bool Frames(int count) {
    for (int taken = 0; taken < count;) {
      TakenMessage m;
      if (!window.Take(&m, 60000)) return false;
      if (m.message == ORVANE_WM_ERROR || (m.message == ORVANE_WM_FRAME && m.wParam == 0)) {
        ADD_FAILURE() << "message " << m.message << " with code " << m.lParam;
        return false;
      }
      if (m.message == ORVANE_WM_FRAME) ++taken;
    }
    return true;
  }
  std::vector<int> Errors() {
    std::vector<int> codes;
    for (int code; (code = Orvane_GetLastError(handle)) != 0;) codes.push_back(code);
    return codes;
  }

  TestWindow window;
  std::vector<unsigned char> buffer;
  int handle = 0;
  int started = 0;
  std::vector<int> initErrors;  // what Initialize recorded, newest first
};

// The virtual cameras of this program are claimed across processes as real cameras are, so that a
// second process started from it sees the first one's claims (unless it was started with a value of
// its own).
const bool kClaimedAcrossProcesses =
    std::getenv("ORVANE_SIM_SHARED") != nullptr || SetTestVariable("ORVANE_SIM_SHARED", "1");

class Sharing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera && kClaimedAcrossProcesses);
    UseFreshSettingsStore();
  }
};

TEST_F(Sharing, ASecondObjectIsRefusedWhileTheFirstStreamsOn) {
  Viewer first(true);
  ASSERT_EQ(first.started, 1);
  ASSERT_TRUE(first.Frames(3));
  Viewer second(false);
  ASSERT_NE(second.handle, 0);
  EXPECT_EQ(second.initErrors, std::vector<int>{ORVANE_ERR_NO_CAMERA}) << "the automatic open is refused";
  EXPECT_EQ(Orvane_SetDeviceNumber(second.handle, 0), 0);
  EXPECT_EQ(second.Errors(), std::vector<int>{ORVANE_ERR_NO_CAMERA});
  std::vector<unsigned char> image(kFrameBytes);
  EXPECT_EQ(Orvane_SnapShot(second.handle, image.data(), kFrameBytes, 1), 0);
  EXPECT_EQ(second.Errors(), std::vector<int>{ORVANE_ERR_NO_CAMERA});
  EXPECT_EQ(Orvane_CallBackPreview(second.handle, second.window.handle(), second.buffer.data(), kFrameBytes, 1), 0);
  EXPECT_EQ(second.Errors(), (std::vector<int>{ORVANE_ERR_TRANSFER, ORVANE_ERR_NO_CAMERA}));
  // Settings of the refused object reach no camera.
  Orvane_SetColorMode(second.handle, 8);
  Orvane_SetMirrorV(second.handle, 1);
  Orvane_Fpga_WriteRegister(second.handle, 0x3C, 2);
  // The first object saw none of it: every frame arrives, no error.
  EXPECT_TRUE(first.Frames(20));
  EXPECT_TRUE(first.Errors().empty());
}

TEST_F(Sharing, TwoObjectsStreamingOneCameraLeaveOneStreaming) {
  Viewer first(true);
  Viewer second(true);
  ASSERT_EQ(first.started, 1);
  EXPECT_EQ(second.started, 0);
  EXPECT_TRUE(first.Frames(30));
}

TEST_F(Sharing, CloseAndReleaseFreeTheCameraAndCloseReopensOnTheNextStart) {
  Viewer first(true);
  ASSERT_EQ(first.started, 1);
  ASSERT_TRUE(first.Frames(2));
  Viewer second(false);
  EXPECT_EQ(Orvane_Close(first.handle), 1);
  ASSERT_EQ(Orvane_SetDeviceNumber(second.handle, 0), 1);
  second.Configure();
  ASSERT_EQ(Orvane_CallBackPreview(second.handle, second.window.handle(), second.buffer.data(), kFrameBytes, 1), 1);
  EXPECT_TRUE(second.Frames(3));
  // The closed object may not take it back while the second has it.
  EXPECT_EQ(Orvane_StartPreview(first.handle), 0);
  EXPECT_EQ(first.Errors(), std::vector<int>{ORVANE_ERR_NO_CAMERA});
  EXPECT_TRUE(second.Frames(5));
  EXPECT_EQ(Orvane_Release(second.handle), 1);
  second.handle = 0;
  // Free again: the closed object opens it anew and streams.
  while (!first.window.Empty()) {  // the refusal's error message
  }
  ASSERT_EQ(Orvane_CallBackPreview(first.handle, first.window.handle(), first.buffer.data(), kFrameBytes, 1), 1);
  EXPECT_TRUE(first.Frames(3));
  EXPECT_TRUE(first.Errors().empty());
}

#ifndef _WIN32
// The same program started again as the holder: it opens the camera, says so on stdout and waits for
// its stdin to close (or to be killed).
pid_t StartHolder(int* out, int* in, const char* extraEnvironment = nullptr) {
  int toParent[2], toChild[2];
  // Close-on-exec: the child keeps only its stdin and stdout, so closing `in` ends its stdin.
  if (pipe2(toParent, O_CLOEXEC) != 0 || pipe2(toChild, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toParent[1], 1);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  std::vector<std::string> env;
  // `extraEnvironment` ("NAME=value") replaces the variable of that name.
  const std::string extra = extraEnvironment != nullptr ? extraEnvironment : "";
  const std::string extraName = extra.substr(0, extra.find('=') + 1);
  for (char** e = environ; *e != nullptr; ++e) {
    if (extraName.empty() || std::string(*e).rfind(extraName, 0) != 0) env.emplace_back(*e);
  }
  env.push_back("ORVANE_TEST_ROLE=holder");
  if (!extra.empty()) env.push_back(extra);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe", filter = "--gtest_filter=SharingChild.*";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(toParent[1]);
  close(toChild[0]);
  *out = toParent[0];
  *in = toChild[1];
  return spawned == 0 ? pid : -1;
}

// Reads the holder's stdout up to the line "held" (false when the holder ended first).
bool WaitForHolder(int out) {
  std::string text;
  char c;
  while (text.find("held\n") == std::string::npos) {
    if (read(out, &c, 1) != 1) return false;
    text += c;
  }
  return true;
}

TEST(SharingChild, Holder) {
  const char* role = std::getenv("ORVANE_TEST_ROLE");
  if (role == nullptr || std::string(role) != "holder") GTEST_SKIP() << "runs only as the holder process";
  ASSERT_TRUE(kOneVirtualCamera);
  Viewer holder(true);
  ASSERT_EQ(holder.started, 1);
  ASSERT_TRUE(holder.Frames(1));
  std::printf("held\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) == 1) {
  }
  EXPECT_TRUE(holder.Frames(3)) << "the other process disturbed the stream";
}

TEST_F(Sharing, ACameraHeldByAnotherProcessIsRefusedAndFreedByItsDeathOrRelease) {
  for (const bool kill9 : {true, false}) {
    SCOPED_TRACE(kill9 ? "holder killed" : "holder releases");
    int out = -1, in = -1;
    const pid_t holder = StartHolder(&out, &in);
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(WaitForHolder(out));
    Viewer second(false);
    EXPECT_EQ(second.initErrors, std::vector<int>{ORVANE_ERR_NO_CAMERA});
    EXPECT_EQ(Orvane_SetDeviceNumber(second.handle, 0), 0);
    std::vector<unsigned char> image(kFrameBytes);
    EXPECT_EQ(Orvane_SnapShot(second.handle, image.data(), kFrameBytes, 1), 0);
    if (kill9) kill(holder, SIGKILL);
    close(in);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    close(out);
    if (!kill9) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the holder's stream was disturbed";
    }
    second.Errors();
    EXPECT_EQ(Orvane_SetDeviceNumber(second.handle, 0), 1);
    second.Configure();
    EXPECT_EQ(Orvane_SnapShot(second.handle, image.data(), kFrameBytes, 1), 1);
  }
}

// Without ORVANE_SIM_SHARED a process's virtual cameras are its own: programs that simulate the same
// cameras at the same time (parallel test programs, two applications) do not refuse each other.
TEST_F(Sharing, VirtualCamerasOfAnotherProcessAreItsOwn) {
  int out = -1, in = -1;
  const pid_t holder = StartHolder(&out, &in, "ORVANE_SIM_SHARED=0");
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(WaitForHolder(out));
  Viewer second(true);
  EXPECT_TRUE(second.initErrors.empty());
  EXPECT_EQ(second.started, 1);
  EXPECT_TRUE(second.Frames(3));
  close(in);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  close(out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the holder's stream was disturbed";
}

// A process that holds the shared table's lock and never lets go: Initialize returns within the
// bound with error 3 instead of hanging, and the handle lists no camera.
TEST_F(Sharing, AStuckTableLockGivesError3WithinTheBound) {
  const std::string path = "/dev/shm/R3O5-MemMap-Lock-" + std::to_string(geteuid());
  LockHoldingChild holder([&] { return LockFileForever(path.c_str()); });
  ASSERT_TRUE(holder.holds());
  const int handle = Orvane_Initialize(nullptr);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(Orvane_GetLastError(handle), ORVANE_ERR_THREAD);
  char names[10][256];
  EXPECT_EQ(Orvane_EnumDevice(handle, names), 0);
  EXPECT_EQ(Orvane_Release(handle), 1);
  static_cast<void>(holder.Kill());
  const int fresh = Orvane_Initialize(nullptr);
  EXPECT_EQ(Orvane_GetLastError(fresh), 0) << "usable again once the holder is gone";
  EXPECT_EQ(Orvane_Release(fresh), 1);
}
#endif

}  // namespace
