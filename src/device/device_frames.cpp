// The consumer side of the device object's ring: waiting for a frame, copying it out in the caller's
// orientation with the metadata read with it, and the counts of the stream.
#include <algorithm>

#include "device/frame_copy.h"
#include "device/orvane_device.h"
#include "platform/log.h"

using orvane::device::FrameMetadata;
using orvane::device::StreamStatistics;

int COrvaneR3O5Base::WaitFrame(int32_t ms) {
  if (transferFailed_) return kWaitFailed;
  std::shared_ptr<orvane::device::SyncEvent> event = FrameEvent();
  if (!event || !event->Wait(ms)) return kWaitNoFrame;
  // The thread may have given up while we waited.
  if (transferFailed_) return kWaitFailed;
  std::lock_guard<std::mutex> ring(ringLock_);
  // Counted, not compared by ring index: when exactly a ring's worth of frames arrived since the last
  // hand-out, the write index is back at the read mark although new frames are there.
  return framesStored_ != framesHandedOut_ ? kWaitNewFrame : kWaitNoFrame;
}

int32_t COrvaneR3O5Base::RingWriteIndex() const {
  std::lock_guard<std::mutex> ring(ringLock_);
  return writeIndex_;
}

int32_t COrvaneR3O5Base::FrameSize() const {
  std::lock_guard<std::mutex> ring(ringLock_);
  return frameSize_;
}

StreamStatistics COrvaneR3O5Base::StreamStats() const {
  std::lock_guard<std::mutex> ring(ringLock_);
  return stats_;
}

void COrvaneR3O5Base::CountHandOut(FrameMetadata* metadata) {
  // A frame taken again (nothing new came) is not delivered twice.
  if (metadata->sequence <= lastTakenSequence_) {
    metadata->skipped = 0;
    return;
  }
  const uint64_t skipped = metadata->sequence - lastTakenSequence_ - 1;
  metadata->skipped = static_cast<uint32_t>(std::min<uint64_t>(skipped, UINT32_MAX));
  lastTakenSequence_ = metadata->sequence;
  ++stats_.framesDelivered;
  stats_.framesSkipped += skipped;
  if (skipped > 0) ORVANE_LOG(kDevice, kDebug, "%llu frames skipped (taken slower than they came)", static_cast<unsigned long long>(skipped));
}

// The slot stays locked for the copy, so the streaming thread never writes it at the same time.
int COrvaneR3O5Base::CopySlot(const CopyTarget& target, int32_t* counter, int32_t* status, int firstSlot,
                              int rowOrder, bool markRead, FrameMetadata* metadata) {
  if (target.bytes == nullptr) return 0;
  std::unique_lock<std::mutex> ring(ringLock_);
  const int32_t rowBytes = copyWidth_ * bytesPerPixel_;
  const int32_t stride = target.stride != 0 ? target.stride : rowBytes;
  if (frameSize_ <= 0 || target.size < static_cast<size_t>(frameSize_) || stride < rowBytes) return 0;
  const int slotIndex = firstSlot != 0 ? 0 : (writeIndex_ + ringSize_ - 1) % ringSize_;
  Slot& slot = slots_[slotIndex];
  std::unique_lock<std::mutex> slotLock(slot.lock);
  if (markRead) {
    readMark_ = writeIndex_;
    framesHandedOut_ = framesStored_;
    if (metadata != nullptr) {
      *metadata = slot.metadata;
      CountHandOut(metadata);
    }
  }
  const orvane::device::FrameLayout layout{frameSize_, copyHeight_, rowBytes, bytesPerPixel_, orientation_};
  ring.unlock();

  orvane::device::CopyOrientedFrame(target.bytes, stride, slot.data.data(), layout, rowOrder);
  if (counter) *counter = slot.counter;
  if (status) std::copy(slot.status.begin(), slot.status.end(), status);
  return 1;
}


COrvaneR3O5Base::CopyTarget COrvaneR3O5Base::PackedTarget(void* buffer, int32_t length) {
  return {static_cast<uint8_t*>(buffer), length < 0 ? 0 : static_cast<size_t>(length), 0};
}

bool COrvaneR3O5Base::TakeNewestFrame(uint8_t* dst, int32_t dstStride, size_t dstBytes, int rowOrder,
                                      FrameMetadata* metadata) {
  FrameMetadata taken;
  if (dstStride <= 0 || CopySlot({dst, dstBytes, dstStride}, nullptr, nullptr, 0, rowOrder, true, &taken) == 0) {
    return false;
  }
  if (metadata != nullptr) *metadata = taken;
  return true;
}

int COrvaneR3O5Base::CopyFrame(void* buffer, int32_t length, int32_t* counter, int32_t* status1, int32_t* status2,
                               int32_t* status3, int32_t* status4, int firstSlot, int rowOrder) {
  int32_t status[4] = {};
  if (CopySlot(PackedTarget(buffer, length), counter, status, firstSlot, rowOrder, false) == 0) return 0;
  if (status1) *status1 = status[0];
  if (status2) *status2 = status[1];
  if (status3) *status3 = status[2];
  if (status4) *status4 = status[3];
  return 1;
}

int COrvaneR3O5Base::GetFrame(void* buffer, int32_t length, int rowOrder) {
  FrameMetadata taken;
  return CopySlot(PackedTarget(buffer, length), nullptr, nullptr, 0, rowOrder, true, &taken) != 0 ? 0 : 1;
}

int COrvaneR3O5Base::GetFrameTimed(void* buffer, int32_t length, int64_t*, int32_t*, int) {
  FrameMetadata taken;
  return CopySlot(PackedTarget(buffer, length), nullptr, nullptr, 0, 1, true, &taken) != 0 ? 0 : 1;
}

int COrvaneR3O5Base::GetFrameInfo(void* buffer, int32_t length, int32_t* counter, int32_t* status1, int32_t* status2,
                                  int32_t* status3, int32_t* status4, int rowOrder) {
  int32_t status[4] = {};
  FrameMetadata taken;
  if (CopySlot(PackedTarget(buffer, length), counter, status, 0, rowOrder, true, &taken) == 0) return 1;
  if (status1) *status1 = status[0];
  if (status2) *status2 = status[1];
  if (status3) *status3 = status[2];
  if (status4) *status4 = status[3];
  return 0;
}

int COrvaneR3O5Base::GetFirstSlotFrame(void* buffer, int32_t length, int rowOrder) {
  if (buffer == nullptr) return -2;
  CopySlot(PackedTarget(buffer, length), nullptr, nullptr, 1, rowOrder, false);
  return 0;
}
