// A long run of everything an application does, against the virtual cameras (Linux build): preview
// into the application's buffer with random setting changes, snapshots in several colour modes, short
// recordings and switches between cameras. Once a minute it prints the process's resident memory,
// threads, open descriptors and the minute's frame rate; it ends non-zero when an error message or a
// failed call that the run did not provoke shows up, when no frame came in a minute, or when memory,
// threads or descriptors keep growing.
//
//   orvane_soak [minutes]   (default 30; ORVANE_SIM_CAMERAS defaults to 2)

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "OrvaneSdk.h"

namespace {

using Clock = std::chrono::steady_clock;

// Process figures at a quiet moment (no acquisition running).
struct Figures {
  long rssKb = 0;
  long threads = 0;
  long descriptors = 0;
};

Figures Measure() {
  Figures f;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) f.rssKb = std::atol(line.c_str() + 6);
    if (line.rfind("Threads:", 0) == 0) f.threads = std::atol(line.c_str() + 8);
  }
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(dir)) f.descriptors += e->d_name[0] != '.';
    closedir(dir);
    --f.descriptors;  // the directory itself
  }
  return f;
}

constexpr int kColourModes[] = {8, 16, 24, 32};
constexpr size_t kBufferBytes = size_t{4000} * 3000 * 4;  // the largest of those modes at full size

