#include "ui/dialogs.h"

namespace orvane::ui {

bool DialogsAvailable() { return true; }

}  // namespace orvane::ui
