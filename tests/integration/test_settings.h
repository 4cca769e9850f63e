// Gives a test a settings store of its own, so that what one test saves at release does not reach
// the next: a fresh directory on Linux; on Windows the SDK's registry key removed, in a user hive
// that the process has to itself.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#else
#include <stdlib.h>

#include <filesystem>
#endif

#ifdef _WIN32
namespace orvane_test {

// The Windows test programs run side by side in one wine prefix, and every release saves its camera's
// settings below HKEY_CURRENT_USER: one user hive for all would let a program's release overwrite what
// another has just saved, or delete it under it. The first call gives this process a hive of its own:
// a copy of the user's keys below HKEY_CURRENT_USER\OrvaneTestHives\<process id>, which the process's
// HKEY_CURRENT_USER then names (RegOverridePredefKey). The SDK, wine's own libraries and the test see
// the same keys as before; no other process sees what they write.
inline void UseOwnUserHive() {
  static const bool done = [] {
    constexpr char kHives[] = "OrvaneTestHives";
    const std::string own = std::string(kHives) + "\\" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, own.c_str());  // a process of the same id before this one
    HKEY hive = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, own.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof(name);
      if (RegEnumKeyExA(HKEY_CURRENT_USER, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        break;
      }
      if (lstrcmpiA(name, kHives) == 0) continue;
      HKEY from = nullptr;
      HKEY to = nullptr;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, name, 0, KEY_READ, &from) == ERROR_SUCCESS &&
          RegCreateKeyExA(hive, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to, nullptr) == ERROR_SUCCESS) {
        RegCopyTreeA(from, nullptr, to);
      }
      if (from != nullptr) RegCloseKey(from);
      if (to != nullptr) RegCloseKey(to);
    }
    const bool overridden = RegOverridePredefKey(HKEY_CURRENT_USER, hive) == ERROR_SUCCESS;
    RegCloseKey(hive);
    return overridden;
  }();
  if (!done) std::fprintf(stderr, "test_settings.h: no user hive of its own; the settings store is shared\n");
}

}  // namespace orvane_test
#endif

inline void UseFreshSettingsStore() {
#ifdef _WIN32
  orvane_test::UseOwnUserHive();
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kavrin\\OrvaneKD73R5Sdk");
#else
  std::string dir = (std::filesystem::temp_directory_path() / "orvane-settings-XXXXXX").string();
  if (mkdtemp(dir.data()) != nullptr) setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
#endif
}
