#include "ui/dialogs.h"

namespace orvane::ui {

bool DialogsAvailable() { return false; }

int OpenDialog(COrvane& sdk, Dialog, HWND) {
  if (!sdk.CheckDevice()) return 0;
  sdk.ReportError(ORVANE_ERR_NOT_SUPPORTED);
  return 0;
}

}  // namespace orvane::ui
