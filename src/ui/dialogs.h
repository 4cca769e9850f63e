// The library's own settings dialogs: the camera (stream format), analog and image dialogs, modal
// windows with a tab control hosting their pages. They edit an SDK object through its public
// operations. Windows only: elsewhere there is no windowing system to assume, and they answer
// error 11.
#pragma once

#include "sdk/orvane.h"

namespace orvane::ui {

enum class Dialog { kCamera, kAnalog, kImage };

// Whether this platform can show the settings dialogs.
bool DialogsAvailable();

// The body of Orvane_SetCameraDlg, Orvane_SetAnalogDlg and Orvane_SetImageDlg: runs the dialog on the
// calling thread until it closes and answers 1. Without a device object: error 1, 0, no window. A
// parent that is not a window opens the dialog without an owner. While a dialog of the same object
// is open (on any thread) a second one is refused with error 1, so two copies of the settings never
// restore over each other.
int OpenDialog(COrvane& sdk, Dialog dialog, HWND parent);

}  // namespace orvane::ui
