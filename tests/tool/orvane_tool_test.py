#!/usr/bin/env python3
"""orvane-tool against the virtual camera: every command, exit status 0 / 1 / 2 and error texts.

orvane_tool_test.py --tool PATH [--emulator WINE_RUN] --work DIR [unittest arguments, e.g. Settings]

Each test runs the real tool as its own process with ORVANE_SIM_CAMERAS=1 and a settings store of
its own (XDG_CONFIG_HOME), in a fresh working folder.
"""
import argparse
import os
import shutil
import subprocess
import sys
import unittest

TOOL = None
EMULATOR = []
WORK = None


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(WORK, self.id().split(".", 1)[1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.env = dict(os.environ, ORVANE_SIM_CAMERAS="1", XDG_CONFIG_HOME=os.path.join(self.work, "config"))
        self.env.pop("ORVANE_LOG", None)

    def tool(self, *args, env=None):
        result = subprocess.run(EMULATOR + [TOOL] + list(args), cwd=self.work, env=env or self.env,
                                capture_output=True, text=True, timeout=300)
        return result.returncode, result.stdout, result.stderr

    def expect(self, status, *args, stdout=None, stderr=None, env=None):
        code, out, err = self.tool(*args, env=env)
        shown = "orvane-tool %s\nstdout: %s\nstderr: %s" % (" ".join(args), out, err)
        self.assertEqual(code, status, shown)
        if stdout is not None:
            self.assertIn(stdout, out, shown)
        if stderr is not None:
            self.assertIn(stderr, err, shown)
        return out, err

    def path(self, name):
        return os.path.join(self.work, name)


class Usage(ToolTest):
    COMMANDS = ["list", "info", "get", "set", "snap", "record", "stream", "reg"]

    def test_help_names_every_command_and_each_command_has_its_own(self):
        out, _ = self.expect(0, "--help")
        for command in self.COMMANDS:
            self.assertIn("  " + command + " ", out)
            help_out, _ = self.expect(0, command, "--help", stdout="usage: orvane-tool [--camera N] " + command)
        settings_help, _ = self.expect(0, "set", "--help")
        for name in ["exposure-us", "global-gain", "mirror-h", "color-mode", "size", "sub-sample", "gamma",
                     "dot-filter", "mask-filter"]:
            self.assertIn("  " + name + " ", settings_help)

    def test_usage_errors_exit_2_with_the_reason(self):
        cases = [
            ([], "no command given"),
            (["frobnicate"], "unknown command 'frobnicate'"),
            (["--verbose", "list"], "unknown option --verbose"),
            (["--camera"], "--camera needs a value"),
            (["--camera", "x", "list"], "--camera is not an integer"),
            (["--camera", "40", "list"], "--camera takes 0..31"),
            (["get", "gamma", "extra"], "get takes [NAME]"),
            (["set", "gamma"], "set takes NAME VALUE"),
            (["set", "gamma", "12abc"], "VALUE is not an integer: '12abc'"),
            (["set", "size", "640"], "size is WIDTHxHEIGHT"),
            (["set", "no-such-setting", "1"], "unknown setting 'no-such-setting'"),
            (["get", "no-such-setting"], "unknown setting 'no-such-setting'"),
            (["snap", "frame.gif"], "cannot tell the format of 'frame.gif'"),
            (["record", "clip.avi", "0"], "SECONDS must be a number above 0"),
            (["stream", "soon"], "SECONDS must be a number above 0"),
            (["reg", "read", "eeprom", "1"], "the register is fpga or sensor"),
            (["reg", "poke", "fpga", "1"], "reg read fpga|sensor ADDRESS, or reg write"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.expect(2, *args, stderr=message)


class Settings(ToolTest):
    def test_list_and_info_describe_the_camera(self):
        out, _ = self.expect(0, "list")
        fields = out.split()
        self.assertEqual(fields[0], "0", out)
        self.assertTrue(fields[1].startswith("OrvaneKD7-USB3-R5"), out)
        self.assertNotIn("unreadable", out)
        out, _ = self.expect(0, "info", stdout="sensor size       4000 x 3000")
        self.assertIn("library version   34604321", out)
        self.assertIn("exposure          ", out)

    def test_get_lists_every_setting(self):
        out, _ = self.expect(0, "get")
        names = [line.split("=", 1)[0] for line in out.splitlines()]
        _, help_text = None, self.expect(0, "get", "--help")[0]
        documented = [line.split()[0] for line in help_text.split("settings:\n", 1)[1].splitlines()]
        self.assertEqual(names, documented)

    def test_set_values_are_read_back_by_a_later_run(self):
        # Each run is a process of its own: the SDK keeps the settings in its store at release.
        cases = [("exposure-us", "20000"), ("global-gain", "300"), ("gamma", "120"), ("brightness", "-40"),
                 ("mirror-v", "1"), ("mirror-h", "1"), ("auto-iris", "1"), ("bayer-gain-red", "150"),
                 ("gray-mode", "1"), ("gray-offset-b", "-20"), ("hue", "30")]
        for name, value in cases:
            with self.subTest(name=name):
                self.expect(0, "set", name, value)
                out, _ = self.expect(0, "get", name)
                self.assertEqual(out.strip(), value)

    def test_settings_of_one_run_are_accepted_and_documented(self):
        help_text = self.expect(0, "set", "--help")[0]
        for name, value in [("color-mode", "8"), ("sub-sample", "17"), ("dot-filter", "1"), ("mask-filter", "1"),
                            ("bayer-gain-auto", "1"), ("wait-time", "20")]:
            with self.subTest(name=name):
                self.expect(0, "set", name, value)
                self.assertRegex(help_text, r"\n  %s +\* " % name)

    def test_size_takes_a_stored_preset(self):
        out, _ = self.expect(0, "get", "size")
        self.assertEqual(out.strip(), "4000x3000")
        self.expect(1, "set", "size", "17x3", stderr="set size 17x3 failed: ORVANE_ERR_WINDOW (4)")


class Capture(ToolTest):
    MAGIC = {"bmp": b"BM", "png": b"\x89PNG", "tif": b"II*\0", "jpg": b"\xff\xd8\xff"}

    def test_snap_writes_the_format_of_the_extension(self):
        for (ext, magic), mode in zip(self.MAGIC.items(), ["8", "24", "8", "24"]):
            with self.subTest(ext=ext, mode=mode):
                name = "frame-%s.%s" % (mode, ext)
                self.expect(0, "snap", name, "--mode", mode, stdout="%s bits per pixel" % mode)
                with open(self.path(name), "rb") as f:
                    self.assertEqual(f.read(len(magic)), magic)
        self.expect(0, "snap", "frame.raw", "--mode", "16")
        self.assertEqual(os.path.getsize(self.path("frame.raw")), 4000 * 3000 * 2)

    def test_record_writes_a_finished_avi_with_progress(self):
        out, err = self.expect(0, "record", "clip.avi", "1", stdout="clip.avi: ", stderr="recording clip.avi: ")
        self.assertIn("frames at", out)
        with open(self.path("clip.avi"), "rb") as f:
            head = f.read(12)
        self.assertEqual((head[:4], head[8:12]), (b"RIFF", b"AVI "))

    def test_stream_counts_frames(self):
        out, _ = self.expect(0, "stream", "2", "--mode", "24", stdout="frames delivered, 0 failed")
        self.assertGreater(int(out.split()[0]), 0, out)


class Registers(ToolTest):
    def test_fpga_and_sensor_registers_are_read_and_written(self):
        for target in ["fpga", "sensor"]:
            with self.subTest(target=target):
                out, _ = self.expect(0, "reg", "read", target, "0x10")
                self.assertRegex(out, r"^0x[0-9a-f]{4} \(-?\d+\)\n$")
                value = out.split()[0]
                self.expect(0, "reg", "write", target, "0x10", value)


class Failures(ToolTest):
    def test_out_of_range_values_name_the_sdk_error(self):
        cases = [("exposure-us", "999999999"), ("brightness", "300"), ("gamma", "201"), ("sharpness", "31"),
                 ("color-mode", "12"), ("auto-iris", "7")]
        for name, value in cases:
            with self.subTest(name=name):
                self.expect(1, "set", name, value, stderr="set %s %s failed: ORVANE_ERR_ARGUMENT (9)" % (name, value))

    def test_a_missing_camera_fails_every_camera_command(self):
        for args in [["info"], ["get", "gamma"], ["set", "gamma", "100"], ["snap", "x.bmp"], ["stream", "1"],
                     ["reg", "read", "fpga", "1"]]:
            with self.subTest(args=args):
                self.expect(1, "--camera", "3", *args,
                            stderr="camera 3 not found (1 connected): ORVANE_ERR_NO_CAMERA (2)")
        # No virtual camera and no hardware: nothing connected, `list` still succeeds.
        env = dict(self.env)
        env.pop("ORVANE_SIM_CAMERAS")
        self.expect(0, "list", env=env, stdout="no camera connected")
        self.expect(1, "info", env=env, stderr="camera 0 not found (0 connected): ORVANE_ERR_NO_CAMERA (2)")


class Logging(ToolTest):
    def log_of_a_refused_setting(self, name, levels):
        """The log that ORVANE_LOG=<levels><file> writes for a run whose setting is refused."""
        log = self.path(name)
        self.expect(1, "set", "brightness", "300", env=dict(self.env, ORVANE_LOG=levels + log))
        with open(log) as f:
            return f.read()

    def test_debug_log_holds_the_open_sequence_and_recorded_errors_with_their_export(self):
        text = self.log_of_a_refused_setting("orvane.log", "debug:")
        for line in ["orvane info device", "open camera 0", "open: controller info read", "open camera 0: ready",
                     "loading the settings of camera 0", "error 9 recorded by Orvane_SetBrightness",
                     "saving the settings of camera 0"]:
            self.assertIn(line, text)

    def test_per_category_levels_leave_the_others_quiet(self):
        text = self.log_of_a_refused_setting("device-only.log", "off,device:debug:")
        self.assertIn("orvane debug device", text)
        self.assertIn("open: controller info read", text)
        for quiet in [" usb ", " api ", " settings "]:
            self.assertNotIn(quiet, text)


class Smoke(ToolTest):
    def test_commands_and_errors_under_wine(self):
        self.expect(0, "list", stdout="OrvaneKD7-USB3-R5")
        self.expect(0, "info", stdout="sensor size       4000 x 3000")
        self.expect(0, "set", "gamma", "120")
        out, _ = self.expect(0, "get", "gamma")
        self.assertEqual(out.strip(), "120")
        self.expect(1, "set", "brightness", "300", stderr="ORVANE_ERR_ARGUMENT (9)")
        self.expect(2, "set", "no-such-setting", "1", stderr="unknown setting")
        self.expect(1, "--camera", "3", "info", stderr="ORVANE_ERR_NO_CAMERA (2)")
        self.expect(0, "snap", "frame.png", "--mode", "24")
        self.expect(0, "stream", "1", stdout="frames delivered")


def main():
    global TOOL, EMULATOR, WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--emulator")
    parser.add_argument("--work", required=True)
    args, rest = parser.parse_known_args()
    TOOL = os.path.abspath(args.tool)
    EMULATOR = [args.emulator] if args.emulator else []
    WORK = os.path.abspath(args.work)
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
