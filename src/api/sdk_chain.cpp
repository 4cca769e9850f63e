#include "api/sdk_chain.h"

#include <algorithm>
#include <cstdlib>

#include "platform/time.h"
#include "sdk/orvane.h"

CSdkChain::CSdkChain()
    : CSdkChain([] { return orvane::platform::TickCountMs(); }, [] { return static_cast<uint32_t>(std::rand()); }) {}

CSdkChain::CSdkChain(Source tick, Source random) : tick_(std::move(tick)), random_(std::move(random)) {}

CSdkChain::~CSdkChain() = default;

int CSdkChain::Insert(std::shared_ptr<COrvane> object) {
  std::lock_guard lock(mutex_);
  auto registered = [this](int handle) {
    return std::any_of(records_.begin(), records_.end(), [handle](const Record& r) { return r.handle == handle; });
  };
  int handle;
  do {
    uint32_t drawn = tick_() + random_() + static_cast<uint32_t>(records_.size());
    handle = static_cast<int>(drawn);
  } while (handle == 0 || registered(handle));
  records_.insert(records_.begin(), Record{handle, std::move(object)});
  return handle;
}

std::shared_ptr<COrvane> CSdkChain::Lookup(int handle) const {
  std::lock_guard lock(mutex_);
  for (const Record& record : records_) {
    if (record.handle == handle) return record.object;
  }
  return nullptr;
}

std::shared_ptr<COrvane> CSdkChain::Remove(int handle) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(records_.begin(), records_.end(), [handle](const Record& r) { return r.handle == handle; });
  if (it == records_.end()) return nullptr;
  std::shared_ptr<COrvane> object = std::move(it->object);
  records_.erase(it);
  return object;
}

int CSdkChain::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(records_.size());
}

CSdkChain& CSdkChain::Library() {
  // Never destroyed: objects an application did not release are neither stopped nor freed when the
  // library unloads (stopping threads from the unload path could deadlock the loader).
  static CSdkChain* chain = new CSdkChain();
  return *chain;
}
