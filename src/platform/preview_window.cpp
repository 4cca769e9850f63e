// The parts of the preview window that are the same on every platform.
#include "platform/preview_window.h"

namespace orvane::platform {

bool PreviewWindow::Exists() const {
  std::lock_guard lock(mutex_);
  return window_ != nullptr;
}

std::string PreviewWindow::ClassName() const {
  std::lock_guard lock(mutex_);
  return className_;
}

}  // namespace orvane::platform
