#include "output/avi_writer.h"

#if defined(__linux__)
#include <fcntl.h>
#include <stdio.h>
#endif

#include <algorithm>
#include <cstring>

#include "output/avi_frame.h"
#include "platform/large_file.h"

namespace orvane::output {

namespace {

// Layout of the AVI 1.0 header (file offsets).
constexpr uint32_t kHeaderBytes = 232;  // up to and including the "movi" identifier
constexpr uint32_t kHdrlListSize = 200;
constexpr uint32_t kStrlListSize = 124;
constexpr uint64_t kRiffSizePos = 4;
constexpr uint64_t kMicroSecPerFramePos = 32;
constexpr uint64_t kFlagsPos = 44;
constexpr uint64_t kTotalFramesPos = 48;
constexpr uint64_t kScalePos = 128;
constexpr uint64_t kLengthPos = 140;
constexpr uint64_t kMoviFourccPos = 228;
constexpr uint64_t kStrlEnd = 220;  // end of "strf": where the OpenDML header adds "indx" and "odml"

constexpr uint32_t kAvihFlags = 0x10010;  // has index, was capture file
// Added in the provisional state: readers take the frames from the index only, not from a scan of the
// chunks, so frames written after the last update stay unseen.
constexpr uint32_t kMustUseIndex = 0x20;
// Room left after the frames for the next ones, before the provisional index: twice the frames since the
// last update, at least two, and at most what fits in this many bytes (or two frames).
constexpr uint64_t kMaxReserveBytes = uint64_t{256} << 20;
constexpr uint32_t kStreamRate = 10'000'000;
constexpr uint32_t kIndexKeyFrame = 0x10;
constexpr uint32_t kIdx1EntryBytes = 16;

// OpenDML structures.
constexpr uint32_t kSuperIndexHeader = 24;  // after "indx" and the size
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kStdIndexHeader = 24;  // after "ix00" and the size
constexpr uint32_t kStdIndexEntryBytes = 8;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kOdmlListBytes = 12 + 8 + kDmlhBytes;  // "LIST" size "odml" "dmlh" size data
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr uint64_t kMaxRiffLimit = uint64_t{1} << 31;
// The part of the OpenDML header written last, in one write: within one page, so a process that dies
// leaves it whole or untouched. It holds the counts, the super index's entry count and first entries.
constexpr uint64_t kHeaderPageBytes = 4096;

// Little-endian builder of header bytes.
class Bytes {
 public:
  Bytes& Fourcc(const char* cc) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<uint8_t>(cc[i]));
    return *this;
  }
  Bytes& U16(uint16_t v) {
    for (int i = 0; i < 2; ++i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& Set32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) data_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  Bytes& Zero(size_t n) {
    data_.resize(data_.size() + n, 0);
    return *this;
  }
  const uint8_t* Data() const { return data_.data(); }
  size_t Size() const { return data_.size(); }

 private:
  std::vector<uint8_t> data_;
};

uint32_t SaturatedU32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

// The header up to the end of the stream format ("strf"), with the given list sizes; the AVI 1.0 file
// continues with the "movi" list header, the OpenDML file with "indx" and "odml" first.
Bytes StreamHeaders(int width, int height, uint32_t frameBytes, uint32_t hdrlSize, uint32_t strlSize) {
  const uint32_t suggested = frameBytes + 8;
  Bytes b;
  b.Fourcc("RIFF").U32(0).Fourcc("AVI ");
  b.Fourcc("LIST").U32(hdrlSize).Fourcc("hdrl");
  b.Fourcc("avih").U32(56);
  b.U32(1'000'000 / AviWriter::kNominalRate);
  b.U32(SaturatedU32(uint64_t{suggested} * AviWriter::kNominalRate));
  b.U32(0).U32(kAvihFlags).U32(0).U32(0).U32(1).U32(suggested);
  b.U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height)).Zero(16);
  b.Fourcc("LIST").U32(strlSize).Fourcc("strl");
  b.Fourcc("strh").U32(64).Fourcc("vids").Fourcc("DIB ").U32(0).U16(0).U16(0).U32(0);
  b.U32(kStreamRate / AviWriter::kNominalRate).U32(kStreamRate).U32(0).U32(0).U32(suggested);
  b.U32(0).U32(0).Zero(16);
  b.Fourcc("strf").U32(40);
  b.U32(40).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height)).U16(1).U16(24).Zero(24);
  return b;
}

