// Gives a test a settings store of its own, so that what one test saves at release does not reach
// the next: a fresh directory on Linux, the SDK's registry key removed on Windows.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>

#include <filesystem>
#endif

inline void UseFreshSettingsStore() {
#ifdef _WIN32
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Kavrin\\OrvaneKD73R5Sdk");
#else
  std::string dir = (std::filesystem::temp_directory_path() / "orvane-settings-XXXXXX").string();
  if (mkdtemp(dir.data()) != nullptr) setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
#endif
}

