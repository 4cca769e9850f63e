// reg read|write fpga|sensor ADDRESS [VALUE].
#include <cstdio>
#include <string>

#include "tool.h"

namespace orvane_tool {

int RunRegister(Session& session, const Arguments& args) {
  const std::string& action = args.operands[0];
  const std::string& target = args.operands[1];
  const bool fpga = target == "fpga";
  if (!fpga && target != "sensor") throw UsageError("the register is fpga or sensor, not '" + target + "'");
  const int address = ParseInt(args.operands[2], "ADDRESS");
  const int h = session.handle();
  const std::string what = "reg " + action + " " + target + " " + args.operands[2];
  if (action == "read" && args.operands.size() == 3) {
    int ok = 0;
    const int value = fpga ? Orvane_Fpga_ReadRegister(h, address, &ok) : Orvane_ReadRegisterEx(h, address, &ok);
    if (ok != 1) return session.Fail(what);
    std::printf("0x%04x (%d)\n", static_cast<unsigned>(value), value);
    return kExitOk;
  }
  if (action == "write" && args.operands.size() == 4) {
    const int value = ParseInt(args.operands[3], "VALUE");
    const int result = fpga ? Orvane_Fpga_WriteRegister(h, address, value) : Orvane_WriteRegisterEx(h, address, value);
    if (result != 1) return session.Fail(what);
    return kExitOk;
  }
  throw UsageError("reg read fpga|sensor ADDRESS, or reg write fpga|sensor ADDRESS VALUE");
}

}  // namespace orvane_tool
