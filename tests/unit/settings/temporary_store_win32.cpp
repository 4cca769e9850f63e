#include "temporary_store.h"

namespace orvane::testing {

// Each wine test run has a fresh prefix and the tests use keys of their own below it.
TemporarySettingsStore::TemporarySettingsStore() = default;
TemporarySettingsStore::~TemporarySettingsStore() = default;

}  // namespace orvane::testing
