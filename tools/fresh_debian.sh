#!/usr/bin/env bash
# Before a release: runs the README's two commands as a new user would, as root in a fresh minimal
# Debian of each release named (default: bookworm trixie), from a clone of this checkout's HEAD and
# with a bare environment, then that user's own apt-get update. Needs root, debootstrap and about
# 1.5 GB of downloads and disk a release; the trees stay in $TAVRO_FRESH_DIR (default
# /var/tmp/tavro-fresh) until the next run. Every command gets its line, passed or not, and the
# tool exits non-zero when any failed.
#
# The machine as developers have it rather than fresh:
#   TAVRO_FRESH_HOOK=FILE    a script run as root in each tree first, to change it one way;
#   TAVRO_FRESH_ENV='N=V..'  more variables in the commands' environment (LANG=ja_JP.UTF-8, say);
#   TAVRO_FRESH_MIRROR=URL   the Debian mirror for debootstrap, where this machine's apt has only a
#                            mirror+ URI that names none;
#   TAVRO_FRESH_CACHE=DIR    keep the trees' downloaded packages in DIR/RELEASE for the next run.
set -euo pipefail
unset CDPATH # an exported one makes cd print the folder
root_dir=$(cd "$(dirname "$0")/.." && pwd -P)
source "$root_dir/tools/apt_sources.sh"
[ $# -gt 0 ] || set -- bookworm trixie

[ "$(id -u)" -eq 0 ] || { echo "fresh_debian: run as root (debootstrap, chroot, mounts)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "fresh_debian: apt-get install debootstrap first" >&2; exit 1; }
mkdir -p "${TAVRO_FRESH_DIR:-/var/tmp/tavro-fresh}"
# The canonical path, as findmnt and /proc/PID/root name it: no //, link or relative part.
work=$(cd "${TAVRO_FRESH_DIR:-/var/tmp/tavro-fresh}" && pwd -P)

# debootstrap takes a plain http(s) URI; apt's mirror+file: lists name some.
host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=${TAVRO_FRESH_MIRROR:-$(debian_mirror "$host_release")}
if [[ $mirror == mirror+file:* ]]; then
  list=${mirror#mirror+file:}
  mirror=$(grep -m 1 -oE '^https?://[^[:space:]]+' "${list%/}" 2>/dev/null || true)
fi
if [[ $mirror != http://* && $mirror != https://* ]]; then
  echo "fresh_debian: this machine's apt serves '$host_release' from no plain http(s) Debian mirror;" >&2
  echo "name one: TAVRO_FRESH_MIRROR=http://MIRROR/debian" >&2
  exit 1
fi

# As root, git clones only checkouts it trusts; this one may be any user's. Asked now, not after
# the downloads.
git_config=$(mktemp)
printf '[safe]\n\tdirectory = *\n' >"$git_config"
export GIT_CONFIG_GLOBAL=$git_config
git -C "$root_dir" rev-parse -q --verify HEAD >/dev/null

# The mount points at or below a tree (findmnt writes blanks and the like as \x escapes).
mounts_below() {
  local m
  findmnt -rn -o TARGET | while read -r m; do
    m=$(printf '%b' "$m")
    if [ "$m" = "$1" ] || [[ $m == "$1"/* ]]; then echo "$m"; fi
  done
}

# No process left running inside a tree, and nothing mounted below it (older runs mounted in the
# host's namespace; this one mounts only in the stages' own).
release_tree() {
  local tree=$1 pid
  for pid in /proc/[0-9]*; do
    if [ "$(readlink "$pid/root" 2>/dev/null)" = "$tree" ]; then kill -9 "${pid#/proc/}" 2>/dev/null || true; fi
  done
  mounts_below "$tree" | sort -r | while read -r m; do
    umount -l "$m" 2>/dev/null || true
  done
}

# The chroot's set-up registers its qemu-i386 with the kernel where the kernel runs no 32-bit code;
# the registration would outlive the tree. binfmt_misc is read in a namespace of its own, so that
# mounting it there changes nothing here.
binfmt() {
  unshare --mount -- bash -c 'b=/proc/sys/fs/binfmt_misc
    [ -e $b/register ] || mount -t binfmt_misc binfmt_misc $b 2>/dev/null || exit 0
    '"$1" "${@:2}"
}
emulator_before=$(binfmt 'cat $b/qemu-i386 2>/dev/null || true')
restore_emulator() {
  [ "$(binfmt 'cat $b/qemu-i386 2>/dev/null || true')" != "$emulator_before" ] || return 0
  local entry=
  if [ -n "$emulator_before" ]; then
    entry=$(awk '$1 == "interpreter" { i = $2 } $1 == "flags:" { f = $2 } $1 == "offset" { o = $2 }
                 $1 == "magic" { m = $2 } $1 == "mask" { k = $2 }
                 END { gsub(/../, "\\x&", m); gsub(/../, "\\x&", k)
                       printf ":qemu-i386:M:%s:%s:%s:%s:%s", o, m, k, i, f }' <<<"$emulator_before")
  fi
  binfmt '[ ! -e $b/qemu-i386 ] || echo -1 >$b/qemu-i386; [ -z "$0" ] || echo "$0" >$b/register' "$entry"
}

# Each stage runs in a session of its own, in the background, and is waited for: a signal then
# reaches this script at once, not when the stage ends, and the stage's whole group can be stopped.
# Its output goes to the log named first, the script's own (and a signal's report) to the terminal.
stage=
staged() {
  local log=$1
  shift
  setsid "$@" </dev/null >"$log" 2>&1 &
  stage=$!
  local status=0
  wait "$stage" || status=$?
  stage=
  return "$status"
}

current=
what=
cleanup() {
  if [ -n "$stage" ]; then
    kill -TERM -- "-$stage" 2>/dev/null || true
    # A few seconds to clean up after itself (test.sh stops its Xvfb and wineserver); an ended
    # stage stays a zombie until waited for, so this wait is a fixed one.
    for _ in 1 2 3 4 5; do kill -0 "$stage" 2>/dev/null && sleep 1; done
    kill -KILL -- "-$stage" 2>/dev/null || true
  fi
  [ -z "$current" ] || release_tree "$current"
  restore_emulator
  rm -f "$git_config"
}
trap cleanup EXIT
stopped() {
  [ -z "$what" ] || echo "$release: $what stopped by a signal after $((SECONDS - start)) s; log $log" >&2
  exit 130
}
trap stopped INT TERM HUP

# Runs a command as root in the tree with a bare environment, its output to a log. The mounts are
# made in a mount namespace of its own and end with it: none can reach the host's or stay behind.
run_in() {
  local tree=$1 log=$2 cache=
  shift 2
  if [ -n "${TAVRO_FRESH_CACHE:-}" ]; then
    cache=$TAVRO_FRESH_CACHE/$release
    mkdir -p "$cache/partial"
  fi
  # shellcheck disable=SC2086 # TAVRO_FRESH_ENV is a list of words
  staged "$log" unshare --mount --propagation private -- /bin/bash -c '
    tree=$1 cache=$2; shift 2
    mount -t proc proc "$tree/proc" && mount -t sysfs sysfs "$tree/sys" &&
      mount --rbind --make-rslave /dev "$tree/dev" || exit 125
    [ -z "$cache" ] || mount --bind "$cache" "$tree/var/cache/apt/archives" || exit 125
    exec chroot "$tree" "$@"' bash "$tree" "$cache" \
    /usr/bin/env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${TAVRO_FRESH_ENV:-} /bin/bash -c 'cd /root/tavro && "$@"' bash "$@"
}

results=()
report() {
  results+=("$1")
  echo "$1" >&2
}

for release in "$@"; do
  tree="$work/$release"
  release_tree "$tree"
  # Never into the host's /dev or /proc through a mount that did not come off.
  if [ -n "$(mounts_below "$tree")" ]; then
    report "$release: $tree still has mounts; not removing it"
    continue
  fi
  rm -rf --one-file-system "$tree" "$work/$release"-*
  mkdir -p "$tree"
  current=$tree
  echo "== $release: debootstrap from $mirror" >&2
  log="$work/$release-debootstrap.log"
  what=debootstrap
  start=$SECONDS
  status=0
  # debootstrap mounts /proc and /sys in the tree while it installs: in a namespace of its own too.
  staged "$log" unshare --mount --propagation private -- \
    debootstrap --variant=minbase --include=git,ca-certificates "$release" "$tree" "$mirror" ||
    status=$?
  if [ "$status" -eq 0 ]; then
    cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
    git clone -q "$root_dir" "$tree/root/tavro" >>"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    report "$release: debootstrap and clone exit $status in $((SECONDS - start)) s; log $log"
    current=
    what=
    continue
  fi

  cmds=(run test update)
  if [ -n "${TAVRO_FRESH_HOOK:-}" ]; then
    cp "$TAVRO_FRESH_HOOK" "$tree/root/fresh-hook.sh"
    cmds=(hook "${cmds[@]}")
  fi
  for cmd in "${cmds[@]}"; do
    log="$work/$release-$cmd.log"
    case $cmd in
      hook) what="hook $(basename "$TAVRO_FRESH_HOOK")"; argv=(bash /root/fresh-hook.sh) ;;
      update) what="apt-get update"; argv=(apt-get update) ;;
      *) what="tools/$cmd.sh"; argv=(bash "tools/$cmd.sh") ;;
    esac
    echo "== $release: $what (log: $log)" >&2
    start=$SECONDS
    status=0
    run_in "$tree" "$log" "${argv[@]}" || status=$?
    line="$release: $what exit $status in $((SECONDS - start)) s"
    case $cmd in
      run)
        got=$(grep -E '^(CRC32|MD5|SHA-1)' "$log" | tr -s ' \n' ' ' | sed 's/ $//' || true)
        line+="; ${got:-no values}"
        if [ -f "$tree/root/tavro/build/run/tavro.png" ]; then
          cp "$tree/root/tavro/build/run/tavro.png" "$work/$release-run.png"
          line+="; screenshot $work/$release-run.png"
        fi ;;
      test)
        got=$(grep -E 'tests passed|tests failed' "$log" | tail -n 1 || true)
        skipped=$(grep -c '(Skipped)$' "$log" || true)
        line+="; ${got:-no ctest summary}"
        [ "$skipped" -eq 0 ] || line+=", $skipped skipped" ;;
      update)
        # Clean: no warning or error, which apt-get update prints even when it exits 0.
        got=$(grep -m 1 -E '^(W|E|Err):' "$log" || true)
        line+="; ${got:-clean}" ;;
    esac
    report "$line; log $log"
  done
  what=
  release_tree "$tree"
  restore_emulator
  current=
done

printf '%s\n' "${results[@]}"
! printf '%s\n' "${results[@]}" | grep -qvE ' exit 0 '
