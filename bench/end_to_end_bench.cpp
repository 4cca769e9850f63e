// orvane_e2e_bench: the whole frame path at full size, as an application meets it. One virtual camera
// streams 4000 x 3000 frames at the sensor's own rate; the program previews with a callback into its own
// buffer in 24-bit colour, takes the frame messages from a message queue and, after a warm-up, measures a
// fixed number of delivered frames: rate, whole-frame copies per frame (the library's internal count),
// process CPU time per frame (every thread, the virtual camera's included), the library's share of it
// (the process's CPU time less what the virtual camera spent rendering and copying payloads, the work a
// real camera does in its own hardware) and wall time per frame.
//
//   orvane_e2e_bench [--frames N] [--warmup N] [--filters] [--no-dot] [--dot-only] [--label TEXT] [--header]
//
// --filters turns every image filter on (white balance, gains, gamma, contrast, hue, saturation,
// sharpness, brightness, shading and defect correction); --no-dot leaves the defect correction off;
// --dot-only keeps the default settings and turns the defect correction on.
// Logging follows ORVANE_LOG as in any application. One result row goes to stdout; --header prints the
// column names first. Exit status 1 when the camera or the stream fails.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "platform/frame_copies.h"
#include "sim/fault_injection.h"
#include "sim/virtual_camera.h"

namespace {

struct Options {
  int frames = 300;
  int warmup = 10;
  bool filters = false;
  bool dot = true;
  bool dotOnly = false;  // default settings with the defect (dot) correction on
  bool header = false;
  std::string label = "default";
};

struct Sample {
  double cpuSeconds = 0;
  double cameraCpuSeconds = 0;
  double wallSeconds = 0;
  uint64_t copies = 0;
  uint64_t sent = 0;
};

struct Figures {
  int delivered = 0;
  double framesPerSecond = 0;
  double copiesPerFrame = 0;
  double sentPerFrame = 0;
  double cpuMsPerFrame = 0;
  double sdkCpuMsPerFrame = 0;
  double wallMsPerFrame = 0;
};

double Seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--frames" && hasValue) {
      o->frames = std::atoi(argv[++i]);
    } else if (a == "--warmup" && hasValue) {
      o->warmup = std::atoi(argv[++i]);
    } else if (a == "--label" && hasValue) {
      o->label = argv[++i];
    } else if (a == "--filters") {
      o->filters = true;
    } else if (a == "--no-dot") {
      o->dot = false;
    } else if (a == "--dot-only") {
      o->dotOnly = true;
    } else if (a == "--header") {
      o->header = true;
    } else {
      return false;
    }
  }
  return o->frames > 0 && o->warmup >= 0;
}

// Every filter away from its neutral value. The shading correction needs a bright reference: one
// snapshot's raw frame (the dark reference stays zero).
bool TurnFiltersOn(int handle, bool dot, std::vector<unsigned char>& buffer) {
  if (Orvane_SnapShot(handle, buffer.data(), static_cast<int>(buffer.size()), 1) != 1 ||
      Orvane_UpdateMaskData(handle, 1) != 1) {
    return false;
  }
  const int settings[][2] = {
      {ORVANE_FILTER_BAYER_GAIN_AUTO, 1}, {ORVANE_FILTER_BAYER_GAIN_RED, 110}, {ORVANE_FILTER_GAMMA, 120},
      {ORVANE_FILTER_CONTRAST, 20},       {ORVANE_FILTER_HUE, 15},             {ORVANE_FILTER_SATURATION, 30},
      {ORVANE_FILTER_SHARPNESS, 8},       {ORVANE_FILTER_BRIGHTNESS, 10},      {ORVANE_FILTER_MASK, 1},
  };
  for (const auto& s : settings) {
    if (Orvane_SetFilterValue(handle, s[0], s[1]) != 1) return false;
  }
  return !dot || Orvane_SetFilterValue(handle, ORVANE_FILTER_DOT, 1) == 1;
}

// Takes `count` frame messages; false on a failure message or when none comes for 10 s.
bool TakeFrames(HWND queue, int count) {
  for (int taken = 0; taken < count;) {
    unsigned int message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    if (Orvane_GetMessage(queue, &message, &wParam, &lParam, 10000) != 1) return false;
    if (message != ORVANE_WM_FRAME) continue;
    if (wParam == 0) {
      std::fprintf(stderr, "orvane_e2e_bench: frame failure, error %ld\n", static_cast<long>(lParam));
      return false;
    }
    ++taken;
  }
  return true;
}

