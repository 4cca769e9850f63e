// The SDK's main job as an application does it: list the cameras, preview with a frame message per
// frame into the application's own buffer, take snapshots in every colour mode, change a few
// settings and read them back, then release the handle and say what was written where.
//
// Windows: a window of the application receives the messages, and the SDK shows its own preview
// window. Linux: a message queue of the library stands in for the window.

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "OrvaneSdk.h"

namespace {

// The application's window for the SDK's error and frame messages.
class MessageWindow {
 public:
  MessageWindow() {
#ifdef _WIN32
    handle_ = CreateWindowExA(0, "STATIC", "Orvane demo", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
#else
    handle_ = Orvane_CreateMessageQueue();
#endif
  }
  ~MessageWindow() {
#ifdef _WIN32
    DestroyWindow(handle_);
#else
    Orvane_DestroyMessageQueue(handle_);
#endif
  }
  HWND handle() const { return handle_; }

  // The next message within timeoutMs; false when none came.
  bool Next(unsigned int* message, uintptr_t* wParam, intptr_t* lParam, int timeoutMs) {
#ifdef _WIN32
    DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == handle_ && msg.message >= WM_APP) {
          *message = msg.message;
          *wParam = static_cast<uintptr_t>(msg.wParam);
          *lParam = static_cast<intptr_t>(msg.lParam);
          return true;
        }
        DispatchMessageA(&msg);  // keeps the SDK's preview window responsive
      }
      if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
#else
    return Orvane_GetMessage(handle_, message, wParam, lParam, timeoutMs) == 1;
#endif
  }

 private:
  HWND handle_;
};

void PrintErrors(int handle) {
  std::printf("  error history, newest first:");
  int code;
  bool any = false;
  while ((code = Orvane_GetLastError(handle)) != 0) {
    std::printf(" %d", code);
    any = true;
  }
  std::printf(any ? "\n" : " none\n");
}

// What the header of a recording says once the recorder has finished it (the stream length at
// offset 140 is 0 until then): the frame count and the scale, 10^7 / rate, at 128.
struct AviSummary {
  bool finished = false;
  unsigned frames = 0;
  double rate = 0;
};

AviSummary ReadAviSummary(const std::string& path) {
  unsigned char head[144] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head), sizeof(head));
  auto le32 = [&head](int at) {
    return static_cast<unsigned>(head[at] | head[at + 1] << 8 | head[at + 2] << 16) |
           static_cast<unsigned>(head[at + 3]) << 24;
  };
  AviSummary summary;
  if (in.gcount() != static_cast<std::streamsize>(sizeof(head)) || le32(140) == 0) return summary;
  summary.finished = true;
  summary.frames = le32(140);
  summary.rate = le32(128) != 0 ? 1e7 / le32(128) : 0;
  return summary;
}

// Preview, 24-bit colour, every frame into our own buffer with a frame message, for `seconds`.
bool Preview(int handle, MessageWindow& window, int seconds) {
  Orvane_SetColorMode(handle, 24);
#ifdef _WIN32
  Orvane_SetPreviewWindow(handle, nullptr, 0, 0, 800, 600);
#else
  Orvane_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0);
#endif
  std::vector<unsigned char> buffer(static_cast<size_t>(Orvane_Width(handle)) * Orvane_Height(handle) * 3);
  if (!Orvane_CallBackPreview(handle, window.handle(), buffer.data(), static_cast<int>(buffer.size()), 1)) {
    std::printf("preview failed\n");
    return false;
  }
  std::printf("preview for %d s, frames into a %zu-byte buffer:\n", seconds, buffer.size());
  auto start = std::chrono::steady_clock::now();
  int frames = 0, failures = 0, lastRate = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds)) {
    unsigned int message;
    uintptr_t wParam;
    intptr_t lParam;
    if (!window.Next(&message, &wParam, &lParam, 500) || message != ORVANE_WM_FRAME) continue;
    if (wParam == 0) {
      ++failures;
      continue;
    }
    const auto* info = reinterpret_cast<const OrvaneFrameInfo*>(wParam);
    ++frames;
    if (info->frameRate != lastRate) {
      lastRate = info->frameRate;
      std::printf("  frame %d: %d x %d, %d bits, %.1f frames/s\n", frames, info->width, info->height,
                  info->bitsPerPixel, info->frameRate / 10.0);
    }
  }
  Orvane_StopPreview(handle);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("  %d frames in %.1f s (%.1f frames/s), %d failed deliveries\n", frames, elapsed, frames / elapsed,
              failures);
  return true;
}

// Snapshots in every colour mode.
void Snapshots(int handle) {
  std::printf("snapshots:\n");
  for (int bits : {8, 16, 24, 32, 48, 64}) {
    if (!Orvane_SetColorMode(handle, bits)) continue;
    std::vector<unsigned char> image(static_cast<size_t>(Orvane_Width(handle)) * Orvane_Height(handle) * bits / 8);
    int ok = Orvane_SnapShot(handle, image.data(), static_cast<int>(image.size()), 1);
    unsigned long sum = 0;
    for (size_t i = 0; i < image.size(); i += 4099) sum += image[i];
    std::printf("  %2d bits per pixel: %s, %zu bytes, sampled mean %.1f\n", bits, ok ? "ok" : "failed", image.size(),
                static_cast<double>(sum) / static_cast<double>(image.size() / 4099 + 1));
  }
}

