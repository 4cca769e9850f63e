# Wine helpers for running the Windows build's programs and tests; source this file from bash.
#
#   wine_prefix_create              make a fresh temporary 64-bit prefix and export WINEPREFIX
#   wine_session CMD [ARGS...]      run CMD on a virtual X display with one wine server for the
#                                   whole run; returns CMD's exit code
#   wine_prefix_remove              stop the prefix's wine server and delete the prefix
#   wine_run_in_temp_prefix CMD...  all three, the prefix removed even when CMD fails
#
# Why it is done this way:
# - One wine server for the whole session (`wineserver -p`, output to /dev/null): otherwise every
#   program starts its own server, which keeps CTest's output pipe open and each test waits about
#   3 s for it to go away.
# - The server is started inside the Xvfb session: a server started without DISPLAY never gets one.
# - `wineserver -k; wineserver -w` at the end flushes the registry to disk and lets every wine
#   client leave before Xvfb is stopped (Xvfb dies badly under live clients).
# - Without a window manager every hide/destroy of a window waits 2 s for a reply: the prefix turns
#   off X11 window management ("Managed"="N").
# - A program that crashes would wait on wine's crash dialog until CTest's timeout: the prefix turns
#   the dialog off, so the debugger prints the crash and its backtrace to stderr and ends the program.
# - Wine's desktop process quits a second after its last other user has gone, and the next program
#   that needs the desktop starts it again with that program's standard error: a test that happens
#   to do so keeps CTest's output pipe open and CTest waits until the test's timeout. The session
#   starts a small program that holds the desktop from the start to the end (wine_desktop_keeper.c,
#   compiled into each prefix).
# - Debian's wine does not find its own fonts: they are linked into C:\windows\Fonts, and the
#   Japanese UI font is mapped to VL PGothic.
# - The ja_JP.UTF-8 locale is generated so that programs started with LANG=ja_JP.UTF-8 see the
#   Japanese system language (0x0411); the prefix itself serves both languages.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Seconds a wine server may take to exit after being told to; past that it is killed.
: "${ORVANE_WINE_STOP_TIMEOUT:=60}"
# Seconds wineboot may take to create a prefix (about 10 s on an idle machine).
: "${ORVANE_WINE_BOOT_TIMEOUT:=600}"

_wine_prefix_marker=.orvane-temporary-prefix
_wine_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

_wine_log() { echo "wine.sh: $*" >&2; }

# Stops the wine server of $WINEPREFIX, if any, and waits until it and its clients are gone.
wine_server_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  if ! timeout "${ORVANE_WINE_STOP_TIMEOUT}" wineserver -w >/dev/null 2>&1; then
    _wine_log "wine server of ${WINEPREFIX} did not stop in ${ORVANE_WINE_STOP_TIMEOUT} s; killing it"
    wineserver -k9 >/dev/null 2>&1 || true
    timeout 10 wineserver -w >/dev/null 2>&1 || true
  fi
}

_wine_ensure_japanese_locale() {
  if locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
    return 0
  fi
  if [ "$(id -u)" != 0 ]; then
    _wine_log "ja_JP.UTF-8 locale missing and not root: Japanese-language runs will see English"
    return 0
  fi
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 >/dev/null 2>&1 ||
    _wine_log "localedef ja_JP.UTF-8 failed: Japanese-language runs will see English"
}

