// list and info.
#include <cstdio>

#include "tool.h"

namespace orvane_tool {

int RunList(Session& session, const Arguments&) {
  char names[10][256] = {};
  const int count = Orvane_EnumDevice(session.handle(), names);
  for (int i = 0; i < count; ++i) {
    char serial[64] = "";
    // The serial number needs the camera open; with several connected, each is opened in turn.
    if (count > 1 && Orvane_SetDeviceNumber(session.handle(), i) != 1) serial[0] = '\0';
    if (Orvane_ReadSerialNumberA(session.handle(), serial, sizeof serial) != 1) serial[0] = '\0';
    std::printf("%d  %s  %s\n", i, names[i], serial[0] != '\0' ? serial : "(serial number unreadable)");
  }
  if (count == 0) std::printf("no camera connected\n");
  return kExitOk;
}

int RunInfo(Session& session, const Arguments&) {
  const int h = session.handle();
  OrvaneCameraInfo info{};
  info.size = sizeof info;
  if (Orvane_GetCameraInfo(h, &info) != 1) return session.Fail("Orvane_GetCameraInfo");
  char serial[64] = "";
  if (Orvane_ReadSerialNumberA(h, serial, sizeof serial) != 1) return session.Fail("Orvane_ReadSerialNumberA");
  int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0;
  Orvane_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev);
  std::printf("serial number     %s\n", serial);
  std::printf("library version   %d (0x%08x)\n", Orvane_GetDllVersion(), Orvane_GetDllVersion());
  std::printf("sensor size       %d x %d\n", info.maxWidth, info.maxHeight);
  std::printf("capture window    %d x %d at (%d, %d) of %d x %d\n", eh, ev, ehs, evs, th, tv);
  std::printf("capture size      %d x %d\n", Orvane_Width(h), Orvane_Height(h));
  std::printf("colour mode       %d bits per pixel\n", Orvane_GetColorMode(h));
  std::printf("sub-sampling      %d\n", Orvane_GetSubSample(h));
  std::printf("global gain       %d..%d\n", info.globalGainMin, info.globalGainMax);
  std::printf("colour gain       %d..%d\n", info.colorGainMin, info.colorGainMax);
  std::printf("exposure          %d..%d x 100 us\n", info.exposureMin, info.exposureMax);
  std::printf("exposure seconds  %g..%g\n", info.exposureTimeExMin, info.exposureTimeExMax);
  return kExitOk;
}

}  // namespace orvane_tool
