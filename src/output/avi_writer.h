// Uncompressed AVI recording: one video stream of 24-bit bottom-up DIB frames ("00db" chunks) with an index.
//
// Below the RIFF limit (1 GiB) a file is a plain AVI 1.0 file: a fixed 232-byte header up to the "movi"
// data, the frame chunks, then "idx1". Rows are padded to 4 bytes as in any DIB, and the chunk sizes, the
// index sizes and the buffer sizes in the headers count the padded frame.
//
// Past the limit the recording continues as an OpenDML (AVI 2.0) file: further RIFFs ("AVIX"), each
// "movi" list ending with a standard index chunk "ix00", a super index "indx" in the stream list and the
// extended header "odml"/"dmlh" with the total frame count. The first RIFF's 232-byte header has no room
// for "indx" and "odml", and none may be reserved without changing the layout of every short file. So
// when the first RIFF is about to pass the limit, its first frames (as many whole chunks as the header
// growth and a "JUNK" chunk header need) are copied behind its last frame, and the grown header, a
// "JUNK" chunk and the "movi" list header take their place in front of the frames that stay. The "ix00"
// and "idx1" of the first RIFF follow the copies and list every frame in recording order, and the main
// header's "must use index" flag stays set in the finished file, so readers play by the index, in
// recording order; only a reader that scans the chunks against the flag sees the first frames at the end
// of the first RIFF. An AVI 1.0 reader still plays the first RIFF through "idx1". Nothing else is ever
// moved: a few frames once, not the gigabyte before them. The first RIFF turns OpenDML exactly when its
// AVI 1.0 form would pass the limit, so it ends up larger than the limit by the copied frames and its
// "ix00" (under a frame plus 100 KiB by default); each further RIFF is closed before it passes the limit.
//
// Crash safety: Update (called at least once a second while recording) leaves the file in a provisional
// but complete state that counts every frame added so far. Below the limit an "idx1" over those frames is
// written past a reserve of room for the next frames (the "movi" list's size covers the reserve), and then
// the 232-byte header with the counts, sizes and the "must use index" flag is rewritten in a single
// write. The header always refers to an index that is whole, so a process killed at any moment leaves a
// file that readers play up to the last update; frames written after it lie in the reserve, outside the
// index, and are not shown. A frame that would reach the index first moves it on by another update.
// Once OpenDML, an update writes the current RIFF's "ix00" past such a reserve (the RIFF's and its
// "movi" list's sizes then cover it), then the header in one write from its start through the "dmlh"
// count: the stream length, the "must use index" flag, the super index with its entry count and every
// entry, and "dmlh". A process killed between two writes finds the index, the stream length and "dmlh"
// from one update. Within one write the system copies page by page, and a kill that lands inside that
// copy (a few microseconds an update) can leave a header longer than a page with its first pages from
// the new update and the rest from the one before; a header within one page (a super index of at most
// 223 entries) never tears. With the default 4096 entries the header is about 64 KiB. The
// move at the turn is made safe the same way: the copies, the first RIFF's indexes and an AVI 1.0 "idx1"
// over the copies are written and referred to before the frames they replace are overwritten, and the
// header's first page comes last. A RIFF is closed by writing its final "ix00" where no index in use lies and switching
// the header to it. Finish writes the final index right after the last frame, the final header (as
// written by a recording never updated) and cuts the reserve off, so a finished file is the same whether
// or not it was updated.
//
// Not thread-safe: one recording thread owns the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace orvane::output {

class AviWriter {
 public:
  static constexpr uint64_t kDefaultRiffLimit = uint64_t{1} << 30;
  // Super index capacity: one entry per RIFF, so 4096 RIFFs of 1 GiB.
  static constexpr uint32_t kDefaultSuperIndexEntries = 4096;
  // Nominal frame rate written at creation, frames per second.
  static constexpr uint32_t kNominalRate = 30;

