// The one table of settings names: each readable name with its unit and the exports that read and
// change it. `get` and `set` look names up here; `get` without a name walks the whole table.
#include <cstdio>
#include <string>

#include "tool.h"

namespace orvane_tool {
namespace {

struct Setting {
  const char* name;
  const char* help;  // unit and range as the SDK documents them
  bool (*get)(int handle, std::string* value);
  int (*set)(int handle, const std::string& text);  // 1 on success; throws UsageError on bad text
};

// Getters that report success through *ok.
template <auto Get>
bool GetChecked(int handle, std::string* value) {
  int ok = 0;
  const int v = Get(handle, &ok);
  if (ok != 1) return false;
  *value = std::to_string(v);
  return true;
}

// Getters that return the value itself, negative on failure.
template <auto Get>
bool GetPlain(int handle, std::string* value) {
  const int v = Get(handle);
  if (v < 0) return false;
  *value = std::to_string(v);
  return true;
}

template <auto Set>
int SetInt(int handle, const std::string& text) {
  return Set(handle, ParseInt(text, "VALUE"));
}

bool GetSize(int handle, std::string* value) {
  const int width = Orvane_Width(handle), height = Orvane_Height(handle);
  if (width <= 0 || height <= 0) return false;
  *value = std::to_string(width) + "x" + std::to_string(height);
  return true;
}

int SetSize(int handle, const std::string& text) {
  const size_t x = text.find('x');
  if (x == std::string::npos) throw UsageError("size is WIDTHxHEIGHT, e.g. 1920x1080: '" + text + "'");
  return Orvane_SetCaptureWindow(handle, ParseInt(text.substr(0, x), "WIDTH"), ParseInt(text.substr(x + 1), "HEIGHT"));
}

#define ORVANE_TOOL_CHECKED(name, help, Getter, Setter) \
  { name, help, GetChecked<&Getter>, SetInt<&Setter> }

const Setting kSettings[] = {
    {"exposure-us", "exposure time in microseconds (stored in steps of 100 us)",
     GetChecked<&Orvane_GetRealExposureTime>, SetInt<&Orvane_SetRealExposureTime>},
    ORVANE_TOOL_CHECKED("global-gain", "sensor gain (range: `info`)", Orvane_GetGlobalGain, Orvane_SetGlobalGain),
    ORVANE_TOOL_CHECKED("color-gain-red", "sensor colour gain (range: `info`)", Orvane_GetColorGainRed, Orvane_SetColorGainRed),
    ORVANE_TOOL_CHECKED("color-gain-green1", "sensor colour gain", Orvane_GetColorGainGreen1, Orvane_SetColorGainGreen1),
    ORVANE_TOOL_CHECKED("color-gain-green2", "sensor colour gain", Orvane_GetColorGainGreen2, Orvane_SetColorGainGreen2),
    ORVANE_TOOL_CHECKED("color-gain-blue", "sensor colour gain", Orvane_GetColorGainBlue, Orvane_SetColorGainBlue),
    {"mirror-h", "horizontal mirror, 0 or 1", GetPlain<&Orvane_GetMirrorH>, SetInt<&Orvane_SetMirrorH>},
    {"mirror-v", "vertical mirror, 0 or 1", GetPlain<&Orvane_GetMirrorV>, SetInt<&Orvane_SetMirrorV>},
    {"color-mode", "* bits per pixel: 8, 16 (gray), 24, 32, 48, 64 (colour)", GetPlain<&Orvane_GetColorMode>,
     SetInt<&Orvane_SetColorMode>},
    {"size", "capture size WIDTHxHEIGHT of a stored size preset", GetSize, SetSize},
    {"sub-sample", "* 0 full resolution, 17 reduced", GetPlain<&Orvane_GetSubSample>, SetInt<&Orvane_SetSubSample>},
    {"wait-time", "* milliseconds slept before each frame wait", GetPlain<&Orvane_GetWaitTime>,
     SetInt<&Orvane_SetWaitTime>},
    ORVANE_TOOL_CHECKED("auto-iris", "automatic exposure: 0 off, 1 by time, 2 by gain", Orvane_GetAutoIris, Orvane_SetAutoIris),
    ORVANE_TOOL_CHECKED("brightness", "filter, -255..255", Orvane_GetBrightness, Orvane_SetBrightness),
    ORVANE_TOOL_CHECKED("contrast", "filter, -127..127", Orvane_GetContrast, Orvane_SetContrast),
    ORVANE_TOOL_CHECKED("hue", "filter, -360..360 degrees", Orvane_GetHue, Orvane_SetHue),
    ORVANE_TOOL_CHECKED("saturation", "filter, -255..255", Orvane_GetSaturation, Orvane_SetSaturation),
    ORVANE_TOOL_CHECKED("sharpness", "filter, 0..30", Orvane_GetSharpness, Orvane_SetSharpness),
    ORVANE_TOOL_CHECKED("gamma", "filter, 0..200, 100 = linear", Orvane_GetGamma, Orvane_SetGamma),
    ORVANE_TOOL_CHECKED("bayer-gain-red", "white balance, 0..400 percent", Orvane_GetBayerGainRed, Orvane_SetBayerGainRed),
    ORVANE_TOOL_CHECKED("bayer-gain-green", "white balance, 0..400 percent", Orvane_GetBayerGainGreen, Orvane_SetBayerGainGreen),
    ORVANE_TOOL_CHECKED("bayer-gain-blue", "white balance, 0..400 percent", Orvane_GetBayerGainBlue, Orvane_SetBayerGainBlue),
    ORVANE_TOOL_CHECKED("bayer-gain-auto", "* white balance on every frame, 0 or 1", Orvane_GetBayerGainAuto, Orvane_SetBayerGainAuto),
    ORVANE_TOOL_CHECKED("bayer-mode", "Bayer phase, 0..3", Orvane_GetBayerMode, Orvane_SetBayerMode),
    ORVANE_TOOL_CHECKED("gray-mode", "gray conversion, 0..2", Orvane_GetGrayMode, Orvane_SetGrayMode),
    ORVANE_TOOL_CHECKED("gray-gain-r", "gray gain, 0..255", Orvane_GetGrayGainR, Orvane_SetGrayGainR),
    ORVANE_TOOL_CHECKED("gray-gain-g1", "gray gain, 0..255", Orvane_GetGrayGainG1, Orvane_SetGrayGainG1),
    ORVANE_TOOL_CHECKED("gray-gain-g2", "gray gain, 0..255", Orvane_GetGrayGainG2, Orvane_SetGrayGainG2),
    ORVANE_TOOL_CHECKED("gray-gain-b", "gray gain, 0..255", Orvane_GetGrayGainB, Orvane_SetGrayGainB),
    ORVANE_TOOL_CHECKED("gray-offset-r", "gray offset, -255..255", Orvane_GetGrayOffsetR, Orvane_SetGrayOffsetR),
    ORVANE_TOOL_CHECKED("gray-offset-g1", "gray offset, -255..255", Orvane_GetGrayOffsetG1, Orvane_SetGrayOffsetG1),
    ORVANE_TOOL_CHECKED("gray-offset-g2", "gray offset, -255..255", Orvane_GetGrayOffsetG2, Orvane_SetGrayOffsetG2),
    ORVANE_TOOL_CHECKED("gray-offset-b", "gray offset, -255..255", Orvane_GetGrayOffsetB, Orvane_SetGrayOffsetB),
    ORVANE_TOOL_CHECKED("dot-filter", "* defect (dot) correction, 0 or 1", Orvane_GetDotFilter, Orvane_SetDotFilter),
    ORVANE_TOOL_CHECKED("mask-filter", "* shading (mask) correction, 0 or 1", Orvane_GetMaskFilter, Orvane_SetMaskFilter),
};

#undef ORVANE_TOOL_CHECKED

const Setting* FindSetting(const std::string& name) {
  for (const Setting& setting : kSettings) {
    if (name == setting.name) return &setting;
  }
  throw UsageError("unknown setting '" + name + "' (see `orvane-tool get --help`)");
}

}  // namespace

std::string SettingsHelp() {
  std::string text =
      "Settings marked * hold for one run of the tool only (the SDK keeps the others in its settings\n"
      "store); snap, record and stream take --mode BITS for the colour mode.\n\nsettings:\n";
  char line[160];
  for (const Setting& setting : kSettings) {
    std::snprintf(line, sizeof line, "  %-18s %s\n", setting.name, setting.help);
    text += line;
  }
  return text;
}

int RunGet(Session& session, const Arguments& args) {
  std::string value;
  if (!args.operands.empty()) {
    const Setting* setting = FindSetting(args.operands[0]);
    if (!setting->get(session.handle(), &value)) return session.Fail(std::string("get ") + setting->name);
    std::printf("%s\n", value.c_str());
    return kExitOk;
  }
  int result = kExitOk;
  for (const Setting& setting : kSettings) {
    if (setting.get(session.handle(), &value)) {
      std::printf("%s=%s\n", setting.name, value.c_str());
    } else {
      result = session.Fail(std::string("get ") + setting.name);
    }
  }
  return result;
}

int RunSet(Session& session, const Arguments& args) {
  const Setting* setting = FindSetting(args.operands[0]);
  if (setting->set(session.handle(), args.operands[1]) != 1) {
    return session.Fail(std::string("set ") + setting->name + " " + args.operands[1]);
  }
  return kExitOk;
}

}  // namespace orvane_tool