uint32_t StdIndexBytes(size_t entries) {
  return static_cast<uint32_t>(8 + kStdIndexHeader + kStdIndexEntryBytes * entries);
}

// An "ix00" chunk over the "00db" chunks at `chunks`, in the order given: its entries count from the
// lowest of them, so the order may differ from the file's.
Bytes StandardIndex(const std::vector<uint64_t>& chunks, uint32_t frameBytes) {
  const uint64_t base = *std::min_element(chunks.begin(), chunks.end());
  Bytes ix;
  ix.Fourcc("ix00").U32(StdIndexBytes(chunks.size()) - 8).U16(2).U16(static_cast<uint16_t>(kIndexOfChunks << 8));
  ix.U32(static_cast<uint32_t>(chunks.size())).Fourcc("00db").U64(base).U32(0);
  for (uint64_t at : chunks) ix.U32(static_cast<uint32_t>(at + 8 - base)).U32(frameBytes);
  return ix;
}

}  // namespace

AviWriter::AviWriter(uint64_t riffLimit, uint32_t superIndexEntries, uint64_t writeBehindBytes)
    : requestedLimit_(riffLimit),
      superIndexCapacity_(std::max<uint32_t>(superIndexEntries, 4)),
      writeBehindBytes_(writeBehindBytes) {}

AviWriter::~AviWriter() { Close(); }

void AviWriter::Close() {
  file_.reset();
  behind_.clear();
  behindBytes_ = 0;
  chunks_.clear();
  superIndex_.clear();
  openDml_ = false;
  riffPos_ = 0;
  indexPos_ = 0;
  indexBytes_ = 0;
  indexFrames_ = 0;
  countedFrames_ = 0;
}

// A write that may fail without failing the recording (the caller has another way).
bool AviWriter::TryWriteAt(uint64_t at, const void* data, size_t bytes) {
  const bool ok = platform::FileSeek64(file_.get(), static_cast<int64_t>(at)) &&
                  std::fwrite(data, 1, bytes, file_.get()) == bytes;
  if (!ok) std::clearerr(file_.get());
  return ok;
}