  // Bytes of frames the writer lets the system hold in its cache before it waits for the disk (Linux).
  static constexpr uint64_t kDefaultWriteBehindBytes = uint64_t{256} << 20;

  // `riffLimit` bounds the size of each RIFF (the whole file while it is plain AVI 1.0); it is raised to
  // what the header growth and a few frames need, and capped at 2 GiB. Tests inject a small one, and a
  // small write-behind window.
  explicit AviWriter(uint64_t riffLimit = kDefaultRiffLimit, uint32_t superIndexEntries = kDefaultSuperIndexEntries,
                     uint64_t writeBehindBytes = kDefaultWriteBehindBytes);
  ~AviWriter();  // closes an unfinished file as it is (in its last provisional state)
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
  // Brings the header and a provisional index up to date with every frame added so far (see above).
  // Cheap when nothing was added since the last update. False for a closed writer or a failed write.
  [[nodiscard]] bool Update();
  // Writes the index, patches sizes, frame counts and the measured rate (frames per second × 100; 0 keeps
  // the nominal rate), cuts off what lies past the index and closes the file. False when any write of the
  // recording failed.
  [[nodiscard]] bool Finish(uint32_t measuredRateTimes100);
  // Closes without finishing: the file stays in its last provisional state.
  void Close();

  bool IsOpen() const { return file_ != nullptr; }
  bool IsOpenDml() const { return openDml_; }
  uint32_t FrameCount() const { return frameCount_; }
  // Frames the file counts should the process end now.
  uint32_t CountedFrames() const { return countedFrames_; }
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
  void WriteBehind(uint64_t at, uint64_t bytes);
  bool TryWriteAt(uint64_t at, const void* data, size_t bytes);
  bool WritePlainHeader(uint64_t moviEnd, uint64_t riffEnd, uint32_t frames, bool provisional, uint32_t rate100);
  uint64_t ReserveBytes() const;
  bool PlaceProvisionalIndex(uint64_t minimumGap);
  bool SeekTo(uint64_t at);
  bool WriteStandardIndex(const std::vector<uint64_t>& chunks);
  bool WriteIdx1(const std::vector<uint64_t>& chunks, uint64_t moviFourcc);
  uint32_t HeaderGrowth() const;
  size_t FramesToMove() const;
  bool StartOpenDml();
  bool MoveFirstFrames(size_t count);
  bool WriteFirstRiffPadding(uint32_t moviSize);
  bool WriteOpenDmlHeader(bool whole, uint32_t rate100);
  bool PlaceProvisionalStdIndex(uint64_t minimumGap);
  bool PatchRiffSizes(uint64_t riffEnd);
  bool BeginExtendedRiff();
  bool CloseExtendedRiff(bool switchHeader);

  const uint64_t requestedLimit_;
  const uint32_t superIndexCapacity_;
  const uint64_t writeBehindBytes_;
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
  // The first RIFF once the file is OpenDML: its frames and its final size.
  uint32_t firstRiffFrames_ = 0;
  uint32_t firstRiffSize_ = 0;
  uint64_t riffPos_ = 0;        // "RIFF" of the current extended RIFF
  uint64_t moviFourccPos_ = 0;  // "movi" of the current extended RIFF
  std::vector<SuperIndexEntry> superIndex_;  // the final "ix00" of every closed RIFF
  // The provisional state the header refers to: below the limit its "idx1" (position 0: none yet), once
  // OpenDML the current RIFF's "ix00" (position 0: none, the super index ends with the closed RIFFs).
  uint64_t indexPos_ = 0;
  uint64_t indexBytes_ = 0;
  uint32_t indexFrames_ = 0;     // frames the current RIFF's provisional "ix00" lists
  uint32_t countedFrames_ = 0;
  // Frames (position, bytes) still to be waited for and dropped from the cache, and their bytes (Linux).
  std::deque<std::pair<uint64_t, uint64_t>> behind_;
  uint64_t behindBytes_ = 0;
};

}  // namespace orvane::output
