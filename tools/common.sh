# Shared by the tools: steps, sessions, build trees, Wine prefixes, displays. Source it; do not run it.

# An exported CDPATH makes cd print the folder it found (or find another one): never wanted here.
unset CDPATH
tavro_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tavro_build=${TAVRO_BUILD_DIR:-$tavro_root/build}
# The tool's name for its messages: "test" for tools/test.sh.
tavro_tool=$(basename "$0" .sh)

tavro_say() { echo "$tavro_tool: $*" >&2; }

# A long step runs in the background and is waited for: bash runs a trap only between commands, so
# Ctrl-C, kill or a closed terminal then stop the tool at once, and the step with it, instead of
# when the step ends. An apt step runs in a session of its own (setsid), out of the terminal's
# reach: dpkg stopped halfway leaves packages half configured and every later apt call failing, so
# apt is let finish what dpkg has begun.
tavro_step_pid=
tavro_step() {
  "$@" &
  tavro_step_pid=$!
  local status=0
  wait "$tavro_step_pid" || status=$?
  tavro_step_pid=
  return "$status"
}
tavro_on_signal() {
  trap '' INT TERM HUP QUIT
  if [ -n "$tavro_step_pid" ]; then
    if pgrep -x -s "$tavro_step_pid" dpkg >/dev/null; then
      tavro_say "stopping once dpkg has finished its work"
    else
      kill -TERM "$tavro_step_pid" 2>/dev/null || true
    fi
    wait "$tavro_step_pid" 2>/dev/null || true
  fi
  exit "$1"
}
trap 'tavro_on_signal 130' INT
trap 'tavro_on_signal 143' TERM
trap 'tavro_on_signal 129' HUP
trap 'tavro_on_signal 131' QUIT

# Run with sudo in a checkout that another user owns, a tool installs as root and then does the
# rest as that owner, so that whatever it writes there stays theirs and their next run works.
# Arguments: the tool's own arguments, to run it again with.
tavro_become_owner() {
  [ "$(id -u)" -eq 0 ] || return 0
  local uid gid home entry
  uid=$(stat -c %u "$tavro_root")
  [ "$uid" -ne 0 ] || return 0
  gid=$(stat -c %g "$tavro_root")
  entry=$(getent passwd "$uid" || true)
  home=$(cut -d: -f6 <<<"$entry")
  [ -n "$home" ] && [ -d "$home" ] || home=$tavro_root
  local groups=--clear-groups name keep=()
  [ -z "$entry" ] || groups=--init-groups
  for name in PATH TERM LANG LANGUAGE LC_ALL DISPLAY XAUTHORITY TMPDIR WINEDEBUG TAVRO_BUILD_DIR SOURCE_DATE_EPOCH CI; do
    [ -z "${!name:-}" ] || keep+=("$name=${!name}")
  done
  tavro_say "the rest runs as the checkout's owner (uid $uid), whose files the build tree holds"
  exec setpriv --reuid="$uid" --regid="$gid" "$groups" -- \
    env -i "${keep[@]}" HOME="$home" TAVRO_SET_UP=1 bash "$0" "$@"
}

# A build tree with files of another user (one made with sudo by an older version of the tools,
# or someone else's checkout) cannot be rebuilt; say so, with ways that delete nothing of theirs,
# instead of failing somewhere inside make.
tavro_check_build_owner() {
  [ -d "$tavro_build" ] || return 0
  local foreign
  foreign=$(find "$tavro_build" ! -user "$(id -u)" -print -quit 2>/dev/null)
  [ -z "$foreign" ] && return 0
  tavro_say "$foreign belongs to $(stat -c %U "$foreign"); build in a clone of your own or in" \
    "TAVRO_BUILD_DIR=FOLDER, or, if you made it with sudo, remove it (sudo rm -rf $(printf %q "$tavro_build"))"
  exit 1
}

