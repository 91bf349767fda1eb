# Shared by the tools: build tree, Wine prefixes and sessions, displays. Source it; do not run it.

# An exported CDPATH makes cd print the folder it found (or find another one): never wanted here.
unset CDPATH
tavro_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tavro_build=${TAVRO_BUILD_DIR:-$tavro_root/build}
# The tool's name for its messages: "test" for tools/test.sh.
tavro_tool=$(basename "$0" .sh)

tavro_say() { echo "$tavro_tool: $*" >&2; }

# Ctrl-C, kill and a closed terminal end the tool through its EXIT trap, with the usual status.
tavro_exit_on_signals() {
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

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
  for name in PATH TERM LANG LANGUAGE LC_ALL DISPLAY XAUTHORITY TMPDIR TAVRO_BUILD_DIR SOURCE_DATE_EPOCH CI; do
    [ -z "${!name:-}" ] || keep+=("$name=${!name}")
  done
  tavro_say "the rest runs as the checkout's owner (uid $uid), whose files the build tree holds"
  exec setpriv --reuid="$uid" --regid="$gid" "$groups" -- \
    env -i "${keep[@]}" HOME="$home" TAVRO_SET_UP=1 bash "$0" "$@"
}

# A build tree left with files of another user (a run with sudo by an older version of the tools)
# cannot be rebuilt; say so instead of failing somewhere inside make.
tavro_check_build_owner() {
  [ -d "$tavro_build" ] || return 0
  local foreign
  foreign=$(find "$tavro_build" ! -user "$(id -u)" -print -quit 2>/dev/null)
  [ -z "$foreign" ] && return 0
  tavro_say "$foreign belongs to another user; remove the build tree once (sudo rm -rf $(printf %q "$tavro_build")) and run again"
  exit 1
}

# Configures and builds the cross tree quietly; compiler and CMake output shows only on failure,
# and warnings (the compiler's "warning:", CMake's "CMake Warning") always. The configure runs every
# time: it takes a few seconds on a configured tree, and a tree whose last configure failed or was
# interrupted is mended by the next run instead of being skipped for good, and a tool installed since
# (git, say) is found. One build at a time in a tree: tools started together take turns.
tavro_build_all() {
  local log="$tavro_build/build.log" config_log="$tavro_build/configure.log" lock
  mkdir -p "$tavro_build"
  exec {lock}>"$tavro_build/build.lock"
  flock -n "$lock" || { tavro_say "waiting for another build in $tavro_build"; flock "$lock"; }
  local status=0
  cmake -S "$tavro_root" -B "$tavro_build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$tavro_root/cmake/i686-w64-mingw32.cmake" >"$config_log" 2>&1 || status=1
  if [ "$status" -ne 0 ]; then
    cat "$config_log" >&2
  elif ! cmake --build "$tavro_build" -j "$(nproc)" >"$log" 2>&1; then
    cat "$log" >&2
    status=1
  else
    tavro_show_warnings "$config_log" "$log"
  fi
  exec {lock}>&-
  return "$status"
}

# Prints the warnings in the given logs, with a little context, to standard error.
tavro_show_warnings() {
  grep -h -E -B2 -A4 'warning:|CMake Warning' "$@" >&2 || true
}

# Installs what is missing (as root, through sudo where the user has it), becomes the checkout's
# owner when run as root in someone else's checkout, and builds: what every tool needs first.
# Arguments: the tool's own arguments.
tavro_prepare() {
  if [ -z "${TAVRO_SET_UP:-}" ]; then
    "$tavro_root/tools/setup.sh"
    tavro_become_owner "$@"
  fi
  tavro_check_build_owner
  tavro_build_all
}

# --- Wine --------------------------------------------------------------------------------------
# Wine gets code page 932 from LC_ALL=ja_JP.UTF-8; the tools' own messages keep the user's language.
# Debian 13's Wine aborts ("free(): invalid pointer") whenever TMPDIR is set, to any folder, so Wine
# always starts without it, and Debian's Wine keeps its server's folder in /tmp.
export WINEARCH=win32
export WINEDEBUG=-all
tavro_wine() { env -u TMPDIR LC_ALL=ja_JP.UTF-8 wine "$@"; }
tavro_wineserver() { env -u TMPDIR wineserver "$@"; }
# A Linux path as Windows sees it.
tavro_winepath() { env -u TMPDIR LC_ALL=ja_JP.UTF-8 winepath -w "$1" 2>/dev/null; }

# Stops the prefix's wineserver, if any, and removes its folders, which the next start makes anew.
# Debian's Wine makes a /tmp/wine-XXXXXX for the server, names it in $WINEPREFIX/wineserver and
# leaves it behind; the server's folder inside is named after the prefix's device and inode.
tavro_stop_wineserver() {
  local dev ino server dir
  tavro_wineserver -k 2>/dev/null || true
  read -r dev ino < <(stat -c '%D %i' "$WINEPREFIX" 2>/dev/null) || return 0
  server=$(printf 'server-%s-%x' "$dev" "$ino")
  for dir in /tmp/wine-??????; do
    [ -d "$dir/$server" ] && [ -O "$dir" ] && [ "$(ls -A "$dir")" = "$server" ] || continue
    rm -rf "$dir"
  done
  rm -f "$WINEPREFIX/wineserver"
}

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

