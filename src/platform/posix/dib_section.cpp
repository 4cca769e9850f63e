#include "platform/dib_section.h"

namespace orvane::platform {

// There is no GDI here: every bitmap lives on the heap and the headless preview surface reads its bits.
std::unique_ptr<DibSection> DibSection::Create(const uint8_t*) { return nullptr; }

}  // namespace orvane::platform