# --- Sessions ----------------------------------------------------------------------------------
# Each kind of tool (test, run, bench) builds in a tree of its own and has a Wine prefix of its own,
# so its own wineserver: a run beside a test run neither sees the tests' windows nor changes the
# programs the suite is running. The tests' tree is the build tree itself. tools/session.py owns
# each session: one of a kind at a time, and all it starts stopped when it ends, however it ends.
#
# tavro_session KIND ARGS...: outside a session, installs what is missing, becomes the checkout's
# owner where run with sudo, and hands the tool (with ARGS) to tools/session.py, which runs it again
# inside a session; returns only there.
tavro_session() {
  local kind=$1
  shift
  tavro_tree=$tavro_build/$kind/tree WINEPREFIX=$tavro_build/wineprefix-$kind
  [ "$kind" != test ] || tavro_tree=$tavro_build WINEPREFIX=$tavro_build/wineprefix
  export WINEPREFIX
  [ "${TAVRO_SESSION:-}" != "$kind" ] || return 0
  if [ -z "${TAVRO_SET_UP:-}" ]; then
    tavro_step bash "$tavro_root/tools/setup.sh"
    tavro_become_owner "$@"
  fi
  tavro_check_build_owner
  # Debian's own Python, which the set-up installs.
  exec /usr/bin/python3 "$tavro_root/tools/session.py" "$kind" "$tavro_build" "$WINEPREFIX" -- \
    bash "$0" "$@"
}

# Configures and builds the session's tree quietly (the targets given, else all); compiler and CMake
# output shows only on failure, and warnings (the compiler's "warning:", CMake's "CMake Warning")
# always. The configure runs every time: it takes a few seconds on a configured tree, and a tree
# whose last configure failed or was interrupted is mended by the next run instead of being skipped
# for good, and a tool installed since (git, say) is found.
tavro_build_tree() {
  local log="$tavro_tree/build.log" config_log="$tavro_tree/configure.log" targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  mkdir -p "$tavro_tree"
  cmake -S "$tavro_root" -B "$tavro_tree" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$tavro_root/cmake/i686-w64-mingw32.cmake" >"$config_log" 2>&1 ||
    { cat "$config_log" >&2; return 1; }
  cmake --build "$tavro_tree" -j "$(nproc)" "${targets[@]}" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
  tavro_show_warnings "$config_log" "$log"
}

# Prints the warnings in the given logs, with a little context, to standard error.
tavro_show_warnings() {
  grep -h -E -B2 -A4 'warning:|CMake Warning' "$@" >&2 || true
}

# The display for the session's Wine: "own", an Xvfb of the session's own (always for tests, so
# nothing reaches the user's display or clipboard), or "user", the user's where there is one. Then
# the prefix, a wineserver for the whole session, and Wine's own services, which would otherwise
# start with the first program and keep its output pipes (ctest's, for one) open after it ends.
# The display comes first: a Wine program started without one, winepath too, would leave the
# prefix's desktop without one, and no window could be made.
tavro_start_wine() {
  if [ "$1" = own ] || [ -z "${DISPLAY:-}" ]; then
    tavro_start_xvfb
  elif ! timeout 10 xdpyinfo >/dev/null 2>&1; then
    tavro_say "the display $DISPLAY does not answer"
    return 1
  fi
  tavro_wine_prefix
  tavro_wineserver -p 2>/dev/null || true
  tavro_wine wineboot >/dev/null 2>&1 || true
}

# An Xvfb of the session's own, stopped with the session. Its screen holds the tests' virtual
# desktop (tests/app/desktop.reg): Wine 10 clips one to the screen.
tavro_start_xvfb() {
  local fifo="$TMPDIR/displayfd" log="$TMPDIR/xvfb.log" num=
  mkfifo -m 600 "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$log" 2>&1 &
  read -r -t 30 num <"$fifo" || true
  [ -n "$num" ] || { tavro_say "Xvfb did not start a display:"; sed 's/^/  /' "$log" >&2; return 1; }
  export DISPLAY=":$num"
  # Only ours: no authority file of the user's display.
  unset XAUTHORITY
}