Sample Now(const orvane::sim::VirtualCamera* camera) {
  Sample s;
  s.cpuSeconds = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  s.wallSeconds = Seconds(CLOCK_MONOTONIC);
  s.copies = orvane::platform::FrameCopies();
  const orvane::sim::CameraCounters counters = camera != nullptr ? camera->counters() : orvane::sim::CameraCounters{};
  s.sent = counters.framesCompleted;
  s.cameraCpuSeconds = static_cast<double>(counters.cpuNs) * 1e-9;
  return s;
}

Figures Compare(const Sample& a, const Sample& b, int frames) {
  Figures f;
  const double n = frames;
  f.delivered = frames;
  f.framesPerSecond = n / (b.wallSeconds - a.wallSeconds);
  f.copiesPerFrame = static_cast<double>(b.copies - a.copies) / n;
  f.sentPerFrame = static_cast<double>(b.sent - a.sent) / n;
  f.cpuMsPerFrame = (b.cpuSeconds - a.cpuSeconds) * 1000.0 / n;
  f.sdkCpuMsPerFrame = f.cpuMsPerFrame - (b.cameraCpuSeconds - a.cameraCpuSeconds) * 1000.0 / n;
  f.wallMsPerFrame = (b.wallSeconds - a.wallSeconds) * 1000.0 / n;
  return f;
}

// Previews with the options' settings and measures the frames after the warm-up. False on a failure.
bool Measure(int handle, const Options& o, Figures* figures) {
  auto* camera = dynamic_cast<orvane::sim::VirtualCamera*>(orvane::sim::ProcessCameraFaults(1));
  if (Orvane_SetColorMode(handle, 24) != 1) return false;
  std::vector<unsigned char> buffer(static_cast<size_t>(4000) * 3 * 3000);
  if (o.filters && !TurnFiltersOn(handle, o.dot, buffer)) return false;
  if (o.dotOnly && Orvane_SetFilterValue(handle, ORVANE_FILTER_DOT, 1) != 1) return false;
  HWND queue = Orvane_CreateMessageQueue();
  bool ok = Orvane_CallBackPreview(handle, queue, buffer.data(), static_cast<int>(buffer.size()), 1) == 1 &&
            TakeFrames(queue, o.warmup);
  if (ok) {
    const Sample before = Now(camera);
    ok = TakeFrames(queue, o.frames);
    const Sample after = Now(camera);
    *figures = Compare(before, after, o.frames);
  }
  Orvane_StopPreview(handle);
  Orvane_DestroyMessageQueue(queue);
  return ok;
}

void PrintHeader() {
  std::printf("%-34s %9s %8s %12s %10s %12s %12s %13s\n", "run (4000 x 3000, 24 bits)", "delivered", "frames/s",
              "copies/frame", "sent/frame", "cpu ms/frame", "sdk ms/frame", "wall ms/frame");
}

void PrintRow(const std::string& label, const Figures& f) {
  std::printf("%-34s %9d %8.2f %12.2f %10.2f %12.2f %12.2f %13.2f\n", label.c_str(), f.delivered, f.framesPerSecond,
              f.copiesPerFrame, f.sentPerFrame, f.cpuMsPerFrame, f.sdkCpuMsPerFrame, f.wallMsPerFrame);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: orvane_e2e_bench [--frames N] [--warmup N] [--filters] [--no-dot] [--dot-only] [--label TEXT]\n"
                 "                        [--header]\n");
    return 2;
  }
  setenv("ORVANE_SIM_CAMERAS", "1", 0);
  if (o.header) PrintHeader();
  const int handle = Orvane_Initialize(nullptr);
  if (handle == 0) {
    std::fprintf(stderr, "orvane_e2e_bench: no camera\n");
    return 1;
  }
  Figures figures;
  const bool ok = Measure(handle, o, &figures);
  if (!ok) std::fprintf(stderr, "orvane_e2e_bench: the stream failed (last error %d)\n", Orvane_GetLastError(handle));
  Orvane_Release(handle);
  if (!ok) return 1;
  PrintRow(o.label, figures);
  return 0;
}