// A few settings, changed and read back.
void Settings(int handle) {
  std::printf("settings:\n");
  int ok = 0;
  Orvane_SetGlobalGain(handle, 300);
  std::printf("  global gain 300 -> %d\n", Orvane_GetGlobalGain(handle, &ok));
  Orvane_SetExposureTime(handle, 200);
  std::printf("  exposure 200 x 100 us -> %d us\n", Orvane_GetRealExposureTime(handle, &ok));
  Orvane_SetGamma(handle, 120);
  std::printf("  gamma 120 -> %d\n", Orvane_GetGamma(handle, &ok));
  Orvane_SetMirrorV(handle, 1);
  std::printf("  vertical mirror 1 -> %d\n", Orvane_GetMirrorV(handle));
  std::printf("  brightness 300 (out of range) -> %s\n", Orvane_SetBrightness(handle, 300) ? "accepted" : "refused");
}

// The newest frame in every file form into `outputDir`; the paths written are added to `written`.
void SaveImages(int handle, const std::string& outputDir, std::vector<std::string>* written) {
  Orvane_SetMirrorV(handle, 0);
  Orvane_SetColorMode(handle, 24);
  if (!Orvane_SnapShot(handle, nullptr, 0, 1)) return;
  const char* names[] = {"frame.bmp", "frame.raw", "frame_q100.jpg", "frame_q70.jpg", "frame_q20.jpg", "frame.png",
                         "frame.tif"};
  for (int type = ORVANE_FILE_BMP; type <= ORVANE_FILE_TIFF; ++type) {
    std::string path = outputDir + "/" + names[type];
    if (Orvane_SaveImage(handle, path.c_str(), type)) written->push_back(path);
  }
}

// A short recording of the live stream into `outputDir`; its path is added to `written`.
void Record(int handle, MessageWindow& window, const std::string& outputDir, std::vector<std::string>* written) {
  std::string clip = outputDir + "/clip.avi";
  const int recordMs = 2000;
  if (!Orvane_Record(handle, clip.c_str(), recordMs, 1)) return;
  std::printf("recording %d ms into %s\n", recordMs, clip.c_str());
  // The recording finishes by itself a recording time after its first frame, with the frame
  // count and the measured rate patched into the header; keep the stream running until then.
  unsigned int message;
  uintptr_t wParam;
  intptr_t lParam;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(recordMs + 60000);
  while (!ReadAviSummary(clip).finished && std::chrono::steady_clock::now() < until) {
    window.Next(&message, &wParam, &lParam, 100);
  }
  Orvane_StopPreview(handle);  // also waits for the recorder to have left
  AviSummary avi = ReadAviSummary(clip);
  if (avi.finished) {
    std::printf("  %u frames at %.1f frames/s\n", avi.frames, avi.rate);
  } else {
    std::printf("  the recording did not finish within a minute\n");
  }
  written->push_back(clip);
}

}  // namespace

int main(int argc, char** argv) {
  // Arguments: the folder for the files written (default: the current one), preview seconds.
  const std::string outputDir = argc > 1 ? argv[1] : ".";
  const int previewSeconds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::printf("Orvane SDK version %d (0x%08x)\n", Orvane_GetDllVersion(), Orvane_GetDllVersion());
  MessageWindow window;
  int handle = Orvane_Initialize(window.handle());
  if (handle == 0) {
    std::printf("Orvane_Initialize failed\n");
    return 1;
  }

  char names[10][256] = {};
  int count = Orvane_EnumDevice(handle, names);
  std::printf("cameras found: %d\n", count);
  for (int i = 0; i < count; ++i) std::printf("  %s\n", names[i]);
  if (count == 0) std::printf("no camera: set ORVANE_SIM_CAMERAS=1 for a virtual one\n");
  char serial[64] = {};
  if (count != 0 && Orvane_ReadSerialNumberA(handle, serial, sizeof(serial))) {
    std::printf("serial number: %s\n", serial);
  }
  if (count == 0 || !Preview(handle, window, previewSeconds)) {
    PrintErrors(handle);
    Orvane_Release(handle);
    return 1;
  }
  Snapshots(handle);
  Settings(handle);
  std::vector<std::string> written;
  SaveImages(handle, outputDir, &written);
  Record(handle, window, outputDir, &written);

  PrintErrors(handle);
  std::printf("release: %d\n", Orvane_Release(handle));
  std::printf("files written:\n");
  for (const std::string& path : written) {
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(path, error);
    std::printf("  %s (%llu bytes)\n", path.c_str(), error ? 0ull : static_cast<unsigned long long>(size));
  }
  return 0;
}
