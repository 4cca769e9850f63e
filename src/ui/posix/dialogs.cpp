#include "ui/dialogs.h"

namespace orvane::ui {

bool DialogsAvailable() { return false; }

}  // namespace orvane::ui