# --- Wine --------------------------------------------------------------------------------------
# Wine gets code page 932 from LC_ALL=ja_JP.UTF-8; the tools' own messages keep the user's language.
# Debian 13's Wine aborts ("free(): invalid pointer") whenever TMPDIR is set, to any folder, so Wine
# always starts without it, and Debian's Wine keeps its server's folder in /tmp.
export WINEARCH=win32
# Wine keeps quiet unless the developer asks for its debug channels.
export WINEDEBUG=${WINEDEBUG:--all}
tavro_wine() { env -u TMPDIR LC_ALL=ja_JP.UTF-8 wine "$@"; }
tavro_wineserver() { env -u TMPDIR wineserver "$@"; }
# A Linux path as Windows sees it.
tavro_winepath() { env -u TMPDIR LC_ALL=ja_JP.UTF-8 winepath -w "$1" 2>/dev/null; }

# Makes the 32-bit prefix $WINEPREFIX, or brings an existing one up to date. A new one is a copy
# of the tests' prefix where that is ready, its half a gigabyte of system files shared by hard
# links (Wine only reads them), else Wine makes it.
tavro_wine_prefix() {
  local tests_prefix="$tavro_build/wineprefix"
  if [ ! -f "$WINEPREFIX/.tavro-ready" ]; then
    rm -rf "$WINEPREFIX" "$WINEPREFIX.new"
    if [ "$WINEPREFIX" != "$tests_prefix" ] && [ -f "$tests_prefix/.tavro-ready" ]; then
      tavro_copy_prefix "$tests_prefix" "$WINEPREFIX.new" && mv "$WINEPREFIX.new" "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/.tavro-ready" ]; then
      rm -rf "$WINEPREFIX" "$WINEPREFIX.new"
      tavro_wine wineboot -i >/dev/null 2>&1
      tavro_wineserver -w
      touch "$WINEPREFIX/.tavro-ready"
    fi
  fi
  # The automatic debugger that Wine starts on a crash often ends the crashed program with exit
  # code 0 (6 of 18 runs), so a crashing test could pass. With no debugger the program ends with
  # the exception's code (0xC0000005 shows as 5) and its test fails.
  if [ ! -f "$WINEPREFIX/.tavro-no-debugger" ]; then
    tavro_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
      >/dev/null 2>&1
    tavro_wineserver -w
    touch "$WINEPREFIX/.tavro-no-debugger"
  fi
  # Japanese fonts for tavro's controls and for the system's menus, status bars and message boxes
  # (tools/wine-fonts.reg), applied again whenever that file changes. regedit reads a
  # "Version 5.00" file as UTF-16, whatever the Linux locale.
  local fonts="$tavro_root/tools/wine-fonts.reg"
  if ! cmp -s "$fonts" "$WINEPREFIX/.tavro-fonts"; then
    local reg="$WINEPREFIX/tavro-fonts.reg"
    { printf '\xff\xfe'; sed 's/$/\r/' "$fonts" | iconv -f UTF-8 -t UTF-16LE; } >"$reg"
    tavro_wine regedit /S "$(tavro_winepath "$reg")" >/dev/null 2>&1
    tavro_wineserver -w
    cp "$fonts" "$WINEPREFIX/.tavro-fonts"
  fi
}

# Copies prefix $1 to $2: C:\windows by hard links, the registry and the rest as files of their
# own. The name of the first prefix's server folder stays behind.
tavro_copy_prefix() {
  local from=$1 to=$2 item
  mkdir -p "$to/drive_c" || return 1
  for item in "$from"/* "$from"/.[!.]*; do
    case ${item##*/} in drive_c | wineserver) continue ;; esac
    cp -a "$item" "$to/" || return 1
  done
  for item in "$from"/drive_c/*; do
    if [ "${item##*/}" = windows ]; then cp -al "$item" "$to/drive_c/"; else cp -a "$item" "$to/drive_c/"; fi ||
      return 1
  done
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