# --- Sessions ----------------------------------------------------------------------------------
# Each kind of tool (test, run, bench) has a Wine prefix of its own in the build tree, so its own
# wineserver: a run started beside a test run neither sees the tests' windows nor is stopped with
# them. The tests' prefix is the one the build's test commands name. One session of a kind at a
# time: a second waits for the first. A session also has its own temporary folder (TMPDIR for all
# it starts but Wine) and, for tests always, its own Xvfb, so that nothing reaches the user's
# display or clipboard. What a session killed outright left behind is stopped when the next one of
# its kind starts.
tavro_session_kind=
tavro_session_dir=
tavro_xvfb_pid=

# Takes the lock file $1 for as long as this shell lives, if no one holds it. A helper holds it and
# lets go when this shell ends, however it ends: a descriptor of the shell's own would be inherited
# by programs that outlive it (Wine's services, for one) and keep the next session waiting. tail
# writes to /dev/null: it ends as soon as the pipe it would write to is closed.
tavro_hold_lock() {
  local fd answer=
  exec {fd}< <(flock -n -E 75 "$1" sh -c 'echo held; exec tail --pid="$1" -s 0.5 -f /dev/null >/dev/null' sh "$$" \
    2>/dev/null || echo busy)
  read -r answer <&"$fd" || true
  exec {fd}<&-
  [ "$answer" = held ]
}

tavro_begin_session() {
  local kind=$1 display=$2 # display: "own" (always an Xvfb of ours) or "user" (the user's, if any)
  case $kind in
    test) export WINEPREFIX="$tavro_build/wineprefix" ;;
    *) export WINEPREFIX="$tavro_build/wineprefix-$kind" ;;
  esac
  if ! tavro_hold_lock "$tavro_build/session-$kind.lock"; then
    tavro_say "waiting for the other tools/$kind.sh in this checkout to end"
    until tavro_hold_lock "$tavro_build/session-$kind.lock"; do sleep 1; done
  fi
  # Only now is there a session to end: stopped while waiting, this one must not stop the other's.
  tavro_session_kind=$kind
  tavro_clear_leftovers "$kind"

  local tmp_parent=${TMPDIR:-/tmp}
  tavro_session_dir=$(mktemp -d "$tmp_parent/tavro-$kind.XXXXXX" 2>/dev/null) || {
    tavro_say "cannot make a temporary folder in $tmp_parent (set TMPDIR to a writable folder)"
    return 1
  }
  echo "$tavro_session_dir" >"$tavro_build/session-$kind.tmp"
  # Others may pass, not look: the package test builds in it as another user too.
  chmod 711 "$tavro_session_dir"
  export TMPDIR=$tavro_session_dir

  if [ "$display" = own ] || [ -z "${DISPLAY:-}" ]; then
    tavro_start_xvfb "$kind" || return 1
  elif ! timeout 10 xdpyinfo >/dev/null 2>&1; then
    tavro_say "the display $DISPLAY does not answer"
    return 1
  fi
  # The session (and its display) comes first: a Wine program started without a display, winepath
  # too, would leave the prefix's desktop without one, and no window could be made.
  tavro_wine_prefix
  # A wineserver for the whole session, and Wine's own services, which would otherwise start with
  # the first program and keep its output pipes (ctest's, for one) open after it ends.
  tavro_wineserver -p 2>/dev/null || true
  tavro_wine wineboot >/dev/null 2>&1 || true
}

# Stops what the session of this kind recorded: its Wine programs and server, its Xvfb, its
# temporary folder. Called holding the kind's lock: at the start for what a killed session left,
# and at the end of one's own.
tavro_clear_leftovers() {
  local kind=$1 pid dir=
  tavro_stop_wineserver
  if read -r pid 2>/dev/null <"$tavro_build/session-$kind.xvfb"; then
    if [ "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -d' ' -f1)" = Xvfb ]; then
      kill "$pid" 2>/dev/null || true
    fi
  fi
  read -r dir 2>/dev/null <"$tavro_build/session-$kind.tmp" || true
  case $dir in */tavro-"$kind".??????) rm -rf "$dir" ;; esac
  rm -f "$tavro_build/session-$kind.xvfb" "$tavro_build/session-$kind.tmp"
}

# An Xvfb of the session's own. Its screen holds the tests' virtual desktop
# (tests/app/desktop.reg): Wine 10 clips one to the screen.
tavro_start_xvfb() {
  local kind=$1 fifo="$tavro_session_dir/displayfd" log="$tavro_session_dir/xvfb.log" num=
  mkfifo -m 600 "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$log" 2>&1 &
  tavro_xvfb_pid=$!
  echo "$tavro_xvfb_pid" >"$tavro_build/session-$kind.xvfb"
  read -r -t 30 num <"$fifo" || true
  if [ -z "$num" ]; then
    tavro_say "Xvfb did not start a display:"
    sed 's/^/  /' "$log" >&2
    return 1
  fi
  export DISPLAY=":$num"
  # Only ours: no authority file of the user's display.
  unset XAUTHORITY
}

# Kills a process and all its descendants, gathered first so that none is missed by being
# reparented while the others die.
tavro_kill_tree() {
  local pids=() next=("$1") pid
  while [ ${#next[@]} -gt 0 ]; do
    pids+=("${next[@]}")
    mapfile -t next < <(for pid in "${next[@]}"; do ps -o pid= --ppid "$pid"; done 2>/dev/null | tr -d ' ')
  done
  kill "${pids[@]}" 2>/dev/null || true
}

# Stops what tavro_begin_session started; safe to call more than once, and from any point of it.
tavro_end_session() {
  [ -n "$tavro_session_kind" ] || return 0
  tavro_clear_leftovers "$tavro_session_kind"
  [ -z "$tavro_xvfb_pid" ] || wait "$tavro_xvfb_pid" 2>/dev/null || true
  tavro_xvfb_pid=
  tavro_session_kind=
}