class Soak {
 public:
  Soak(double minutes, unsigned seed) : end_(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                                 std::chrono::duration<double, std::ratio<60>>(minutes))),
                                        random_(seed), buffer_(kBufferBytes) {
    queue_ = Orvane_CreateMessageQueue();
    handle_ = Orvane_Initialize(queue_);
    dir_ = std::filesystem::temp_directory_path() / ("orvane-soak-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  ~Soak() {
    if (handle_ != 0) Orvane_Release(handle_);
    Orvane_DestroyMessageQueue(queue_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  int Run();

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  void Fail(const char* what, int code) {
    ++failures_[std::string(what) + " " + std::to_string(code)];
  }
  bool Check(int result, const char* what) {
    if (result != 0) return true;
    Fail(what, Orvane_GetLastError(handle_));
    while (Orvane_GetLastError(handle_) != 0) {
    }
    return false;
  }
  // Takes the messages of `ms` milliseconds: frames counted, error messages remembered.
  void Drain(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    unsigned int message;
    uintptr_t wParam;
    intptr_t lParam;
    while (Clock::now() < until) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
      if (Orvane_GetMessage(queue_, &message, &wParam, &lParam, std::max(left, 1)) != 1) continue;
      if (message == ORVANE_WM_FRAME && wParam != 0) ++frames_;
      else Fail(message == ORVANE_WM_FRAME ? "frame message" : "error message", static_cast<int>(lParam));
    }
  }
  void ChangeASetting() {
    switch (Pick(6)) {
      case 0: Check(Orvane_SetGlobalGain(handle_, 100 + Pick(800)), "SetGlobalGain"); break;
      case 1: Check(Orvane_SetExposureTime(handle_, 10 + Pick(300)), "SetExposureTime"); break;
      case 2: Check(Orvane_SetMirrorV(handle_, Pick(2)), "SetMirrorV"); break;
      case 3: Check(Orvane_SetMirrorH(handle_, Pick(2)), "SetMirrorH"); break;
      case 4: Check(Orvane_SetBrightness(handle_, Pick(201) - 100), "SetBrightness"); break;
      default: Check(Orvane_SetGamma(handle_, 60 + Pick(120)), "SetGamma"); break;
    }
  }
  void Format() {
    Check(Orvane_SetColorMode(handle_, kColourModes[Pick(4)]), "SetColorMode");
    Check(Orvane_SetSubSample(handle_, Pick(2) == 0 ? 0 : 17), "SetSubSample");
  }
  void Preview() {
    Format();
    if (!Check(Orvane_CallBackPreview(handle_, queue_, buffer_.data(), static_cast<int>(buffer_.size()), 1),
               "CallBackPreview")) {
      return;
    }
    for (int i = 0, n = 3 + Pick(8); i < n; ++i) {
      Drain(300 + Pick(700));
      ChangeASetting();
    }
    Check(Orvane_StopPreview(handle_), "StopPreview");
  }
  void Snapshots() {
    for (int i = 0, n = 1 + Pick(4); i < n; ++i) {
      Format();
      if (Check(Orvane_SnapShot(handle_, buffer_.data(), static_cast<int>(buffer_.size()), Pick(2)), "SnapShot")) {
        ++snapshots_;
      }
    }
  }
  void Record() {
    Format();
    const int ms = 500 + Pick(1500);
    const std::string file = (dir_ / "soak.avi").string();
    if (Check(Orvane_Record(handle_, file.c_str(), ms, 0), "Record")) {
      Drain(ms + 500);
      ++recordings_;
    }
    Check(Orvane_StopPreview(handle_), "StopPreview");
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  }
  void Switch() {
    camera_ = (camera_ + 1) % cameras_;
    if (Check(Orvane_SetDeviceNumber(handle_, camera_), "SetDeviceNumber")) ++switches_;
  }
  bool Report(int minute, double seconds);
  int Verdict(bool everyMinuteFramed) const;

  Clock::time_point end_;
  std::mt19937 random_;
  std::vector<unsigned char> buffer_;
  HWND queue_ = nullptr;
  int handle_ = 0;
  std::filesystem::path dir_;
  int cameras_ = 1, camera_ = 0;
  long frames_ = 0, snapshots_ = 0, recordings_ = 0, switches_ = 0;
  std::map<std::string, long> failures_;
  std::vector<Figures> minutes_;
};

bool Soak::Report(int minute, double seconds) {
  const Figures f = Measure();
  minutes_.push_back(f);
  long failed = 0;
  for (const auto& [what, count] : failures_) failed += count;
  std::printf("minute %2d: RSS %6ld MiB, threads %3ld, descriptors %3ld, %5.1f frames/s, %ld snapshots, "
              "%ld recordings, %ld switches, %ld unexplained failures\n",
              minute, f.rssKb / 1024, f.threads, f.descriptors, frames_ / seconds, snapshots_, recordings_,
              switches_, failed);
  std::fflush(stdout);
  const bool framed = frames_ > 0;
  frames_ = snapshots_ = recordings_ = switches_ = 0;
  return framed;
}

int Soak::Run() {
  if (handle_ == 0) {
    std::printf("Orvane_Initialize failed\n");
    return 2;
  }
  char names[10][256];
  cameras_ = std::max(1, Orvane_EnumDevice(handle_, names));
  if (!Check(Orvane_SetDeviceNumber(handle_, 0), "SetDeviceNumber")) return 2;
  Check(Orvane_SetPreviewWindow(handle_, nullptr, 0, 0, 0, 0), "SetPreviewWindow");
  std::printf("soak: %d camera(s); one line a minute\n", cameras_);
  bool everyMinuteFramed = true;
  auto minuteStart = Clock::now();
  int minute = 0;
  while (Clock::now() < end_) {
    switch (Pick(4)) {
      case 0: Snapshots(); break;
      case 1: Record(); break;
      case 2: Switch(); break;
      default: Preview(); break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - minuteStart).count();
    if (seconds >= 60.0) {
      everyMinuteFramed = Report(++minute, seconds) && everyMinuteFramed;
      minuteStart = Clock::now();
    }
  }
  // The run's last part minute counts too, so that a short run still compares two figures.
  const double seconds = std::chrono::duration<double>(Clock::now() - minuteStart).count();
  if (seconds >= 10.0) everyMinuteFramed = Report(++minute, seconds) && everyMinuteFramed;
  return Verdict(everyMinuteFramed);
}

// Growth is measured from the end of the first minute (buffers, threads and the decoders' tables
// are made during it) to the end of the run, with margins for allocator noise.
int Soak::Verdict(bool everyMinuteFramed) const {
  constexpr long kRssMarginKb = 64 * 1024;
  constexpr long kThreadMargin = 2;
  constexpr long kDescriptorMargin = 4;
  int status = 0;
  for (const auto& [what, count] : failures_) {
    std::printf("unexplained: %s (%ld times)\n", what.c_str(), count);
    status = 1;
  }
  if (!everyMinuteFramed) {
    std::printf("a minute passed without a frame\n");
    status = 1;
  }
  if (minutes_.size() >= 2) {
    const Figures& first = minutes_.front();
    const Figures& last = minutes_.back();
    if (last.rssKb - first.rssKb > kRssMarginKb + first.rssKb / 10) {
      std::printf("memory grew from %ld to %ld MiB\n", first.rssKb / 1024, last.rssKb / 1024);
      status = 1;
    }
    if (last.threads - first.threads > kThreadMargin) {
      std::printf("threads grew from %ld to %ld\n", first.threads, last.threads);
      status = 1;
    }
    if (last.descriptors - first.descriptors > kDescriptorMargin) {
      std::printf("descriptors grew from %ld to %ld\n", first.descriptors, last.descriptors);
      status = 1;
    }
  }
  std::printf(status == 0 ? "soak: clean\n" : "soak: FAILED\n");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 30.0;
  if (!(minutes > 0.0)) {
    std::printf("usage: orvane_soak [minutes]\n");
    return 2;
  }
  setenv("ORVANE_SIM_CAMERAS", "2", 0);
  return Soak(minutes, std::random_device{}()).Run();
}
