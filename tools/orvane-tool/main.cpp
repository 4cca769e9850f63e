// orvane-tool: list cameras, read and change settings, take pictures, record and stream from a shell.
// Exit status 0 on success, 1 when the SDK reports a failure (its error name and code on stderr), 2 on
// a usage error.
#include <cstdio>

#include "tool.h"

namespace orvane_tool {
namespace {

void PrintOverview(FILE* out) {
  std::fprintf(out,
               "usage: orvane-tool [--camera N] COMMAND [ARGS...]\n"
               "       orvane-tool COMMAND --help\n\n"
               "Cameras are numbered from 0 in the order of `list` (--camera N, default 0).\n"
               "Set ORVANE_SIM_CAMERAS=1 for a virtual camera, ORVANE_LOG=debug:FILE for a log.\n\n"
               "commands:\n");
  for (const Command& command : Commands()) std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
}

void PrintCommandHelp(const Command& command, FILE* out) {
  std::fprintf(out, "usage: orvane-tool [--camera N] %s %s\n\n%s\n", command.name, command.usage, command.details);
  const std::string name = command.name;
  if (name == "get" || name == "set") std::fprintf(out, "\n%s", SettingsHelp().c_str());
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

int Run(const Arguments& args) {
  const Command* command = FindCommand(args.command);
  if (args.command.empty() && args.help) {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (command == nullptr) {
    if (args.command.empty()) {
      std::fprintf(stderr, "orvane-tool: no command given\n");
    } else {
      std::fprintf(stderr, "orvane-tool: unknown command '%s'\n", args.command.c_str());
    }
    PrintOverview(stderr);
    return kExitUsage;
  }
  if (args.help) {
    PrintCommandHelp(*command, stdout);
    return kExitOk;
  }
  const int count = static_cast<int>(args.operands.size());
  if (count < command->minOperands || count > command->maxOperands) {
    std::fprintf(stderr, "orvane-tool: %s takes %s\n", command->name, command->usage);
    return kExitUsage;
  }
  try {
    Session session;
    if (command->opensCamera && !session.Open(args.camera)) return kExitFailed;
    if (!command->opensCamera && session.handle() == 0) return session.Fail("Orvane_Initialize");
    return command->run(session, args);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "orvane-tool: %s: %s\n", command->name, error.what());
    std::fprintf(stderr, "usage: orvane-tool [--camera N] %s %s\n", command->name, command->usage);
    return kExitUsage;
  }
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"list", "", "the connected cameras: number, name, serial number",
       "Prints one line per camera: its number for --camera, its name and its serial number.", 0, 0, false, RunList},
      {"info", "", "camera information: sizes, gain and exposure ranges, current format",
       "Prints the camera information record, the serial number, the capture size and colour mode.", 0, 0, true,
       RunInfo},
      {"get", "[NAME]", "one setting, or every setting without NAME",
       "Prints the setting NAME, or NAME=VALUE for every setting.", 0, 1, true, RunGet},
      {"set", "NAME VALUE", "changes one setting (kept by the SDK for the next use)",
       "Changes the setting NAME; the SDK checks the range (error ORVANE_ERR_ARGUMENT when out of range).", 2, 2,
       true, RunSet},
      {"snap", "FILE [--mode BITS]", "one frame into an image file",
       "Takes one frame and saves it; the extension chooses the format: .bmp, .raw, .jpg (quality 100),\n"
       ".png, .tif. --mode BITS sets the colour mode first (8, 16, 24, 32, 48, 64).",
       1, 1, true, RunSnap},
      {"record", "FILE SECONDS [--mode BITS]", "an AVI clip of SECONDS",
       "Records SECONDS of the live stream into the AVI file FILE, with a progress line.", 2, 2, true, RunRecord},
      {"stream", "SECONDS [--mode BITS]", "streams SECONDS: frame rate, delivered and failed frames",
       "Streams into the tool's own buffer for SECONDS from the first frame and prints the frame rate and\n"
       "the delivered and failed frames.",
       1, 1, true, RunStream},
      {"reg", "read fpga|sensor ADDRESS | write fpga|sensor ADDRESS VALUE", "reads or writes an FPGA or sensor register",
       "ADDRESS and VALUE in decimal or 0x hex. FPGA registers have 8-bit addresses and 16-bit values;\n"
       "sensor registers take the full address.",
       3, 4, true, RunRegister},
  };
  return kCommands;
}

}  // namespace orvane_tool

int main(int argc, char** argv) {
  using namespace orvane_tool;
  try {
    return Run(ParseArguments(argc, argv));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "orvane-tool: %s\n", error.what());
    return kExitUsage;
  }
}
