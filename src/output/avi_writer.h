// Uncompressed AVI recording: one video stream of 24-bit bottom-up DIB frames ("00db" chunks) with an index.
//
// Below the RIFF limit (1 GiB) a file is a plain AVI 1.0 file: a fixed 232-byte header up to the "movi"
// data, the frame chunks, then "idx1". Rows are padded to 4 bytes as in any DIB, and the chunk sizes, the
// index sizes and the buffer sizes in the headers count the padded frame.
//
// Past the limit the recording continues as an OpenDML (AVI 2.0) file. The header of the first RIFF has no
// room for the OpenDML super index ("indx" in the stream list) and extended header ("odml"/"dmlh"), and no
// space may be reserved for them without changing the layout of every short file. So when the first RIFF
// is about to pass the limit, the writer grows the header in place over the first frame chunks, which it
// moves to the start of the next RIFF ("AVIX"); a "JUNK" chunk fills any gap up to the first frame that
// stays. The first RIFF keeps a valid "idx1" over the frames it still holds (what an AVI 1.0 reader
// plays), and every RIFF's "movi" list ends with a standard index chunk "ix00". The super index lists the
// moved frames first, so every reader that follows the index plays all frames in recording order; a
// reader that scans chunks in file order without the index sees the moved frames (one frame at full
// sensor size) after the first RIFF's frames. This costs one copy of a few frames once, instead of moving
// a gigabyte of frames or dropping frames during the recording. The first RIFF turns OpenDML exactly when
// its AVI 1.0 form would pass the limit (its "ix00" then adds 8 bytes per frame on top); each further RIFF
// is closed before it passes the limit.
//
// Not thread-safe: one recording thread owns the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace orvane::output {

class AviWriter {
 public:
  static constexpr uint64_t kDefaultRiffLimit = uint64_t{1} << 30;
  // Super index capacity: one entry per RIFF (plus one for the moved frames), 4096 × 1 GiB.
  static constexpr uint32_t kDefaultSuperIndexEntries = 4096;
  // Nominal frame rate written at creation, frames per second.
  static constexpr uint32_t kNominalRate = 30;

  // `riffLimit` bounds the size of each RIFF (the whole file while it is plain AVI 1.0); it is raised to
  // what the header growth and a few frames need, and capped at 2 GiB. Tests inject a small one.
  explicit AviWriter(uint64_t riffLimit = kDefaultRiffLimit, uint32_t superIndexEntries = kDefaultSuperIndexEntries);
  ~AviWriter();  // closes an unfinished file as it is (no index, sizes not patched)
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates the file (truncating an existing one) and writes everything up to the "movi" data.
  // False for a bad size, a file that cannot be opened or a failed write (the file is closed).
  [[nodiscard]] bool Create(const char* fileName, int width, int height);
  // Appends one frame of FrameBytes() bytes: 24-bit blue-green-red, bottom row first, rows padded to 4
  // bytes (ConvertToAviFrame). False for a wrong size, a closed writer, a full super index, or a failed
  // write; after a failed write the frame is not counted and later frames are refused, but Finish still
  // closes the file as far as it can.
  [[nodiscard]] bool AddFrame(const uint8_t* frame, size_t bytes);
  // Writes the index, patches sizes, frame counts and the measured rate (frames per second × 100; 0 keeps
  // the nominal rate) and closes the file. False when any write of the recording failed.
  [[nodiscard]] bool Finish(uint32_t measuredRateTimes100);
  // Closes without finishing, as a recording stopped before its end leaves the file.
  void Close();

  bool IsOpen() const { return file_ != nullptr; }
  bool IsOpenDml() const { return openDml_; }
  uint32_t FrameCount() const { return frameCount_; }
  size_t FrameBytes() const { return frameBytes_; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  struct SuperIndexEntry {
    uint64_t offset;    // file position of the "ix00" chunk
    uint32_t size;      // its size including the chunk header
    uint32_t duration;  // frames it indexes
  };

  bool Put(const void* data, size_t bytes);
  bool PatchU32(uint64_t at, uint32_t value);
  bool SeekTo(uint64_t at);
  bool WriteStandardIndex(const std::vector<uint64_t>& chunks);
  bool WriteIdx1(const std::vector<uint64_t>& chunks, uint64_t moviFourcc);
  bool StartOpenDml();
  bool BeginExtendedRiff();
  bool CloseExtendedRiff();
  bool PatchRates(uint32_t measuredRateTimes100);

  const uint64_t requestedLimit_;
  const uint32_t superIndexCapacity_;
  uint64_t riffLimit_ = 0;
  std::unique_ptr<std::FILE, FileCloser> file_;
  uint64_t pos_ = 0;  // write position: the end of the valid data
  bool failed_ = false;
  int width_ = 0;
  int height_ = 0;
  uint32_t frameBytes_ = 0;
  uint32_t frameCount_ = 0;
  std::vector<uint64_t> chunks_;  // positions of the frame chunks of the current RIFF's "movi" list
  bool openDml_ = false;
  uint32_t firstRiffFrames_ = 0;
  uint64_t indxPos_ = 0;
  uint64_t dmlhFramesPos_ = 0;
  uint64_t riffPos_ = 0;        // "RIFF" of the current extended RIFF
  uint64_t moviFourccPos_ = 0;  // "movi" of the current extended RIFF
  std::vector<SuperIndexEntry> superIndex_;
};

}  // namespace orvane::output
