// Reading the AVI files of the output tests: frames that tell their number, the chunk tree, and the
// frames a reader plays through the OpenDML index.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "output_test_util.h"

namespace orvane::output::test {

// A frame whose every byte tells its frame number and position, so an index entry that points at the
// wrong frame cannot pass.
inline std::vector<uint8_t> NumberedFrame(size_t bytes, uint32_t number) {
  std::vector<uint8_t> frame(bytes);
  for (size_t i = 0; i < bytes; ++i) frame[i] = static_cast<uint8_t>(number * 31 + i * 7);
  std::memcpy(frame.data(), &number, sizeof(number));
  return frame;
}

inline uint32_t FrameNumber(const uint8_t* data) {
  uint32_t n;
  std::memcpy(&n, data, sizeof(n));
  return n;
}

struct Chunk {
  std::string id;
  uint64_t pos;  // of the chunk header
  uint32_t size;
};

// The chunks directly inside [begin, end), following sizes (padded to even); none past the file.
inline std::vector<Chunk> Children(const std::vector<uint8_t>& f, uint64_t begin, uint64_t end) {
  std::vector<Chunk> out;
  for (uint64_t at = begin; at + 8 <= end && at + 8 <= f.size();) {
    const uint32_t size = Le32(&f[at + 4]);
    out.push_back({Fourcc(&f[at]), at, size});
    at += 8 + uint64_t{size} + (size & 1);
  }
  return out;
}

inline const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& id, const std::vector<uint8_t>& f,
                         const char* listType = nullptr) {
  for (const Chunk& c : chunks) {
    if (c.id == id && (listType == nullptr || (c.pos + 12 <= f.size() && Fourcc(&f[c.pos + 8]) == listType))) {
      return &c;
    }
  }
  return nullptr;
}

// Where the OpenDML header's parts lie in a file (0: missing).
struct OpenDmlHeader {
  uint64_t strh = 0, indx = 0, dmlh = 0;  // chunk headers
};

inline OpenDmlHeader FindOpenDmlHeader(const std::vector<uint8_t>& f) {
  OpenDmlHeader h;
  if (f.size() < 12) return h;
  const std::vector<Chunk> top = Children(f, 12, uint64_t{Le32(&f[4])} + 8);
  const Chunk* hdrl = Find(top, "LIST", f, "hdrl");
  if (hdrl == nullptr) return h;
  const std::vector<Chunk> hdrlKids = Children(f, hdrl->pos + 12, hdrl->pos + 8 + hdrl->size);
  const Chunk* strl = Find(hdrlKids, "LIST", f, "strl");
  const Chunk* odml = Find(hdrlKids, "LIST", f, "odml");
  if (strl == nullptr || odml == nullptr) return h;
  const std::vector<Chunk> strlKids = Children(f, strl->pos + 12, strl->pos + 8 + strl->size);
  const Chunk* strh = Find(strlKids, "strh", f);
  const Chunk* indx = Find(strlKids, "indx", f);
  const std::vector<Chunk> odmlKids = Children(f, odml->pos + 12, odml->pos + 8 + odml->size);
  const Chunk* dmlh = Find(odmlKids, "dmlh", f);
  if (strh != nullptr && indx != nullptr && dmlh != nullptr) h = {strh->pos, indx->pos, dmlh->pos};
  return h;
}

// The frames a reader plays through the super index of this file (as it is on disk, as a killed
// process leaves it): every standard index it lists, every entry of those pointing at a whole "00db"
// chunk holding the frame of the next number (0, 1, 2, ...). Fails the test where any of this is broken
// and where the stream length or the "dmlh" count differ from the index.
inline uint32_t OpenDmlFrames(const std::vector<uint8_t>& f, size_t frameBytes) {
  const OpenDmlHeader h = FindOpenDmlHeader(f);
  if (h.indx == 0) {
    ADD_FAILURE() << "no OpenDML header";
    return 0;
  }
  const uint8_t* si = &f[h.indx + 8];
  EXPECT_EQ(Le16(si), 4);
  EXPECT_EQ(si[3], 0);  // index of indexes
  EXPECT_EQ(Fourcc(si + 8), "00db");
  const uint32_t entries = Le32(si + 4);
  EXPECT_LE(24 + 16 * uint64_t{entries}, Le32(&f[h.indx + 4])) << "entries in use within the super index";
  uint32_t next = 0;
  for (uint32_t e = 0; e < entries; ++e) {
    const uint64_t ixPos = Le64(si + 24 + 16 * e);
    const uint32_t ixSize = Le32(si + 24 + 16 * e + 8);
    const uint32_t duration = Le32(si + 24 + 16 * e + 12);
    if (ixPos + ixSize > f.size() || ixSize < 32 + 8 * uint64_t{duration}) {
      ADD_FAILURE() << "standard index " << e << " lies past the file";
      return next;
    }
    const uint8_t* ix = &f[ixPos];
    EXPECT_EQ(Fourcc(ix), "ix00") << e;
    EXPECT_EQ(Le32(ix + 4) + 8, ixSize) << e;
    EXPECT_EQ(Le16(ix + 8), 2) << e;
    EXPECT_EQ(ix[11], 1) << e;  // index of chunks
    EXPECT_EQ(Le32(ix + 12), duration) << e;
    EXPECT_EQ(Fourcc(ix + 16), "00db") << e;
    const uint64_t base = Le64(ix + 20);
    for (uint32_t k = 0; k < duration; ++k, ++next) {
      const uint64_t data = base + Le32(ix + 32 + 8 * k);
      EXPECT_EQ(Le32(ix + 32 + 8 * k + 4), frameBytes);  // key frame: top bit clear
      if (data < 8 || data + frameBytes > f.size()) {
        ADD_FAILURE() << "frame " << next << " lies past the file";
        return next;
      }
      EXPECT_EQ(Fourcc(&f[data - 8]), "00db") << next;
      EXPECT_EQ(Le32(&f[data - 4]), frameBytes) << next;
      if (std::memcmp(&f[data], NumberedFrame(frameBytes, next).data(), frameBytes) != 0) {
        ADD_FAILURE() << "super index entry " << e << " holds frame " << FrameNumber(&f[data]) << " as " << next;
        return next;
      }
    }
  }
  EXPECT_EQ(Le32(&f[h.strh + 8 + 32]), next) << "stream length";
  EXPECT_EQ(Le32(&f[h.dmlh + 8]), next) << "extended header's total frames";
  return next;
}

}  // namespace orvane::output::test
