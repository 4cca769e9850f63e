#include "output/avi_writer.h"

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
constexpr uint64_t kTotalFramesPos = 48;
constexpr uint64_t kScalePos = 128;
constexpr uint64_t kLengthPos = 140;
constexpr uint64_t kMoviSizePos = 224;
constexpr uint64_t kMoviFourccPos = 228;
constexpr uint64_t kStrlEnd = 220;  // end of "strf": where the OpenDML header adds "indx" and "odml"

constexpr uint32_t kAvihFlags = 0x10010;  // has index, was capture file
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

}  // namespace

AviWriter::AviWriter(uint64_t riffLimit, uint32_t superIndexEntries)
    : requestedLimit_(riffLimit), superIndexCapacity_(std::max<uint32_t>(superIndexEntries, 4)) {}

AviWriter::~AviWriter() { Close(); }

void AviWriter::Close() {
  file_.reset();
  chunks_.clear();
  superIndex_.clear();
  openDml_ = false;
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

bool AviWriter::PatchU32(uint64_t at, uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  if (!SeekTo(at)) return false;
  const bool ok = std::fwrite(b, 1, 4, file_.get()) == 4;
  if (!ok) failed_ = true;
  return SeekTo(pos_) && ok;
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
  // Room for the OpenDML header growth, the frames it displaces and a few more in the first RIFF.
  const uint64_t growth = 8 + kSuperIndexHeader + uint64_t{kSuperIndexEntryBytes} * superIndexCapacity_ +
                          kOdmlListBytes + 8 + 12;
  const uint64_t chunk = uint64_t{frameBytes_} + 8;
  const uint64_t minimum = 2 * (kHeaderBytes + growth) + 4 * (chunk + kIdx1EntryBytes + kStdIndexEntryBytes) + 4096;
  riffLimit_ = std::min(std::max(requestedLimit_, minimum), std::max(kMaxRiffLimit, minimum));
  if (riffLimit_ > UINT32_MAX) return false;

  file_.reset(std::fopen(fileName, "w+b"));
  if (!file_) return false;
  Bytes header = StreamHeaders(width, height, frameBytes_, kHdrlListSize, kStrlListSize);
  header.Fourcc("LIST").U32(4).Fourcc("movi");
  pos_ = 0;
  if (header.Size() != kHeaderBytes || !Put(header.Data(), header.Size())) {
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
    if (withIndex > riffLimit_ && !StartOpenDml()) return false;
  } else {
    const uint64_t riffEnd = pos_ + chunk + StdIndexBytes(chunks_.size() + 1);
    if (riffEnd - riffPos_ > riffLimit_) {
      // Room for this RIFF's entry and the next one's.
      if (superIndex_.size() + 2 > superIndexCapacity_) return false;
      if (!CloseExtendedRiff() || !BeginExtendedRiff()) return false;
    }
  }
  const uint64_t start = pos_;
  Bytes head;
  head.Fourcc("00db").U32(frameBytes_);
  if (!Put(head.Data(), head.Size()) || !Put(frame, bytes)) {
    // The torn chunk is not indexed; the index overwrites it when the file is finished.
    pos_ = start;
    SeekTo(pos_);
    failed_ = true;
    return false;
  }
  chunks_.push_back(start);
  ++frameCount_;
  return true;
}

bool AviWriter::WriteIdx1(const std::vector<uint64_t>& chunks, uint64_t moviFourcc) {
  Bytes idx;
  idx.Fourcc("idx1").U32(static_cast<uint32_t>(kIdx1EntryBytes * chunks.size()));
  for (uint64_t at : chunks) {
    idx.Fourcc("00db").U32(kIndexKeyFrame).U32(static_cast<uint32_t>(at - moviFourcc)).U32(frameBytes_);
  }
  return Put(idx.Data(), idx.Size());
}

// An "ix00" chunk over `chunks` (ascending), with a super index entry for it.
bool AviWriter::WriteStandardIndex(const std::vector<uint64_t>& chunks) {
  if (chunks.empty()) return true;
  const uint64_t base = chunks.front();
  const uint32_t size = StdIndexBytes(chunks.size());
  Bytes ix;
  ix.Fourcc("ix00").U32(size - 8).U16(2).U16(static_cast<uint16_t>(kIndexOfChunks << 8));
  ix.U32(static_cast<uint32_t>(chunks.size())).Fourcc("00db").U64(base).U32(0);
  for (uint64_t at : chunks) ix.U32(static_cast<uint32_t>(at + 8 - base)).U32(frameBytes_);
  superIndex_.push_back({pos_, size, static_cast<uint32_t>(chunks.size())});
  return Put(ix.Data(), ix.Size());
}

bool AviWriter::StartOpenDml() {
  if (superIndex_.size() + 3 > superIndexCapacity_) return false;
  const uint32_t indxBytes = 8 + kSuperIndexHeader + kSuperIndexEntryBytes * superIndexCapacity_;
  const uint64_t headerEnd = kStrlEnd + indxBytes + kOdmlListBytes;
  // The first frame that stays: its "movi" list header (12 bytes) must start at the header's end or leave
  // room for a "JUNK" chunk header in between.
  size_t keep = 1;
  while (keep < chunks_.size()) {
    const uint64_t listStart = chunks_[keep] - 12;
    if (listStart == headerEnd || listStart >= headerEnd + 8) break;
    ++keep;
  }
  if (keep >= chunks_.size()) return false;

  std::vector<uint8_t> moved(static_cast<size_t>(frameBytes_) * keep);
  for (size_t i = 0; i < keep; ++i) {
    if (!SeekTo(chunks_[i] + 8) ||
        std::fread(moved.data() + i * frameBytes_, 1, frameBytes_, file_.get()) != frameBytes_) {
      failed_ = true;
      return false;
    }
  }

  const uint32_t strlSize = kStrlListSize + indxBytes;
  const uint32_t hdrlSize = kHdrlListSize + indxBytes + kOdmlListBytes;
  Bytes header = StreamHeaders(width_, height_, frameBytes_, hdrlSize, strlSize);
  indxPos_ = header.Size();
  header.Fourcc("indx").U32(indxBytes - 8).U16(4).U16(kIndexOfIndexes << 8).U32(0).Fourcc("00db").Zero(12);
  header.Zero(size_t{kSuperIndexEntryBytes} * superIndexCapacity_);
  header.Fourcc("LIST").U32(kOdmlListBytes - 8).Fourcc("odml").Fourcc("dmlh").U32(kDmlhBytes);
  dmlhFramesPos_ = header.Size();
  header.Zero(kDmlhBytes);
  const uint64_t listStart = chunks_[keep] - 12;
  if (listStart != headerEnd) header.Fourcc("JUNK").U32(static_cast<uint32_t>(listStart - headerEnd - 8));
  const uint64_t end = pos_;
  pos_ = 0;
  if (!SeekTo(0) || !Put(header.Data(), header.Size())) return false;
  Bytes movi;
  movi.Fourcc("LIST").U32(0).Fourcc("movi");
  pos_ = listStart;
  if (!SeekTo(pos_) || !Put(movi.Data(), movi.Size())) return false;
  pos_ = end;
  if (!SeekTo(pos_)) return false;

  // Close the first RIFF over the frames it keeps: "ix00" inside "movi", then "idx1".
  const std::vector<uint64_t> kept(chunks_.begin() + static_cast<ptrdiff_t>(keep), chunks_.end());
  const uint64_t moviFourcc = listStart + 8;
  if (!WriteStandardIndex(kept)) return false;
  if (!PatchU32(listStart + 4, static_cast<uint32_t>(pos_ - moviFourcc))) return false;
  if (!WriteIdx1(kept, moviFourcc)) return false;
  if (!PatchU32(kRiffSizePos, static_cast<uint32_t>(pos_ - 8))) return false;
  firstRiffFrames_ = static_cast<uint32_t>(kept.size());
  openDml_ = true;

  // The moved frames open the next RIFF, indexed ahead of the first RIFF's frames.
  if (!BeginExtendedRiff()) return false;
  chunks_.clear();
  Bytes head;
  head.Fourcc("00db").U32(frameBytes_);
  for (size_t i = 0; i < keep; ++i) {
    chunks_.push_back(pos_);
    if (!Put(head.Data(), head.Size()) || !Put(moved.data() + i * frameBytes_, frameBytes_)) return false;
  }
  if (!WriteStandardIndex(chunks_)) return false;
  std::rotate(superIndex_.begin(), superIndex_.end() - 1, superIndex_.end());
  chunks_.clear();
  return true;
}

bool AviWriter::BeginExtendedRiff() {
  riffPos_ = pos_;
  moviFourccPos_ = pos_ + 20;
  chunks_.clear();
  Bytes head;
  head.Fourcc("RIFF").U32(0).Fourcc("AVIX").Fourcc("LIST").U32(0).Fourcc("movi");
  return Put(head.Data(), head.Size());
}

bool AviWriter::CloseExtendedRiff() {
  const bool indexed = WriteStandardIndex(chunks_);
  chunks_.clear();
  const bool moviPatched = PatchU32(moviFourccPos_ - 4, static_cast<uint32_t>(pos_ - moviFourccPos_));
  const bool riffPatched = PatchU32(riffPos_ + 4, static_cast<uint32_t>(pos_ - riffPos_ - 8));
  return indexed && moviPatched && riffPatched;
}

bool AviWriter::PatchRates(uint32_t measuredRateTimes100) {
  if (measuredRateTimes100 == 0) return true;
  return PatchU32(kMicroSecPerFramePos, 100'000'000u / measuredRateTimes100) &&
         PatchU32(kScalePos, 1'000'000'000u / measuredRateTimes100);
}

bool AviWriter::Finish(uint32_t measuredRateTimes100) {
  if (!file_) return false;
  // Every step is tried even after a failed one: on a full disk the header patches still land.
  bool ok = SeekTo(pos_);
  if (!openDml_) {
    const uint64_t idx1Pos = pos_;
    ok = WriteIdx1(chunks_, kMoviFourccPos) && ok;
    ok = PatchU32(kRiffSizePos, static_cast<uint32_t>(pos_ - 8)) && ok;
    ok = PatchU32(kMoviSizePos, static_cast<uint32_t>(idx1Pos - kMoviFourccPos)) && ok;
    ok = PatchU32(kTotalFramesPos, frameCount_) && ok;
    ok = PatchU32(kLengthPos, frameCount_) && ok;
  } else {
    ok = CloseExtendedRiff() && ok;
    Bytes entries;
    for (const SuperIndexEntry& e : superIndex_) entries.U64(e.offset).U32(e.size).U32(e.duration);
    ok = PatchU32(indxPos_ + 12, static_cast<uint32_t>(superIndex_.size())) && ok;
    const bool entriesWritten = SeekTo(indxPos_ + 32) &&
                                std::fwrite(entries.Data(), 1, entries.Size(), file_.get()) == entries.Size();
    ok = entriesWritten && SeekTo(pos_) && ok;
    ok = PatchU32(dmlhFramesPos_, frameCount_) && ok;
    // The main header counts the first RIFF's frames; the stream header and "dmlh" the whole recording.
    ok = PatchU32(kTotalFramesPos, firstRiffFrames_) && ok;
    ok = PatchU32(kLengthPos, frameCount_) && ok;
  }
  ok = PatchRates(measuredRateTimes100) && ok;
  std::FILE* f = file_.release();
  const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
  const bool closed = std::fclose(f) == 0;
  Close();
  return ok && flushed && closed && !failed_;
}

}  // namespace orvane::output
