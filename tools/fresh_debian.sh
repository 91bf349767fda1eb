#!/usr/bin/env bash
# Before a release: runs the README's two commands as a new user would, as root in a fresh minimal
# Debian of each release named (default: bookworm trixie), from a clone of this checkout's HEAD and
# with a bare environment, then that user's own apt-get update. Needs root, mmdebstrap and about
# 1.5 GB of downloads and disk a release. mmdebstrap makes each tree in namespaces of its own (its
# mounts and processes end with it) and removes it; the logs and screenshots stay in
# $TAVRO_FRESH_DIR (default /var/tmp/tavro-fresh) until the next run. Every command gets its line,
# passed or not, and the tool exits non-zero when any failed.
#
# The machine as developers have it rather than fresh:
#   TAVRO_FRESH_HOOK=FILE    a script run as root in each tree first, to change it one way;
#   TAVRO_FRESH_ENV='N=V..'  more variables in the commands' environment (LANG=ja_JP.UTF-8, say);
#   TAVRO_FRESH_MIRROR=URL   the Debian mirror for mmdebstrap, where this machine's apt has only a
#                            mirror+ URI that names none;
#   TAVRO_FRESH_CACHE=DIR    keep the trees' downloaded packages in DIR/RELEASE for the next run.
set -euo pipefail
unset CDPATH # an exported one makes cd print the folder
root_dir=$(cd "$(dirname "$0")/.." && pwd -P)
self=$root_dir/tools/fresh_debian.sh
work=${TAVRO_FRESH_DIR:-/var/tmp/tavro-fresh}

# --- In a tree: mmdebstrap's customize hook, as root outside the chroot -------------------------
#   fresh_debian.sh --in-tree RELEASE TREE
# Runs each command in the chroot with a bare environment, its output to its log, and writes its
# line to $work/RELEASE.lines; what runs now stands in $work/RELEASE.now for a signal's report.
if [ "${1:-}" = --in-tree ]; then
  release=$2 tree=$3
  git clone -q "$root_dir" "$tree/root/tavro"
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
    echo "$(date +%s) $what; log $log" >"$work/$release.now"
    start=$SECONDS
    status=0
    # shellcheck disable=SC2086 # TAVRO_FRESH_ENV is a list of words
    chroot "$tree" /usr/bin/env -i HOME=/root TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin ${TAVRO_FRESH_ENV:-} \
      /bin/bash -c 'cd /root/tavro && "$@"' bash "${argv[@]}" </dev/null >"$log" 2>&1 || status=$?
    line="$release: $what exit $status in $((SECONDS - start)) s"
    case $cmd in
      run)
        got=$(grep -E '^(CRC32|MD5|SHA-1)' "$log" | tr -s ' \n' ' ' | sed 's/ $//' || true)
        line+="; ${got:-no values}"
        ! cp "$tree/root/tavro/build/run/tavro.png" "$work/$release-run.png" 2>/dev/null ||
          line+="; screenshot $work/$release-run.png" ;;
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
    echo "$line; log $log" >>"$work/$release.lines"
  done
  rm -f "$work/$release.now"
  exit 0
fi

source "$root_dir/tools/apt_sources.sh"
[ $# -gt 0 ] || set -- bookworm trixie
[ "$(id -u)" -eq 0 ] || { echo "fresh_debian: run as root (mmdebstrap, chroot)" >&2; exit 1; }
command -v mmdebstrap >/dev/null || { echo "fresh_debian: apt-get install mmdebstrap first" >&2; exit 1; }
mkdir -p "$work"

# mmdebstrap takes a plain http(s) URI; apt's mirror+file: lists name some.
host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=${TAVRO_FRESH_MIRROR:-$(debian_mirror "$host_release")}
if [[ $mirror == mirror+file:* ]]; then
  list=${mirror#mirror+file:}
  mirror=$(grep -m 1 -oE '^https?://[^[:space:]]+' "${list%/}" 2>/dev/null || true)
fi
if [[ $mirror != http://* && $mirror != https://* ]]; then
  printf '%s\n' "fresh_debian: this machine's apt serves '$host_release' from no plain http(s) Debian" \
    "mirror; name one: TAVRO_FRESH_MIRROR=http://MIRROR/debian" >&2
  exit 1
fi

# As root, git clones only checkouts it trusts; this one may be any user's. Asked now, not after
# the downloads.
git_config=$(mktemp)
printf '[safe]\n\tdirectory = *\n' >"$git_config"
export GIT_CONFIG_GLOBAL=$git_config
git -C "$root_dir" rev-parse -q --verify HEAD >/dev/null

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

# mmdebstrap runs in a session of its own, in the background, and is waited for: a signal then
# reaches this script at once, and the whole session can be stopped; its pid namespace takes every
# process of the tree with it.
stage=
cleanup() {
  if [ -n "$stage" ]; then
    kill -TERM -- "-$stage" 2>/dev/null || true
    # mmdebstrap removes its tree; an ended stage stays a zombie until waited for, so a fixed wait.
    for _ in 1 2 3 4 5; do kill -0 "$stage" 2>/dev/null && sleep 1; done
    kill -KILL -- "-$stage" 2>/dev/null || true
  fi
  restore_emulator
  rm -f "$git_config"
}
trap cleanup EXIT
stopped() {
  local now
  # What runs, and since when (seconds since the epoch): a command in the tree, else mmdebstrap.
  read -r now 2>/dev/null <"$work/$release.now" || now="$start mmdebstrap; log $work/$release-mmdebstrap.log"
  echo "$release: stopped by a signal after $(($(date +%s) - ${now%% *})) s in ${now#* }" >&2
  exit 130
}
trap stopped INT TERM HUP

results=()
for release in "$@"; do
  rm -f "$work/$release"-* "$work/$release".*
  hooks=(--customize-hook="bash $(printf %q "$self") --in-tree $(printf %q "$release") \"\$1\"")
  if [ -n "${TAVRO_FRESH_CACHE:-}" ]; then
    cache=$TAVRO_FRESH_CACHE/$release
    mkdir -p "$cache"
    hooks=(--setup-hook='mkdir -p "$1/var/cache/apt/archives"' --setup-hook="sync-in $(printf %q "$cache") /var/cache/apt/archives"
      "${hooks[@]}" --customize-hook="sync-out /var/cache/apt/archives $(printf %q "$cache")")
  fi
  echo "== $release: mmdebstrap from $mirror, then the commands (logs: $work/$release-*.log)" >&2
  log="$work/$release-mmdebstrap.log"
  start=$(date +%s)
  status=0
  setsid mmdebstrap --mode=unshare --variant=minbase --include=git,ca-certificates "${hooks[@]}" \
    "$release" /dev/null "$mirror" </dev/null >"$log" 2>&1 &
  stage=$!
  wait "$stage" || status=$?
  stage=
  if [ -f "$work/$release.lines" ]; then mapfile -t -O "${#results[@]}" results <"$work/$release.lines"; fi
  [ "$status" -eq 0 ] || results+=("$release: mmdebstrap exit $status in $(($(date +%s) - start)) s; log $log")
  restore_emulator
done

printf '%s\n' "${results[@]}"
! printf '%s\n' "${results[@]}" | grep -qvE ' exit 0 '