# wine_prefix_create [PARENT_DIR]
# Creates a fresh prefix in a new temporary directory (under PARENT_DIR, default $TMPDIR or /tmp),
# exports WINEPREFIX, and leaves no wine server running. Returns non-zero (with wineboot's output
# on stderr) on failure, after removing the half-made prefix.
wine_prefix_create() {
  local parent=${1:-${TMPDIR:-/tmp}}
  local prefix log rc=0
  _wine_ensure_japanese_locale
  prefix=$(mktemp -d "${parent}/orvane-wine.XXXXXX") || return 1
  : >"${prefix}/${_wine_prefix_marker}"
  export WINEPREFIX=${prefix}
  log=${prefix}/.create.log

  # No display while the prefix is made: nothing here needs one, and no dialog can block.
  env -u DISPLAY timeout "${ORVANE_WINE_BOOT_TIMEOUT}" wineboot -i >"${log}" 2>&1 || rc=$?
  if [ "${rc}" = 0 ]; then
    cat >"${prefix}/.settings.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="VL PGothic"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
EOF
    local settings_dos="Z:${prefix//\//\\}\\.settings.reg"
    env -u DISPLAY timeout "${ORVANE_WINE_BOOT_TIMEOUT}" wine reg import "${settings_dos}" \
      >>"${log}" 2>&1 || rc=$?
  fi
  wine_server_stop
  if [ "${rc}" = 0 ] && ! grep -q '"Managed"="N"' "${prefix}/user.reg" 2>/dev/null; then
    echo "registry settings were not written to user.reg" >>"${log}"
    rc=1
  fi
  if [ "${rc}" != 0 ]; then
    _wine_log "creating the wine prefix failed (exit ${rc}):"
    tail -n 40 "${log}" >&2
    wine_prefix_remove
    return 1
  fi

  _wine_build_desktop_keeper "${prefix}"
  local fonts=${prefix}/drive_c/windows/Fonts font
  mkdir -p "${fonts}"
  for font in /usr/share/wine/fonts/*.ttf; do
    [ -e "${font}" ] || continue
    ln -sf "${font}" "${fonts}/$(basename "${font}")"
  done
  return 0
}

# Compiles the desktop keeper into the prefix; without it a session still runs, only not guarded.
_wine_build_desktop_keeper() {
  local prefix=$1
  if ! command -v x86_64-w64-mingw32-gcc >/dev/null 2>&1; then
    _wine_log "x86_64-w64-mingw32-gcc not found: the session's desktop is not held (see wine_desktop_keeper.c)"
    return 0
  fi
  x86_64-w64-mingw32-gcc -O1 -mwindows -o "${prefix}/desktop-keeper.exe" "${_wine_lib_dir}/wine_desktop_keeper.c" ||
    _wine_log "compiling the desktop keeper failed: the session's desktop is not held"
}

# wine_session CMD [ARGS...]
# Runs CMD inside one Xvfb session (a 2560 x 2048 screen: the preview window of a 2000 x 1500
# image fits) with one persistent wine server for $WINEPREFIX, then stops the
# server (flushing the registry) before Xvfb ends. Returns CMD's exit code.
wine_session() {
  if [ -z "${WINEPREFIX:-}" ] || [ ! -f "${WINEPREFIX}/system.reg" ]; then
    _wine_log "wine_session needs WINEPREFIX set to a prefix made by wine_prefix_create"
    return 125
  fi
  if [ $# -eq 0 ]; then
    _wine_log "usage: wine_session CMD [ARGS...]"
    return 125
  fi
  # A server left running without a display would be reused and could not open windows.
  wine_server_stop
  local inner='
    stop_timeout=$1; display_file=$2; shift 2
    echo "${DISPLAY#:}" >"$display_file"
    wineserver -p </dev/null >/dev/null 2>&1 || { echo "wine.sh: wineserver -p failed" >&2; exit 125; }
    # The first wine program also starts the prefix services (services.exe, plugplay.exe,
    # rpcss.exe, ...), which live on and keep the standard handles they inherited: start them
    # here with none, or the first test would hold its caller'"'"'s output pipe open for good.
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
    # Hold the desktop until the server ends, so that no test program starts it (see above).
    keeper=${WINEPREFIX}/desktop-keeper.exe held=${WINEPREFIX}/.desktop-held
    if [ -f "$keeper" ]; then
      rm -f "$held"
      wine "$keeper" "Z:${held//\//\\}" </dev/null >/dev/null 2>&1 &
      keeper_pid=$! tries=600
      while [ ! -e "$held" ] && [ "$tries" -gt 0 ] && kill -0 "$keeper_pid" 2>/dev/null; do
        sleep 0.1
        tries=$((tries - 1))
      done
      [ -e "$held" ] || echo "wine.sh: the desktop keeper did not hold the desktop (ended, or not within 60 s)" >&2
    fi
    rc=0
    "$@" || rc=$?
    wineserver -k >/dev/null 2>&1 || true
    if ! timeout "$stop_timeout" wineserver -w >/dev/null 2>&1; then
      wineserver -k9 >/dev/null 2>&1 || true
      timeout 10 wineserver -w >/dev/null 2>&1 || true
    fi
    exit "$rc"'
  local rc=0 display_file
  display_file=$(mktemp "${TMPDIR:-/tmp}/orvane-wine-display.XXXXXX") || return 125
  xvfb-run -a -s "-screen 0 2560x2048x24" \
    bash -c "${inner}" wine-session "${ORVANE_WINE_STOP_TIMEOUT}" "${display_file}" "$@" || rc=$?
  _wine_wait_for_xvfb_exit "$(cat "${display_file}" 2>/dev/null)"
  rm -f "${display_file}"
  return "${rc}"
}

# xvfb-run signals Xvfb and returns at once; wait (10 s at most) until that server has removed its
# lock file, so that no Xvfb of this session outlives it. A lock taken over by a newer server of
# the same number (another pid) does not count.
_wine_wait_for_xvfb_exit() {
  local display=$1 lock pid tries=100
  [ -n "${display}" ] || return 0
  lock=/tmp/.X${display}-lock
  pid=$(tr -d ' \n' 2>/dev/null <"${lock}") || return 0
  [ -n "${pid}" ] || return 0
  while [ "${tries}" -gt 0 ] && [ "$(tr -d ' \n' 2>/dev/null <"${lock}")" = "${pid}" ]; do
    sleep 0.1
    tries=$((tries - 1))
  done
  if [ "${tries}" = 0 ]; then
    _wine_log "Xvfb :${display} (pid ${pid}) is still running after its session ended"
  fi
}

# wine_prefix_remove
# Stops the server of $WINEPREFIX and deletes the prefix, only if wine_prefix_create made it.
wine_prefix_remove() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  if [ ! -f "${WINEPREFIX}/${_wine_prefix_marker}" ]; then
    _wine_log "not removing ${WINEPREFIX}: not a temporary prefix made by wine_prefix_create"
    return 1
  fi
  wine_server_stop
  rm -rf "${WINEPREFIX}"
  unset WINEPREFIX
}

# wine_run_in_temp_prefix CMD [ARGS...]
# A fresh prefix, CMD inside a wine session, the prefix removed afterwards. Returns CMD's exit code.
wine_run_in_temp_prefix() (
  # A subshell, so that the caller's WINEPREFIX and traps are untouched.
  trap 'wine_prefix_remove >/dev/null 2>&1 || true' EXIT
  trap 'exit 130' INT TERM
  wine_prefix_create || exit 1
  rc=0
  wine_session "$@" || rc=$?
  exit "${rc}"
)
