// The library's own settings dialogs: modal windows on Windows; not available elsewhere.
#pragma once

namespace orvane::ui {

enum class Dialog { kCamera, kAnalog, kImage };

// Whether this platform can show the settings dialogs.
bool DialogsAvailable();

}  // namespace orvane::ui
