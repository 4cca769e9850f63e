#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb/device_table.h"
#include "usb/transfer_record.h"

namespace orvane::usb {
namespace {

TEST(TransferRecord, ControlRecordCarriesWholeRequestLengthAndFixedEnvelope) {
  uint8_t rec[kControlRequestSize];
  std::memset(rec, 0xEE, sizeof(rec));
  BuildControlRecord(rec, 0xC0, 0xD1, 0x1234, 0xBEEF);
  const std::vector<uint8_t> expected = {
      0xC0, 0xD1, 0x34, 0x12, 0xEF, 0xBE, 102, 0,  // type, request, wValue, wIndex, wLength
      3,    0,    0,    0,                         // timeout: 3 s
      0,    0,                                     // reserved, endpoint
      0,    0,    0,    0,    0, 0, 0, 0,          // driver and USB status
      0,    0,    0,    0,    0, 0, 0, 0,          // isochronous offset and length
      38,   0,    0,    0,    64, 0, 0, 0,         // buffer offset and length
  };
  EXPECT_EQ(std::vector<uint8_t>(rec, rec + kTransferRecordSize), expected);
  for (size_t i = kTransferRecordSize; i < kControlRequestSize; ++i) EXPECT_EQ(rec[i], 0) << i;
}

TEST(TransferRecord, MemoryHeaderIsMagicVersionAddressAndLength) {
  uint8_t h[kMemoryHeaderSize];
  BuildMemoryHeader(h, false, 0x0000000123456789ull, 0x1000000);
  const std::vector<uint8_t> expected = {'K', 'U', '3', 'R', 2, 0, 0, 0, 0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0,
                                         0,   0,   0,   1,   0, 0, 0, 0, 0,    0,    0,    0,    0,    0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(h, h + kMemoryHeaderSize), expected);
  BuildMemoryHeader(h, true, 0, 4096);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 4), "KU3W");
}

struct PathCase {
  std::string path;
  uint16_t vendor;
  uint16_t product;
};

TEST(DevicePath, VendorAtCharacter12AndProductAtCharacter21) {
  const std::vector<PathCase> cases = {
      {R"(\\?\usb#vid_04b4&pid_31f0#sim00001#{328184c5-93e6-49b7-94b8-2ada13aabb39})", 0x04B4, 0x31F0},
      {R"(\\?\USB#VID_ABCD&PID_00FF#5&1a2b3c#{328184c5-93e6-49b7-94b8-2ada13aabb39})", 0xABCD, 0x00FF},
      {R"(\\?\usb#vid_12xx&pid_3456)", 0x0012, 0x3456},  // fewer digits: as many as there are
      {R"(\\?\usb#vid_12&pid_3)", 0x0012, 0},          // positions are fixed, not searched
      {R"(\\?\usb#vid_zzzz&pid_31f0#x)", 0, 0x31F0},  // not hexadecimal
      {R"(\\?\usb#vid_04b4)", 0x04B4, 0},             // too short for the product
      {"", 0, 0},
      {R"(short)", 0, 0},
  };
  for (const PathCase& c : cases) {
    const PathIds ids = ParseDevicePath(c.path);
    EXPECT_EQ(ids.vendorId, c.vendor) << c.path;
    EXPECT_EQ(ids.productId, c.product) << c.path;
  }
}

}  // namespace
}  // namespace orvane::usb
