#include "ui/win32/dialog_resources.h"

#include <cwchar>
#include <iterator>

namespace orvane::ui {

namespace {
constexpr LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}  // namespace

LANGID DialogLanguage() { return GetSystemDefaultLangID() == kJapanese ? kJapanese : kEnglish; }

HINSTANCE DialogModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&DialogModule), &module);
  return module;
}

const DLGTEMPLATE* LoadDialogTemplate(int id) {
  HINSTANCE module = DialogModule();
  HRSRC found = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_DIALOG), MAKEINTRESOURCEW(id), DialogLanguage());
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  return loaded == nullptr ? nullptr : static_cast<const DLGTEMPLATE*>(LockResource(loaded));
}

std::wstring LoadText(int id) {
  // A string table resource is a block of 16 counted strings; block n holds ids 16 (n - 1) ...
  HINSTANCE module = DialogModule();
  HRSRC found = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(id / 16 + 1), DialogLanguage());
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const WCHAR* entry = loaded == nullptr ? nullptr : static_cast<const WCHAR*>(LockResource(loaded));
  if (entry == nullptr) return {};
  const WCHAR* end = entry + SizeofResource(module, found) / sizeof(WCHAR);
  for (int i = 0; i < id % 16 && entry < end; ++i) entry += 1 + *entry;
  if (entry >= end || entry + 1 + *entry > end) return {};
  return std::wstring(entry + 1, *entry);
}

std::wstring FormatText(int id, std::initializer_list<FormatArg> args) {
  const std::wstring format = LoadText(id);
  std::wstring out;
  const FormatArg* arg = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    size_t end = format.find_first_of(L"dfs%", i + 1);
    if (end == std::wstring::npos) break;
    const std::wstring conversion = format.substr(i, end - i + 1);
    i = end;
    if (format[end] == L'%') {
      out += L'%';
    } else if (arg != args.end()) {
      wchar_t piece[64] = {};
      if (const auto* text = std::get_if<std::wstring>(arg)) {
        out += *text;
      } else if (const auto* number = std::get_if<int>(arg)) {
        std::swprintf(piece, std::size(piece), conversion.c_str(), *number);
      } else {
        std::swprintf(piece, std::size(piece), conversion.c_str(), std::get<double>(*arg));
      }
      out += piece;
      ++arg;
    }
  }
  return out;
}

}  // namespace orvane::ui
