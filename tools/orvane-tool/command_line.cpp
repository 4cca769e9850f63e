#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tool.h"

namespace orvane_tool {

int ParseInt(const std::string& text, const char* what) {
  if (text.empty()) throw UsageError(std::string(what) + " is empty");
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || value < INT32_MIN || value > INT32_MAX) {
    throw UsageError(std::string(what) + " is not an integer: '" + text + "'");
  }
  return static_cast<int>(value);
}

double ParseSeconds(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || errno != 0 || *end != '\0' || !(value > 0) || value > 86400) {
    throw UsageError("SECONDS must be a number above 0 and at most 86400: '" + text + "'");
  }
  return value;
}

// Options may stand anywhere; "--" ends them (so that negative values need no care: only a
// double dash starts an option).
Arguments ParseArguments(int argc, char** argv) {
  Arguments args;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* option) -> std::string {
      if (i + 1 >= argc) throw UsageError(std::string(option) + " needs a value");
      return argv[++i];
    };
    if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      args.help = true;
    } else if (!optionsEnded && arg == "--camera") {
      args.camera = ParseInt(value("--camera"), "--camera");
      if (args.camera < 0 || args.camera > 31) throw UsageError("--camera takes 0..31");
    } else if (!optionsEnded && arg == "--mode") {
      args.modeBits = ParseInt(value("--mode"), "--mode");
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      throw UsageError("unknown option " + arg);
    } else if (args.command.empty()) {
      args.command = arg;
    } else {
      args.operands.push_back(arg);
    }
  }
  return args;
}

const char* ErrorName(int code) {
  static const char* const kNames[] = {
      "ORVANE_ERR_NONE",     "ORVANE_ERR_NOT_NOW",   "ORVANE_ERR_NO_CAMERA",     "ORVANE_ERR_THREAD",
      "ORVANE_ERR_WINDOW",   "ORVANE_ERR_MEMORY",    "ORVANE_ERR_DEVICE_IO",     "ORVANE_ERR_GEOMETRY",
      "ORVANE_ERR_TRANSFER", "ORVANE_ERR_ARGUMENT",  "ORVANE_ERR_UNUSED_10",     "ORVANE_ERR_NOT_SUPPORTED",
      "ORVANE_ERR_CONVERSION", "ORVANE_ERR_STREAM", "ORVANE_ERR_MASK_FILE"};
  if (code < 0 || code >= static_cast<int>(sizeof kNames / sizeof kNames[0])) return "unknown error";
  return kNames[code];
}

}  // namespace orvane_tool
