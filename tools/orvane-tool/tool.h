// Shared pieces of orvane-tool: exit codes, the parsed command line, the camera session and the
// commands. Only the public header is used; the tool is an application of the SDK like any other.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "message_pump.h"

namespace orvane_tool {

enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Thrown for a malformed command line; main prints the message and the command's usage, exit 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Arguments {
  std::string command;
  std::vector<std::string> operands;  // after the command, options removed
  int camera = 0;                     // --camera N
  int modeBits = 0;                   // --mode BITS (snap, stream, record); 0 = leave as it is
  bool help = false;                  // --help / -h
};

// Parses argv; throws UsageError.
Arguments ParseArguments(int argc, char** argv);
// Strict integer (decimal, 0x hex, optional sign); throws UsageError naming `what`.
int ParseInt(const std::string& text, const char* what);
double ParseSeconds(const std::string& text);

// The symbolic name of an error code ("ORVANE_ERR_ARGUMENT"), "unknown error" beyond the table.
const char* ErrorName(int code);

// One SDK handle with its message queue (Linux) or window (Windows), released on destruction.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // False (with the reason on stderr) when the SDK object could not be made or the camera is absent.
  bool Open(int camera);
  int handle() const { return handle_; }
  MessagePump& pump() { return pump_; }
  // Prints "orvane-tool: WHAT failed: NAME (code)" from the newest recorded error; returns kExitFailed.
  int Fail(const std::string& what);

 private:
  MessagePump pump_;
  int handle_ = 0;
};

using CommandFunction = int (*)(Session& session, const Arguments& args);

struct Command {
  const char* name;
  const char* usage;    // operands, e.g. "NAME VALUE"
  const char* summary;  // one line
  const char* details;  // the --help text after the usage line
  int minOperands;
  int maxOperands;
  bool opensCamera;     // false: the SDK handle only (list)
  CommandFunction run;
};

// Every command, in the order of the overall help.
const std::vector<Command>& Commands();

int RunList(Session& session, const Arguments& args);
int RunInfo(Session& session, const Arguments& args);
int RunGet(Session& session, const Arguments& args);
int RunSet(Session& session, const Arguments& args);
int RunSnap(Session& session, const Arguments& args);
int RunRecord(Session& session, const Arguments& args);
int RunStream(Session& session, const Arguments& args);
int RunRegister(Session& session, const Arguments& args);
// The settings names with their units, for `get --help` and `set --help`.
std::string SettingsHelp();

}  // namespace orvane_tool