// The AVI 1.0 header (232 bytes up to "movi") in one write: a single write is never seen half done by a
// reader after the process died, so the counts, the sizes and the index they lead to change together.
bool AviWriter::WritePlainHeader(uint64_t moviEnd, uint64_t riffEnd, uint32_t frames, bool provisional,
                                 uint32_t rate100) {
  Bytes h = StreamHeaders(width_, height_, frameBytes_, kHdrlListSize, kStrlListSize);
  h.Fourcc("LIST").U32(static_cast<uint32_t>(moviEnd - kMoviFourccPos)).Fourcc("movi");
  h.Set32(kRiffSizePos, static_cast<uint32_t>(riffEnd - 8));
  h.Set32(kTotalFramesPos, frames).Set32(kLengthPos, frames);
  if (provisional) h.Set32(kFlagsPos, kAvihFlags | kMustUseIndex);
  if (rate100 != 0) {
    h.Set32(kMicroSecPerFramePos, 100'000'000u / rate100).Set32(kScalePos, 1'000'000'000u / rate100);
  }
  const bool ok = TryWriteAt(0, h.Data(), h.Size()) && SeekTo(pos_);
  if (!ok) failed_ = true;
  return ok;
}

// Room left after the frames for the next ones before a provisional index.
uint64_t AviWriter::ReserveBytes() const {
  const uint64_t chunk = uint64_t{frameBytes_} + 8;
  const uint64_t pending = frameCount_ - countedFrames_;
  return chunk * std::clamp<uint64_t>(2 * pending, 2, std::max<uint64_t>(2, kMaxReserveBytes / chunk));
}

// Writes an "idx1" over the frames so far at least `minimumGap` bytes past them (and past the index the
// header refers to now), then the header that refers to it. Where the reserve cannot be written (a full
// disk) the index goes right after the frames: the file stays whole, but the next frame overwrites it.
bool AviWriter::PlaceProvisionalIndex(uint64_t minimumGap) {
  Bytes idx;
  idx.Fourcc("idx1").U32(static_cast<uint32_t>(kIdx1EntryBytes * chunks_.size()));
  for (uint64_t at : chunks_) {
    idx.Fourcc("00db").U32(kIndexKeyFrame).U32(static_cast<uint32_t>(at - kMoviFourccPos)).U32(frameBytes_);
  }
  uint64_t at = pos_ + std::max({ReserveBytes(), uint64_t{idx.Size()}, minimumGap});
  if (indexPos_ != 0) at = std::max(at, indexPos_ + indexBytes_);
  if (at + idx.Size() > UINT32_MAX || !TryWriteAt(at, idx.Data(), idx.Size())) {
    at = pos_;
    if (!TryWriteAt(at, idx.Data(), idx.Size())) {
      failed_ = true;
      return false;
    }
  }
  if (!WritePlainHeader(at, at + idx.Size(), frameCount_, true, 0)) return false;
  indexPos_ = at;
  indexBytes_ = idx.Size();
  countedFrames_ = frameCount_;
  return true;
}

bool AviWriter::Update() {
  if (!file_ || failed_) return false;
  if (openDml_) return countedFrames_ == frameCount_ || PlaceProvisionalStdIndex(0);
  if (indexPos_ != 0 && countedFrames_ == frameCount_) return true;
  return PlaceProvisionalIndex(0);
}

bool AviWriter::Put(const void* data, size_t bytes) {
  if (std::fwrite(data, 1, bytes, file_.get()) != bytes) {
    failed_ = true;
    return false;
  }
  pos_ += bytes;
  return true;
}

bool AviWriter::SeekTo(uint64_t at) {
  if (!platform::FileSeek64(file_.get(), static_cast<int64_t>(at))) {
    failed_ = true;
    return false;
  }
  return true;
}

bool AviWriter::Create(const char* fileName, int width, int height) {
  Close();
  failed_ = false;
  frameCount_ = 0;
  firstRiffFrames_ = 0;
  const size_t frameBytes = AviFrameBytes(width, height);
  if (fileName == nullptr || fileName[0] == '\0' || frameBytes == 0 || frameBytes > UINT32_MAX / 4) return false;
  frameBytes_ = static_cast<uint32_t>(frameBytes);
  width_ = width;
  height_ = height;
  // Room for the headers and a few frames in every RIFF, and in the first one for the frames that make
  // room for the OpenDML header.
  const uint64_t chunk = uint64_t{frameBytes_} + 8;
  const uint64_t minimum =
      kHeaderBytes + (FramesToMove() + 4) * (chunk + kIdx1EntryBytes + kStdIndexEntryBytes) + 4096;
  riffLimit_ = std::min(std::max(requestedLimit_, minimum), std::max(kMaxRiffLimit, minimum));
  if (riffLimit_ > UINT32_MAX) return false;

  file_.reset(std::fopen(fileName, "w+b"));
  if (!file_) return false;
  // Unbuffered: every write reaches the file when it returns, in the order made, and a failed one is
  // known at once (the frames are large writes anyway).
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  Bytes header = StreamHeaders(width, height, frameBytes_, kHdrlListSize, kStrlListSize);
  header.Fourcc("LIST").U32(4).Fourcc("movi");
  pos_ = 0;
  // From the start the file is whole: a provisional state with no frames.
  if (header.Size() != kHeaderBytes || !Put(header.Data(), header.Size()) || !PlaceProvisionalIndex(0)) {
    Close();
    return false;
  }
  return true;
}

bool AviWriter::AddFrame(const uint8_t* frame, size_t bytes) {
  if (!file_ || failed_ || frame == nullptr || bytes != frameBytes_ || frameCount_ == UINT32_MAX) return false;
  const uint64_t chunk = uint64_t{frameBytes_} + 8;
  if (!openDml_) {
    const uint64_t withIndex = pos_ + chunk + 8 + kIdx1EntryBytes * (chunks_.size() + 1);
    if (withIndex > riffLimit_ && (superIndex_.size() + 2 > superIndexCapacity_ || !StartOpenDml())) return false;
  } else {
    const uint64_t riffEnd = pos_ + chunk + StdIndexBytes(chunks_.size() + 1);
    if (riffEnd - riffPos_ > riffLimit_) {
      // Room for this RIFF's entry and the next one's.
      if (superIndex_.size() + 2 > superIndexCapacity_) return false;
      if (!CloseExtendedRiff(true) || !BeginExtendedRiff()) return false;
    }
  }
  // The frame would reach the index the header refers to: move that on first.
  if (indexPos_ != 0 && pos_ + chunk > indexPos_ &&
      !(openDml_ ? PlaceProvisionalStdIndex(chunk) : PlaceProvisionalIndex(chunk))) {
    return false;
  }
  const uint64_t start = pos_;
  const uint8_t head[8] = {'0', '0', 'd', 'b',
                           static_cast<uint8_t>(frameBytes_), static_cast<uint8_t>(frameBytes_ >> 8),
                           static_cast<uint8_t>(frameBytes_ >> 16), static_cast<uint8_t>(frameBytes_ >> 24)};
  if (!Put(head, sizeof(head)) || !Put(frame, bytes)) {
    // The torn chunk is not indexed; the index overwrites it when the file is finished.
    pos_ = start;
    SeekTo(pos_);
    failed_ = true;
    return false;
  }
  chunks_.push_back(start);
  ++frameCount_;
  WriteBehind(start, chunk);
  return true;
}

// Linux keeps written pages in its cache until a threshold of dirty memory, then writes them while the
// writer waits; a recording much smaller than the memory would otherwise reach the disk only at the
// end, after the frames' copies, rather than while they are made. So the disk is asked to start on each
// frame as soon as it is written, and once more than the write-behind window (256 MiB) is pending the oldest frames
// are waited for and dropped from the cache: the recorder writes at the pace of the disk with a bounded
// burst ahead of it (a short recording still catches a burst at the camera's rate), and the frames of a
// long recording do not push everything else out of the cache. The bytes are those written either way;
// elsewhere the system's own write-back stays.
void AviWriter::WriteBehind(uint64_t at, uint64_t bytes) {
#if defined(__linux__)
  const int fd = ::fileno(file_.get());
  if (fd < 0) return;
  ::sync_file_range(fd, static_cast<off64_t>(at), static_cast<off64_t>(bytes), SYNC_FILE_RANGE_WRITE);
  behind_.push_back({at, bytes});
  behindBytes_ += bytes;
  while (behindBytes_ > writeBehindBytes_ && behind_.size() > 1) {
    const auto [oldAt, oldBytes] = behind_.front();
    ::sync_file_range(fd, static_cast<off64_t>(oldAt), static_cast<off64_t>(oldBytes),
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd, static_cast<off_t>(oldAt), static_cast<off_t>(oldBytes), POSIX_FADV_DONTNEED);
    behind_.pop_front();
    behindBytes_ -= oldBytes;
  }
#else
  (void)at;
  (void)bytes;
#endif
}

bool AviWriter::WriteIdx1(const std::vector<uint64_t>& chunks, uint64_t moviFourcc) {
  Bytes idx;
  idx.Fourcc("idx1").U32(static_cast<uint32_t>(kIdx1EntryBytes * chunks.size()));
  for (uint64_t at : chunks) {
    idx.Fourcc("00db").U32(kIndexKeyFrame).U32(static_cast<uint32_t>(at - moviFourcc)).U32(frameBytes_);
  }
  return Put(idx.Data(), idx.Size());
}

// The final "ix00" over `chunks` at the write position, with a super index entry for it.
bool AviWriter::WriteStandardIndex(const std::vector<uint64_t>& chunks) {
  if (chunks.empty()) return true;
  const Bytes ix = StandardIndex(chunks, frameBytes_);
  superIndex_.push_back({pos_, static_cast<uint32_t>(ix.Size()), static_cast<uint32_t>(chunks.size())});
  return Put(ix.Data(), ix.Size());
}

uint32_t AviWriter::HeaderGrowth() const {
  return 8 + kSuperIndexHeader + kSuperIndexEntryBytes * superIndexCapacity_ + kOdmlListBytes;
}

// The first frames whose chunks make room for the header growth and a "JUNK" chunk header.
size_t AviWriter::FramesToMove() const {
  const uint64_t chunk = uint64_t{frameBytes_} + 8;
  return static_cast<size_t>((HeaderGrowth() + 8 + chunk - 1) / chunk);
}

// Turns the file OpenDML (see the header comment): the first frames are copied behind the last one, the
// first RIFF's "ix00" and "idx1" follow, and the grown header takes the place of the first frames.
bool AviWriter::StartOpenDml() {
  const size_t moved = FramesToMove();
  const size_t frames = chunks_.size();
  if (frames < moved) return false;  // the limit is raised in Create so that this does not happen
  const uint64_t chunk = uint64_t{frameBytes_} + 8;
  const uint64_t dataEnd = pos_;
  const uint64_t firstMovi = kMoviFourccPos + moved * chunk;
  const uint64_t end = dataEnd + moved * chunk + StdIndexBytes(frames) + 8 + kIdx1EntryBytes * frames;
  // The index the header refers to stays clear of what is written up to `end` until the header moves on.
  if (indexPos_ < end && !PlaceProvisionalIndex(end - pos_)) return false;
  if (!MoveFirstFrames(moved)) return false;
  for (size_t i = 0; i < moved; ++i) chunks_[i] = dataEnd + i * chunk;
  if (!WriteStandardIndex(chunks_)) return false;
  const uint32_t moviSize = static_cast<uint32_t>(pos_ - firstMovi);
  if (!WriteIdx1(chunks_, firstMovi)) return false;
  firstRiffSize_ = static_cast<uint32_t>(pos_ - 8);
  firstRiffFrames_ = static_cast<uint32_t>(frames);
  // An AVI 1.0 state that plays the copies, before the frames they replace are overwritten.
  if (!PlaceProvisionalIndex(0) || !WriteFirstRiffPadding(moviSize)) return false;
  openDml_ = true;
  indexPos_ = 0;
  indexBytes_ = 0;
  if (!WriteOpenDmlHeader(true, 0)) return false;
  return BeginExtendedRiff();
}

// Appends copies of the first `count` frame chunks.
bool AviWriter::MoveFirstFrames(size_t count) {
  std::vector<uint8_t> chunk(size_t{frameBytes_} + 8);
  for (size_t i = 0; i < count; ++i) {
    if (!SeekTo(chunks_[i]) || std::fread(chunk.data(), 1, chunk.size(), file_.get()) != chunk.size()) {
      failed_ = true;
      return false;
    }
    if (!SeekTo(pos_) || !Put(chunk.data(), chunk.size())) return false;
  }
  return true;
}

// Between the grown header and the first frame left in place: a "JUNK" chunk of zeros and the "movi"
// list's header.
bool AviWriter::WriteFirstRiffPadding(uint32_t moviSize) {
  const uint64_t junkPos = kStrlEnd + HeaderGrowth();
  const uint64_t moviListPos = kMoviFourccPos - 8 + FramesToMove() * (uint64_t{frameBytes_} + 8);
  Bytes junk;
  junk.Fourcc("JUNK").U32(static_cast<uint32_t>(moviListPos - junkPos - 8));
  bool ok = TryWriteAt(junkPos, junk.Data(), junk.Size());
  const std::vector<uint8_t> zeros(std::min<uint64_t>(moviListPos - junkPos, uint64_t{1} << 20), 0);
  for (uint64_t at = junkPos + 8; ok && at < moviListPos; at += zeros.size()) {
    ok = TryWriteAt(at, zeros.data(), static_cast<size_t>(std::min<uint64_t>(zeros.size(), moviListPos - at)));
  }
  Bytes list;
  list.Fourcc("LIST").U32(moviSize).Fourcc("movi");
  ok = ok && TryWriteAt(moviListPos, list.Data(), list.Size()) && SeekTo(pos_);
  if (!ok) failed_ = true;
  return ok;
}

// The OpenDML header up to the "JUNK" chunk after it: the super index lists the closed RIFFs' final
// "ix00" chunks and the current RIFF's provisional one; the main header counts the first RIFF's frames,
// the stream header and "dmlh" every frame the index lists. The "must use index" flag stays set in the
// finished file too: the first frames lie behind the others.
bool AviWriter::WriteOpenDmlHeader(bool whole, uint32_t rate100) {
  std::vector<SuperIndexEntry> entries(superIndex_);
  if (indexPos_ != 0) entries.push_back({indexPos_, static_cast<uint32_t>(indexBytes_), indexFrames_});
  uint32_t frames = 0;
  for (const SuperIndexEntry& e : entries) frames += e.duration;
  const uint32_t growth = HeaderGrowth();
  const uint32_t indxBytes = 8 + kSuperIndexHeader + kSuperIndexEntryBytes * superIndexCapacity_;
  Bytes h = StreamHeaders(width_, height_, frameBytes_, kHdrlListSize + growth, kStrlListSize + indxBytes);
  h.Fourcc("indx").U32(indxBytes - 8).U16(4).U16(kIndexOfIndexes << 8);
  h.U32(static_cast<uint32_t>(entries.size())).Fourcc("00db").Zero(12);
  for (const SuperIndexEntry& e : entries) h.U64(e.offset).U32(e.size).U32(e.duration);
  h.Zero(size_t{kSuperIndexEntryBytes} * (superIndexCapacity_ - entries.size()));
  h.Fourcc("LIST").U32(kOdmlListBytes - 8).Fourcc("odml").Fourcc("dmlh").U32(kDmlhBytes);
  const size_t dmlhCountPos = h.Size();
  h.U32(frames).Zero(kDmlhBytes - 4);
  h.Set32(kRiffSizePos, firstRiffSize_).Set32(kTotalFramesPos, firstRiffFrames_).Set32(kLengthPos, frames);
  h.Set32(kFlagsPos, kAvihFlags | kMustUseIndex);
  if (rate100 != 0) {
    h.Set32(kMicroSecPerFramePos, 100'000'000u / rate100).Set32(kScalePos, 1'000'000'000u / rate100);
  }
  // Every count and index entry, from the main header to "dmlh" (the super index in between), goes out
  // in one write, the last: a process killed at any moment leaves them all from one update. (Written as
  // two, a kill between them left "dmlh" counting frames the stream header and index did not.) Only the
  // rest of "dmlh", unchanged by updates, is written before, once, when the header is written whole.
  const size_t counts = std::max(static_cast<size_t>(std::min<uint64_t>(kHeaderPageBytes, h.Size())),
                                 dmlhCountPos + 4);
  bool ok = !whole || counts >= h.Size() || TryWriteAt(counts, h.Data() + counts, h.Size() - counts);
  ok = ok && TryWriteAt(0, h.Data(), counts) && SeekTo(pos_);
  if (!ok) {
    failed_ = true;
    return false;
  }
  countedFrames_ = frames;
  return true;
}

// The current RIFF's provisional "ix00" past a reserve (and past the one the header refers to now), the
// RIFF's sizes over it, then the header that refers to it.
bool AviWriter::PlaceProvisionalStdIndex(uint64_t minimumGap) {
  if (chunks_.empty()) return WriteOpenDmlHeader(false, 0);
  const Bytes ix = StandardIndex(chunks_, frameBytes_);
  uint64_t at = pos_ + std::max({ReserveBytes(), uint64_t{ix.Size()}, minimumGap});
  if (indexPos_ != 0) at = std::max(at, indexPos_ + indexBytes_);
  if (at + ix.Size() - riffPos_ > UINT32_MAX || !TryWriteAt(at, ix.Data(), ix.Size())) {
    at = pos_;
    if (!TryWriteAt(at, ix.Data(), ix.Size())) {
      failed_ = true;
      return false;
    }
  }
  if (!PatchRiffSizes(at + ix.Size())) return false;
  indexPos_ = at;
  indexBytes_ = ix.Size();
  indexFrames_ = static_cast<uint32_t>(chunks_.size());
  return WriteOpenDmlHeader(false, 0);
}

// The current extended RIFF's size and its "movi" list's, in one write (none begun: nothing to do).
bool AviWriter::PatchRiffSizes(uint64_t riffEnd) {
  if (riffPos_ == 0) return true;
  Bytes b;
  b.U32(static_cast<uint32_t>(riffEnd - riffPos_ - 8)).Fourcc("AVIX").Fourcc("LIST");
  b.U32(static_cast<uint32_t>(riffEnd - moviFourccPos_));
  const bool ok = TryWriteAt(riffPos_ + 4, b.Data(), b.Size()) && SeekTo(pos_);
  if (!ok) failed_ = true;
  return ok;
}

bool AviWriter::BeginExtendedRiff() {
  riffPos_ = pos_;
  moviFourccPos_ = pos_ + 20;
  chunks_.clear();
  Bytes head;  // an empty RIFF until its frames are counted
  head.Fourcc("RIFF").U32(16).Fourcc("AVIX").Fourcc("LIST").U32(4).Fourcc("movi");
  return Put(head.Data(), head.Size());
}

// Writes the RIFF's final "ix00" right after its frames, switches the header to it where the header
// referred to the provisional one (`switchHeader`; Finish writes the final header itself) and sets the
// RIFF's sizes.
bool AviWriter::CloseExtendedRiff(bool switchHeader) {
  bool ok = true;
  const uint64_t bytes = chunks_.empty() ? 0 : StdIndexBytes(chunks_.size());
  // The final index must not overwrite the provisional one while the header refers to it.
  if (indexPos_ != 0 && !failed_ && pos_ + bytes > indexPos_) ok = PlaceProvisionalStdIndex(bytes);
  ok = SeekTo(pos_) && WriteStandardIndex(chunks_) && ok;
  chunks_.clear();
  const bool referred = indexPos_ != 0;
  indexPos_ = 0;
  indexBytes_ = 0;
  indexFrames_ = 0;
  if (switchHeader && referred) ok = ok && WriteOpenDmlHeader(false, 0);
  return PatchRiffSizes(pos_) && ok;
}

bool AviWriter::Finish(uint32_t measuredRateTimes100) {
  if (!file_) return false;
  // Every step is tried even after a failed one: on a full disk the header patches still land.
  bool ok = SeekTo(pos_);
  if (!openDml_) {
    // The final index goes where the newest frames are not yet counted or the provisional index lies:
    // an update first keeps what the header refers to whole until the final header replaces it.
    const uint64_t idx1Bytes = 8 + kIdx1EntryBytes * chunks_.size();
    if (indexPos_ != 0 && !failed_ && (countedFrames_ != frameCount_ || pos_ + idx1Bytes > indexPos_)) {
      ok = PlaceProvisionalIndex(idx1Bytes) && ok;
    }
    const uint64_t idx1Pos = pos_;
    ok = SeekTo(pos_) && WriteIdx1(chunks_, kMoviFourccPos) && ok;
    ok = WritePlainHeader(idx1Pos, pos_, frameCount_, false, measuredRateTimes100) && ok;
  } else {
    ok = CloseExtendedRiff(false) && ok;
    ok = WriteOpenDmlHeader(true, measuredRateTimes100) && ok;
  }
  // Past the index: the reserve of the last provisional state.
  ok = platform::FileTruncate64(file_.get(), static_cast<int64_t>(pos_)) && ok;
  std::FILE* f = file_.release();
  const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
  const bool closed = std::fclose(f) == 0;
  Close();
  return ok && flushed && closed && !failed_;
}

}  // namespace orvane::output
