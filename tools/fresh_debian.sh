#!/usr/bin/env bash
# Before a release: runs the README's two commands as a new user would, as root in a fresh minimal
# Debian of each release named (default: bookworm trixie), from a clone of this checkout's HEAD and
# with a bare environment. Needs root, debootstrap and about 1.5 GB of downloads and disk a release;
# the trees stay in $TAVRO_FRESH_DIR (default /var/tmp/tavro-fresh) until the next run.
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/.." && pwd)
source "$root_dir/tools/apt_sources.sh"
work=${TAVRO_FRESH_DIR:-/var/tmp/tavro-fresh}
[ $# -gt 0 ] || set -- bookworm trixie

[ "$(id -u)" -eq 0 ] || { echo "fresh_debian: run as root (debootstrap, chroot, mounts)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "fresh_debian: apt-get install debootstrap first" >&2; exit 1; }
host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
read -r mirror keyring < <(debian_mirror "$host_release" | head -n 1) || true
if [ -z "${mirror:-}" ]; then
  echo "fresh_debian: this machine's apt sources name no Debian mirror for '$host_release'" >&2
  exit 1
fi

# The mount points at or below a tree.
mounts_below() { findmnt -rn -o TARGET | { grep -E "^$1(/|$)" || true; }; }

# Everything mounted below a tree, deepest first; and no process left running inside it.
release_tree() {
  local tree=$1 pid
  for pid in /proc/[0-9]*; do
    if [ "$(readlink "$pid/root" 2>/dev/null)" = "$tree" ]; then kill -9 "${pid#/proc/}" 2>/dev/null || true; fi
  done
  mounts_below "$tree" | sort -r | while read -r m; do
    umount -l "$m" 2>/dev/null || true
  done
}
current=
trap '[ -z "$current" ] || release_tree "$current"' EXIT
trap 'exit 130' INT TERM HUP

# Runs one README command in the tree with a bare environment; its output goes to a log.
run_in() {
  local tree=$1 log=$2
  shift 2
  chroot "$tree" /usr/bin/env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c 'cd /root/tavro && "$@"' bash "$@" >"$log" 2>&1
}

results=()
for release in "$@"; do
  tree="$work/$release"
  release_tree "$tree"
  # Never into the host's /dev or /proc through a mount that did not come off.
  if [ -n "$(mounts_below "$tree")" ]; then
    echo "fresh_debian: $tree still has mounts; not removing it" >&2
    exit 1
  fi
  rm -rf --one-file-system "$tree" "$work/$release"-*
  mkdir -p "$tree"
  current=$tree
  echo "== $release: debootstrap from $mirror" >&2
  debootstrap --variant=minbase --include=git,ca-certificates ${keyring:+--keyring="$keyring"} \
    "$release" "$tree" "$mirror" >"$work/$release-debootstrap.log" 2>&1 ||
    { results+=("$release: debootstrap failed ($work/$release-debootstrap.log)"); continue; }
  mount -t proc proc "$tree/proc"
  mount -t sysfs sysfs "$tree/sys"
  mount --rbind /dev "$tree/dev"
  mount --make-rslave "$tree/dev"
  cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
  git clone -q "$root_dir" "$tree/root/tavro"

  for cmd in run test; do
    log="$work/$release-$cmd.log"
    echo "== $release: bash tools/$cmd.sh (log: $log)" >&2
    start=$SECONDS
    status=0
    run_in "$tree" "$log" bash "tools/$cmd.sh" || status=$?
    line="$release: tools/$cmd.sh exit $status in $((SECONDS - start)) s"
    if [ "$cmd" = run ]; then
      line+="; $(grep -E '^(CRC32|MD5|SHA-1)' "$log" | tr -s ' \n' ' ' | sed 's/ $//')"
      if [ -f "$tree/root/tavro/build/run/tavro.png" ]; then
        cp "$tree/root/tavro/build/run/tavro.png" "$work/$release-run.png"
        line+="; screenshot $work/$release-run.png"
      fi
    else
      line+="; $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)"
    fi
    results+=("$line")
    echo "$line" >&2
  done
  release_tree "$tree"
  current=
done

printf '%s\n' "${results[@]}"
! printf '%s\n' "${results[@]}" | grep -qvE 'exit 0 '
