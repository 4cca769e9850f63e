#include "platform/frame_copies.h"

#include <atomic>

namespace orvane::platform {

namespace {
// Only ever incremented and read; no other memory is ordered by it.
std::atomic<uint64_t> gFrameCopies{0};
}  // namespace

void CountFrameCopy() { gFrameCopies.fetch_add(1, std::memory_order_relaxed); }

uint64_t FrameCopies() { return gFrameCopies.load(std::memory_order_relaxed); }

}  // namespace orvane::platform
