#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "usb_test_support.h"

namespace orvane::usb {
namespace {

using testing::Eventually;
using testing::RecordingDriver;
using testing::ScopedSectionName;

class ControllerBulk : public ::testing::Test {
 protected:
  ControllerBulk() : bus_(1, sim::BusOptions{.pacing = sim::Pacing::kFast}), recorder_(bus_) {
    cam_ = std::make_unique<COrvCy3Cam>(testing::Options(recorder_, section_.name()));
    cam_->EnumerateDevices();
    EXPECT_TRUE(cam_->SelectDevice(0));
    EXPECT_TRUE(cam_->PrepareStreaming());
    recorder_.Clear();
  }
  sim::VirtualCamera& camera() { return bus_.Camera(0); }

  // A transfer request with room for a frame of the camera's current format.
  FrameTransferRequest Request(std::vector<uint8_t>& storage) {
    const auto format = camera().CurrentFormat();
    storage.assign(format.payloadLength + 8192, 0);
    FrameTransferRequest r;
    r.buffer = storage.data();
    r.bufferSize = storage.size();
    r.frameSize = format.payloadLength;
    return r;
  }

  ScopedSectionName section_;
  sim::VirtualBus bus_;
  RecordingDriver recorder_;
  std::unique_ptr<COrvCy3Cam> cam_;
};

TEST_F(ControllerBulk, TimedOutReadReturnsOnlyAfterTheDriverReleasedTheBuffer) {
  auto handle = cam_->OpenDeviceHandle(0, true);
  ASSERT_TRUE(handle);
  std::vector<uint8_t> buffer(64, 0xCD);
  uint32_t count = 12345;
  // Not armed: the FPGA sends nothing, so the read stays pending until aborted.
  EXPECT_FALSE(cam_->DirectBulkTransfer(handle.get(), buffer.data(), 64, kEndpointFrames, &count, 50));
  EXPECT_EQ(cam_->LastDriverError(), kErrorIoPending);
  EXPECT_EQ(camera().PendingBulkRequests(), 0u) << "the request was cancelled before the call returned";
  EXPECT_GE(camera().counters().abortRequests, 1u);
  EXPECT_EQ(camera().counters().requestsCancelled, 1u);
  EXPECT_EQ(count, 12345u);
  const auto aborts = recorder_.Log(IoCode::kAbortPipe);
  ASSERT_FALSE(aborts.empty());
  EXPECT_EQ(aborts[0].in, std::vector<uint8_t>{0x81});
  // Arming now finds no stale request to fill. The bulk record carries only the endpoint.
  recorder_.Clear();
  ASSERT_TRUE(cam_->ArmedBulkRead(handle.get(), buffer.data(), 64, kEndpointFrames, &count));
  EXPECT_EQ(count, 64u);
  EXPECT_EQ(cam_->LastDriverError(), 0u);
  const auto bulk = recorder_.Log(IoCode::kDirectBulkTransfer);
  ASSERT_EQ(bulk.size(), 1u);
  std::vector<uint8_t> expected(kTransferRecordSize, 0);
  expected[record::kEndpoint] = 0x81;
  EXPECT_EQ(bulk[0].in, expected);
  EXPECT_EQ(bulk[0].outLength, 64u);
  EXPECT_TRUE(bulk[0].overlapped);
}

TEST_F(ControllerBulk, RefusalsSendNothing) {
  auto handle = cam_->OpenDeviceHandle(0, true);
  std::vector<uint8_t> buffer(64);
  uint32_t count = 0;
  EXPECT_FALSE(cam_->DirectBulkTransfer(nullptr, buffer.data(), 64, kEndpointFrames, &count, 10));
  EXPECT_FALSE(cam_->DirectBulkTransfer(handle.get(), buffer.data(), kMaxBulkLength + 1, kEndpointFrames, &count, 10));
  EXPECT_FALSE(cam_->DirectBulkTransfer(handle.get(), nullptr, 64, kEndpointFrames, &count, 10));
  EXPECT_FALSE(cam_->BufferedBulkRead(handle.get(), buffer.data(), kMaxBulkLength + 1, kEndpointFrames, &count));
  EXPECT_FALSE(cam_->BufferedBulkRead(nullptr, buffer.data(), 64, kEndpointFrames, &count));
  EXPECT_FALSE(cam_->ReadFrameHeader(nullptr));
  EXPECT_FALSE(cam_->ReadFrameData(nullptr, 100));
  EXPECT_FALSE(cam_->ReadFrameAux(nullptr));
  uint64_t length = 0;
  EXPECT_FALSE(cam_->ReadImage(nullptr, &length, 100));
  EXPECT_FALSE(cam_->ReadMemory(0, nullptr, 4096, 8192));
  // A payload larger than the buffer is refused before reading.
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  ASSERT_TRUE(cam_->ReadFrameHeader(&request));
  request.bufferSize = request.PayloadLength() - 1;
  recorder_.Clear();
  EXPECT_FALSE(cam_->ReadFrameData(&request, 3000));
  // Without the staging buffer (Close frees it) no bulk request is sent.
  ASSERT_TRUE(cam_->Close());
  EXPECT_FALSE(cam_->DirectBulkTransfer(handle.get(), buffer.data(), 64, kEndpointFrames, &count, 10));
  EXPECT_FALSE(cam_->BufferedBulkRead(handle.get(), buffer.data(), 64, kEndpointFrames, &count));
  EXPECT_TRUE(recorder_.Log(IoCode::kDirectBulkTransfer).empty());
  EXPECT_TRUE(recorder_.Log(IoCode::kBufferedBulkTransfer).empty());
}

TEST_F(ControllerBulk, HeaderRetriesWithTheFrameRestartPulseThenGivesUp) {
  camera().FailHeaders(3);
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  ASSERT_TRUE(cam_->ReadFrameHeader(&request));
  const auto counters = camera().counters();
  EXPECT_EQ(counters.armRequests, 4u);
  EXPECT_EQ(counters.frameRestartPulses, 3u);
  EXPECT_EQ(counters.headersSent, 1u);
  // The request sequence: arm, read, then 108 := 1, 108 := 0 after each failure.
  const auto arm = testing::ControlRecord(0x42, 0xC2, 0, 0);
  const auto high = testing::ControlRecord(0x40, 0x30, 3, 0x40, {108, 0, 1});
  const auto low = testing::ControlRecord(0x40, 0x30, 3, 0x40, {108, 0, 0});
  std::vector<std::vector<uint8_t>> expected;
  for (int i = 0; i < 3; ++i) {
    expected.push_back(arm);
    expected.push_back(high);
    expected.push_back(low);
  }
  expected.push_back(arm);
  EXPECT_EQ(recorder_.ControlRecords(), expected);
  EXPECT_EQ(recorder_.Log(IoCode::kDirectBulkTransfer).size(), 4u);
  EXPECT_EQ(request.PayloadLength(), 4000u * 3000u);
  // After 15 failed attempts it gives up, arming a sixteenth time.
  camera().FailHeaders(1000);
  recorder_.Clear();
  EXPECT_FALSE(cam_->ReadFrameHeader(&request));
  EXPECT_EQ(camera().counters().armRequests, 4u + 16u);
  EXPECT_EQ(camera().counters().frameRestartPulses, 3u + 15u);
  EXPECT_EQ(recorder_.Log(IoCode::kDirectBulkTransfer).size(), 15u);
}

TEST_F(ControllerBulk, LateHeadersTimeOutAreAbortedAndTheNextAttemptSucceeds) {
  camera().DelayHeaders(2, sim::kNever);
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  ASSERT_TRUE(cam_->ReadFrameHeader(&request));
  EXPECT_EQ(camera().counters().frameRestartPulses, 2u);
  EXPECT_EQ(camera().counters().requestsCancelled, 2u);
  EXPECT_EQ(camera().PendingBulkRequests(), 0u);
  EXPECT_TRUE(cam_->ReadFrameData(&request, 3000));
}

struct DepthCase {
  uint8_t pixelFormat;
  uint32_t bytesPerPixel;
};

// Frame content over many frames is checked by the device integration tests; here the header words and
// the payload pieces.
TEST_F(ControllerBulk, FullResolutionFrameIn8And16BitsHeaderWordsAndPieces) {
  camera().SetHeaderStatusWords(7, -2, 0x1234);
  for (const DepthCase depth : {DepthCase{1, 1}, DepthCase{2, 2}}) {
    SCOPED_TRACE(depth.bytesPerPixel);
    ASSERT_TRUE(cam_->FpgaWriteByte(0x3C, depth.pixelFormat));
    std::vector<uint8_t> storage;
    FrameTransferRequest request = Request(storage);
    const uint32_t expectedLength = 4000u * 3000u * depth.bytesPerPixel;
    const uint32_t startCounter = camera().FrameCounter();
    recorder_.Clear();
    ASSERT_TRUE(cam_->ReadFrameHeader(&request));
    ASSERT_EQ(request.PayloadLength(), expectedLength);
    EXPECT_EQ(request.frameCounterWord, startCounter + 1);
    EXPECT_EQ(request.FrameCounter(), static_cast<uint8_t>(startCounter + 1));
    EXPECT_EQ(request.StatusWord(0), 7);
    EXPECT_EQ(request.StatusWord(1), static_cast<int32_t>(request.frameCounterWord));
    EXPECT_EQ(request.StatusWord(2), -2);
    EXPECT_EQ(request.StatusWord(3), 0x1234);
    ASSERT_TRUE(cam_->ReadFrameData(&request, 3000));
    const auto payload = camera().LastFramePayload();
    ASSERT_TRUE(payload);
    ASSERT_EQ(payload->size(), expectedLength);
    EXPECT_EQ(std::memcmp(payload->data(), storage.data(), expectedLength), 0);
    // 512 KiB pieces and a remainder after the 64-byte header.
    const auto bulk = recorder_.Log(IoCode::kDirectBulkTransfer);
    const uint32_t full = expectedLength / 0x80000u;
    ASSERT_EQ(bulk.size(), 2u + full);
    EXPECT_EQ(bulk[0].outLength, 64u);
    for (uint32_t i = 1; i <= full; ++i) EXPECT_EQ(bulk[i].outLength, 0x80000u);
    EXPECT_EQ(bulk[full + 1].outLength, expectedLength % 0x80000u);
  }
}

TEST_F(ControllerBulk, PayloadFaultsFailTheFrameAndStreamingRecovers) {
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  struct Fault {
    const char* name;
    std::function<void()> inject;
    bool beforeHeader;  // the fault concerns the frame the next header announces
  };
  const std::vector<Fault> faults = {
      {"failed piece", [&] { camera().FailPayloads(1); }, false},
      {"short payload", [&] { camera().ShortPayloads(1); }, true},
      {"late piece", [&] { camera().DelayPayloads(1, sim::kNever); }, false},
      {"status word", [&] { camera().FailBulkStatus(1); }, false},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    if (f.beforeHeader) f.inject();
    ASSERT_TRUE(cam_->ReadFrameHeader(&request));
    if (!f.beforeHeader) f.inject();
    EXPECT_FALSE(cam_->ReadFrameData(&request, 100));
    EXPECT_EQ(camera().PendingBulkRequests(), 0u);
    ASSERT_TRUE(cam_->ReadFrameHeader(&request));
    EXPECT_TRUE(cam_->ReadFrameData(&request, 3000));
  }
}

TEST_F(ControllerBulk, AbortOrUnplugFromAnotherThreadEndsAPendingRead) {
  for (const bool unplug : {false, true}) {
    SCOPED_TRACE(unplug ? "unplug" : "abort");
    auto handle = cam_->OpenDeviceHandle(0, true);
    ASSERT_TRUE(handle);
    ASSERT_TRUE(cam_->EnsureStreamHandle());  // the abort goes through the stream handle
    std::atomic<bool> result{true};
    std::vector<uint8_t> buffer(64);
    std::thread reader([&] {
      uint32_t count = 0;
      result = cam_->DirectBulkTransfer(handle.get(), buffer.data(), 64, kEndpointFrames, &count, 60000);
    });
    ASSERT_TRUE(Eventually([&] { return camera().PendingBulkRequests() == 1; }));
    if (unplug) {
      camera().Unplug();
    } else {
      EXPECT_TRUE(cam_->AbortPipe());
    }
    reader.join();
    EXPECT_FALSE(result.load());
    EXPECT_EQ(camera().PendingBulkRequests(), 0u);
    cam_->CloseStreamHandle();
  }
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  EXPECT_FALSE(cam_->ReadFrameHeader(&request));
  EXPECT_FALSE(cam_->EnsureStreamHandle()) << "the unplugged camera opens no stream handle";
}

TEST_F(ControllerBulk, BufferedReadsGoThroughTheStagingBufferAndTimeOutClean) {
  auto stream = cam_->OpenDeviceHandle(0, true);
  ASSERT_TRUE(stream);
  std::vector<uint8_t> piece(0x80000, 0xEE);
  uint32_t count = 0;
  // Not armed: nothing comes, the read is aborted before the call returns, the buffer is untouched.
  EXPECT_FALSE(cam_->BufferedBulkRead(stream.get(), piece.data(), 64, kEndpointFrames, &count));
  EXPECT_EQ(camera().PendingBulkRequests(), 0u);
  EXPECT_EQ(piece[0], 0xEE);
  ASSERT_TRUE(cam_->FpgaWriteByte(0x3C, 1));
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  ASSERT_TRUE(cam_->ReadFrameHeader(&request));
  recorder_.Clear();
  // The header was taken; the stream is now in the payload.
  ASSERT_TRUE(cam_->BufferedBulkRead(stream.get(), piece.data(), piece.size(), kEndpointFrames, &count));
  EXPECT_EQ(count, 0x80000u);
  const auto payload = camera().LastFramePayload();
  EXPECT_EQ(std::memcmp(piece.data(), payload->data(), piece.size()), 0);
  const auto log = recorder_.Log(IoCode::kBufferedBulkTransfer);
  ASSERT_EQ(log.size(), 1u);
  ASSERT_EQ(log[0].in.size(), kTransferRecordSize + 0x80000);
  EXPECT_EQ(log[0].in[record::kEndpoint], 0x81);
  EXPECT_EQ(LoadU32(log[0].in.data() + record::kBufferOffset), 38u);
  EXPECT_EQ(LoadU32(log[0].in.data() + record::kBufferLength), 0x80000u);
}

struct MemoryCase {
  uint64_t length;
  std::vector<uint32_t> pieces;
};

TEST_F(ControllerBulk, MemoryReadSizesAndPieces) {
  const std::vector<MemoryCase> cases = {
      {0, {4096}},
      {4096, {8192}},
      {4097, {8192}},
      {0x2000000, {0x1000000, 0x1000000, 4096}},
  };
  const uint64_t address = 0x100000000ull + 0x3000;
  for (const MemoryCase& c : cases) {
    SCOPED_TRACE(c.length);
    uint64_t amount = 0;
    for (uint32_t p : c.pieces) amount += p;
    EXPECT_EQ(COrvCy3Cam::MemoryTransferAmount(c.length), amount);
    std::vector<uint8_t> destination(amount + 16, 0x5C);
    recorder_.Clear();
    ASSERT_TRUE(cam_->ReadMemory(address, destination.data(), c.length, amount));
    const auto bulk = recorder_.Log(IoCode::kDirectBulkTransfer);
    ASSERT_EQ(bulk.size(), 2 * c.pieces.size());
    uint64_t offset = 0;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      const testing::RecordedIo& header = bulk[2 * i];
      EXPECT_EQ(header.in[record::kEndpoint], 0x01);
      ASSERT_EQ(header.outLength, kMemoryHeaderSize);
      uint8_t expected[kMemoryHeaderSize];
      BuildMemoryHeader(expected, false, address + offset, c.pieces[i]);
      EXPECT_EQ(header.outSent, std::vector<uint8_t>(expected, expected + kMemoryHeaderSize));
      EXPECT_EQ(bulk[2 * i + 1].in[record::kEndpoint], 0x81);
      EXPECT_EQ(bulk[2 * i + 1].outLength, c.pieces[i]);
      offset += c.pieces[i];
    }
    for (uint64_t i : {uint64_t{0}, amount / 2, amount - 1}) {
      EXPECT_EQ(destination[i], camera().MemoryByte(address + i)) << i;
    }
    EXPECT_EQ(destination[amount], 0x5C) << "nothing written past the amount";
  }
}

TEST_F(ControllerBulk, MemoryWriteReadsBackAndLimitsAreKept) {
  std::vector<uint8_t> data(8192);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_TRUE(cam_->WriteMemory(0x123000, data.data(), 5000, data.size()));
  const auto bulk = recorder_.Log(IoCode::kDirectBulkTransfer);
  ASSERT_EQ(bulk.size(), 2u);
  EXPECT_EQ(std::string(bulk[0].outSent.begin(), bulk[0].outSent.begin() + 4), "KU3W");
  EXPECT_EQ(bulk[1].outLength, 8192u);
  std::vector<uint8_t> back(8192);
  ASSERT_TRUE(cam_->ReadMemory(0x123000, back.data(), 8191, back.size()));
  EXPECT_EQ(back, data);
  recorder_.Clear();
  std::vector<uint8_t> small(4096);
  EXPECT_TRUE(cam_->ReadMemory(0, small.data(), 0xFFFFF000ull, small.size())) << "moves nothing";
  EXPECT_TRUE(cam_->WriteMemory(0, small.data(), 0x100000000ull, small.size()));
  EXPECT_TRUE(recorder_.Log(IoCode::kDirectBulkTransfer).empty());
  EXPECT_FALSE(cam_->ReadMemory(0, small.data(), 4096, small.size())) << "8192 bytes do not fit";
  EXPECT_FALSE(cam_->WriteMemory(0, small.data(), 4096, small.size()));
  EXPECT_TRUE(recorder_.Log(IoCode::kDirectBulkTransfer).empty());
  EXPECT_EQ(COrvCy3Cam::MemoryTransferAmount(0xFFFFEFFF), 0xFFFFF000ull);
}

TEST_F(ControllerBulk, ImageReadRoundsUpTo16KiBAndReadsIn4MiBPieces) {
  struct Case {
    uint64_t length;
    std::vector<uint32_t> pieces;
  };
  for (const Case& c : {Case{16384, {32768}}, Case{0x500000, {0x400000, 0x104000}}, Case{1, {16384}}}) {
    SCOPED_TRACE(c.length);
    uint64_t amount = 0;
    for (uint32_t p : c.pieces) amount += p;
    std::vector<uint8_t> storage(amount);
    FrameTransferRequest request;
    request.buffer = storage.data();
    request.bufferSize = storage.size();
    uint64_t length = c.length;
    recorder_.Clear();
    ASSERT_TRUE(cam_->ReadImage(&request, &length, 3000));
    EXPECT_EQ(length, amount);
    const auto bulk = recorder_.Log(IoCode::kDirectBulkTransfer);
    ASSERT_EQ(bulk.size(), 1 + c.pieces.size());
    uint8_t expected[kMemoryHeaderSize];
    BuildMemoryHeader(expected, false, 0, static_cast<uint32_t>(amount));
    EXPECT_EQ(bulk[0].outSent, std::vector<uint8_t>(expected, expected + kMemoryHeaderSize));
    for (size_t i = 0; i < c.pieces.size(); ++i) EXPECT_EQ(bulk[1 + i].outLength, c.pieces[i]);
    EXPECT_EQ(storage[amount - 1], camera().MemoryByte(amount - 1));
    request.bufferSize = amount - 1;
    length = c.length;
    EXPECT_FALSE(cam_->ReadImage(&request, &length, 3000)) << "destination too small";
    EXPECT_EQ(length, c.length);
  }
}

TEST_F(ControllerBulk, AuxiliaryFrameComesFromEndpoint83AndMustFit) {
  std::vector<uint8_t> storage;
  FrameTransferRequest request = Request(storage);
  ASSERT_TRUE(cam_->ReadFrameAux(&request));
  const auto bulk = recorder_.Log(IoCode::kDirectBulkTransfer);
  ASSERT_EQ(bulk.size(), 1u);
  EXPECT_EQ(bulk[0].in[record::kEndpoint], 0x83);
  request.frameSize = request.bufferSize + 1;
  EXPECT_FALSE(cam_->ReadFrameAux(&request));
}

}  // namespace
}  // namespace orvane::usb
