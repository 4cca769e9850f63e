// The outcome of a settings operation inside the SDK. The SDK object turns it into an export's result
// and error code in one place (COrvane::Finish).
#pragma once

namespace orvane::settings {

enum class [[nodiscard]] SettingStatus {
  kOk,              // done
  kOkRecorded,      // done, and the export records code 0 (the recorded form posts a message)
  kDeviceRefused,   // the device answered 0: the export returns 0 and reports nothing
  kArgument,        // unknown id or value out of range: nothing changed (error 9)
  kNotSupported,    // the device lacks the feature (error 11)
  kDeviceIo,        // the device failed the request (error 6)
};

constexpr bool Succeeded(SettingStatus status) {
  return status == SettingStatus::kOk || status == SettingStatus::kOkRecorded;
}

}  // namespace orvane::settings
