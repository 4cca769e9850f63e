// snap, record and stream: the acquisition commands.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tool.h"

namespace orvane_tool {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The file type of Orvane_SaveImage chosen by the file name's extension.
int FileTypeOf(const std::string& file) {
  const size_t dot = file.rfind('.');
  std::string ext = dot == std::string::npos ? "" : file.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "bmp") return ORVANE_FILE_BMP;
  if (ext == "raw") return ORVANE_FILE_RAW;
  if (ext == "jpg" || ext == "jpeg") return ORVANE_FILE_JPEG_100;
  if (ext == "png") return ORVANE_FILE_PNG;
  if (ext == "tif" || ext == "tiff") return ORVANE_FILE_TIFF;
  throw UsageError("cannot tell the format of '" + file + "': use .bmp, .raw, .jpg, .png or .tif");
}

// Applies --mode and sizes a frame buffer for the colour mode in force; false after a failure.
bool PrepareBuffer(Session& session, const Arguments& args, std::vector<unsigned char>* buffer) {
  const int h = session.handle();
  if (args.modeBits != 0 && Orvane_SetColorMode(h, args.modeBits) != 1) {
    session.Fail("--mode " + std::to_string(args.modeBits));
    return false;
  }
  const int bits = Orvane_GetColorMode(h);
  buffer->assign(static_cast<size_t>(Orvane_Width(h)) * static_cast<size_t>(Orvane_Height(h)) *
                     static_cast<size_t>(bits > 0 ? bits : 64) / 8,
                 0);
  return true;
}

// A finished recording has its frame count at offset 140 of the AVI header (0 while recording)
// and the scale, 10^7 / rate, at offset 128.
struct AviSummary {
  bool finished = false;
  unsigned frames = 0;
  double rate = 0;
};

AviSummary ReadAviSummary(const std::string& path) {
  unsigned char head[144] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head), sizeof head);
  auto le32 = [&head](int at) {
    return static_cast<unsigned>(head[at] | head[at + 1] << 8 | head[at + 2] << 16) |
           static_cast<unsigned>(head[at + 3]) << 24;
  };
  AviSummary summary;
  if (in.gcount() != static_cast<std::streamsize>(sizeof head) || le32(140) == 0) return summary;
  summary.finished = true;
  summary.frames = le32(140);
  summary.rate = le32(128) != 0 ? 1e7 / le32(128) : 0;
  return summary;
}

}  // namespace

int RunSnap(Session& session, const Arguments& args) {
  const std::string& file = args.operands[0];
  const int type = FileTypeOf(file);
  std::vector<unsigned char> buffer;
  if (!PrepareBuffer(session, args, &buffer)) return kExitFailed;
  const int h = session.handle();
  if (Orvane_SnapShot(h, buffer.data(), static_cast<int>(buffer.size()), 1) != 1) {
    return session.Fail("Orvane_SnapShot");
  }
  if (Orvane_SaveImage(h, file.c_str(), type) != 1) return session.Fail("Orvane_SaveImage " + file);
  std::printf("%s: %d x %d, %d bits per pixel\n", file.c_str(), Orvane_Width(h), Orvane_Height(h),
              Orvane_GetColorMode(h));
  return kExitOk;
}

// Frame messages of a stream: delivered frames, failed ones (error code in lParam), error messages.
struct StreamCounts {
  int delivered = 0, failed = 0, errors = 0, lastRate = 0;

  void Count(const Message& message) {
    if (message.id == ORVANE_WM_FRAME && message.wParam != 0) {
      ++delivered;
      // The SDK rewrites the block in place for the next frame (with atomic stores): read it atomically.
      auto* info = reinterpret_cast<OrvaneFrameInfo*>(message.wParam);
      lastRate = std::atomic_ref<int32_t>(info->frameRate).load(std::memory_order_relaxed);
    } else if (message.id == ORVANE_WM_FRAME) {
      ++failed;
    } else if (message.id == ORVANE_WM_ERROR) {
      ++errors;
    }
  }
};

// The measurement starts with the first frame message (start-up is not counted in the rate); the
// first one may take a while on a slow machine, so it is waited for up to a generous limit.
int RunStream(Session& session, const Arguments& args) {
  constexpr double kFirstFrameLimitSeconds = 60;
  const double seconds = ParseSeconds(args.operands[0]);
  std::vector<unsigned char> buffer;
  if (!PrepareBuffer(session, args, &buffer)) return kExitFailed;
  const int h = session.handle();
  Orvane_SetPreviewWindow(h, nullptr, 0, 0, 640, 480);
  if (Orvane_CallBackPreview(h, session.pump().handle(), buffer.data(), static_cast<int>(buffer.size()), 1) != 1) {
    return session.Fail("Orvane_CallBackPreview");
  }
  StreamCounts counts;
  Message message;
  const Clock::time_point requested = Clock::now();
  while (counts.delivered + counts.failed == 0 && SecondsSince(requested) < kFirstFrameLimitSeconds) {
    if (session.pump().Next(&message, 100)) counts.Count(message);
  }
  const Clock::time_point start = Clock::now();
  while (counts.delivered + counts.failed > 0 && SecondsSince(start) < seconds) {
    if (session.pump().Next(&message, 100)) counts.Count(message);
  }
  const double elapsed = SecondsSince(start);
  Orvane_StopPreview(h);
  std::printf("%d frames delivered, %d failed, %d error messages in %.1f s: %.1f frames/s (camera %.1f)\n",
              counts.delivered, counts.failed, counts.errors, elapsed, counts.delivered / elapsed,
              counts.lastRate / 10.0);
  if (counts.delivered == 0) return session.Fail("stream (no frame delivered)");
  return kExitOk;
}

int RunRecord(Session& session, const Arguments& args) {
  const std::string& file = args.operands[0];
  const double seconds = ParseSeconds(args.operands[1]);
  std::vector<unsigned char> unused;
  if (!PrepareBuffer(session, args, &unused)) return kExitFailed;
  const int h = session.handle();
  if (Orvane_Record(h, file.c_str(), static_cast<int>(seconds * 1000 + 0.5), 0) != 1) {
    return session.Fail("Orvane_Record " + file);
  }
  // The recorder finishes by itself a recording time after its first frame and then patches the
  // frame count into the header; the stream runs until then (or a generous limit).
  const Clock::time_point start = Clock::now();
  Message message;
  while (!ReadAviSummary(file).finished && SecondsSince(start) < seconds + 60) {
    session.pump().Next(&message, 200);
    std::fprintf(stderr, "\rrecording %s: %.1f of %.1f s", file.c_str(), SecondsSince(start), seconds);
  }
  std::fprintf(stderr, "\n");
  Orvane_StopPreview(h);  // waits for the recorder to have left
  const AviSummary avi = ReadAviSummary(file);
  if (!avi.finished) return session.Fail("recording " + file + " (not finished within a minute)");
  std::printf("%s: %u frames at %.1f frames/s\n", file.c_str(), avi.frames, avi.rate);
  return kExitOk;
}

}  // namespace orvane_tool
