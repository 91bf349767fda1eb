# Shared by the tools: build tree, Wine prefix and a private X display. Source it; do not run it.

tavro_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tavro_build=${TAVRO_BUILD_DIR:-$tavro_root/build}

# Configures and builds the cross tree quietly; compiler and CMake output shows only on failure,
# and warnings (the compiler's "warning:", CMake's "CMake Warning") always. The configure runs every
# time: it takes a few seconds on a configured tree, and a tree whose last configure failed or was
# interrupted is mended by the next run instead of being skipped for good, and a tool installed since
# (git, say) is found.
tavro_build_all() {
  local log="$tavro_build/build.log" config_log="$tavro_build/configure.log"
  mkdir -p "$tavro_build"
  cmake -S "$tavro_root" -B "$tavro_build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$tavro_root/cmake/i686-w64-mingw32.cmake" >"$config_log" 2>&1 \
    || { cat "$config_log" >&2; return 1; }
  cmake --build "$tavro_build" -j "$(nproc)" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
  tavro_show_warnings "$config_log" "$log"
}

# Prints the warnings in the given logs, with a little context, to standard error.
tavro_show_warnings() {
  grep -h -E -B2 -A4 'warning:|CMake Warning' "$@" >&2 || true
}

# A 32-bit Wine prefix of the build tree's own, with code page 932 (LC_ALL, set once the set-up has
# made the locale) and no debugger on crashes.
export WINEPREFIX="$tavro_build/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all

tavro_wine_prefix() {
  if [ ! -f "$WINEPREFIX/.tavro-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.tavro-ready"
  fi
  # The automatic debugger that Wine starts on a crash often ends the crashed program with exit
  # code 0 (6 of 18 runs), so a crashing test could pass. With no debugger the program ends with
  # the exception's code (0xC0000005 shows as 5) and its test fails.
  if [ ! -f "$WINEPREFIX/.tavro-no-debugger" ]; then
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
      >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.tavro-no-debugger"
  fi
  # Japanese fonts for tavro's controls and for the system's menus, status bars and message boxes
  # (tools/wine-fonts.reg), applied again whenever that file changes. regedit reads a
  # "Version 5.00" file as UTF-16, whatever the Linux locale.
  local fonts="$tavro_root/tools/wine-fonts.reg"
  if ! cmp -s "$fonts" "$WINEPREFIX/.tavro-fonts"; then
    local reg="$WINEPREFIX/tavro-fonts.reg"
    { printf '\xff\xfe'; sed 's/$/\r/' "$fonts" | iconv -f UTF-8 -t UTF-16LE; } >"$reg"
    wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
    wineserver -w
    cp "$fonts" "$WINEPREFIX/.tavro-fonts"
  fi
}

# Starts an Xvfb of our own when there is no display; tavro_stop_display stops only that one. Its
# screen holds the tests' virtual desktop (tests/app/desktop.reg): Wine 10 clips one to the screen.
tavro_xvfb_pid=
tavro_need_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  local fifo
  fifo=$(mktemp -u) && mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  tavro_xvfb_pid=$!
  local num
  read -r num <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$num"
}

tavro_stop_display() {
  if [ -n "$tavro_xvfb_pid" ]; then
    kill "$tavro_xvfb_pid" 2>/dev/null || true
    wait "$tavro_xvfb_pid" 2>/dev/null || true
    tavro_xvfb_pid=
  fi
}

# The emulator that runs 32-bit programs here, when one is registered for them (tools/setup.sh does
# that where the kernel cannot run them); nothing when they run natively. binfmt_misc entries come
# before the kernel's own loader, so an enabled one is what runs them.
tavro_emulator() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null || continue
    grep -qE '^magic 7f454c460101.*02000300$' "$entry" || continue
    sed -n 's/^interpreter //p' "$entry"
    return 0
  done
}

# Installs what is missing, builds, and makes the Wine prefix: what every tool needs first.
tavro_prepare() {
  "$tavro_root/tools/setup.sh"
  export LC_ALL=ja_JP.UTF-8
  tavro_build_all
  tavro_wine_prefix
}

# A Wine session for a tool: a display (our own when none is given), a wineserver that stays
# for the whole session, and Wine's own services, which would otherwise start with the first
# program and keep its output pipes (ctest's, for one) open after it ends.
# tavro_end_session stops what this started.
tavro_begin_session() {
  tavro_need_display
  wineserver -p 2>/dev/null || true
  wine wineboot >/dev/null 2>&1 || true
}

tavro_end_session() {
  wineserver -k 2>/dev/null || true
  tavro_stop_display
}
