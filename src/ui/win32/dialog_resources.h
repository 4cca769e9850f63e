// The settings dialogs' resources (templates and strings), in the language of the system: Japanese
// when the system default language is 0x0411, English otherwise. The templates are in the module
// that holds this code (the DLL, or a program that links the library statically).
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <variant>

namespace orvane::ui {

// The language whose resources the dialogs use.
LANGID DialogLanguage();
HINSTANCE DialogModule();
// The template `id` in the dialog language; null when the module lacks it.
const DLGTEMPLATE* LoadDialogTemplate(int id);
// String `id` of the dialog language's string table; empty when missing.
std::wstring LoadText(int id);
// A string-table format with its arguments in order: %d takes an int, %f forms a double, %s a
// wide string (the same in every C library's wide printf, unlike a plain %s).
using FormatArg = std::variant<int, double, std::wstring>;
std::wstring FormatText(int id, std::initializer_list<FormatArg> args);

}  // namespace orvane::ui
