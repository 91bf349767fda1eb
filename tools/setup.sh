#!/usr/bin/env bash
# Installs what building and testing tavro needs on Debian 12 or 13; quiet and quick when all is
# there. Where this machine cannot start 32-bit programs itself, qemu's user-mode emulator runs them.
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/apt_sources.sh"
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

packages=(
  # git reads the last commit's time, which the outputs record; unzip tests the archive.
  cmake make python3 locales git unzip
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  googletest
  # wine64 brings the native wineserver, which serves the 32-bit prefix even where 32-bit Wine
  # itself runs emulated (an emulated server cannot trace processes: no cross-process memory).
  wine wine32:i386 wine64
  xvfb x11-utils xdotool xclip imagemagick
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-wine
  # The engines' sanitized host build: clang with libFuzzer, zlib and libcrypto as references.
  # Versionless names: each release's own clang (14 on Debian 12, 19 on 13).
  clang libclang-rt-dev libssl-dev zlib1g-dev
  # The host benchmark's peers: ISA-L's and libdeflate's CRC-32 (zlib and libcrypto are above).
  libisal-dev libdeflate-dev
)

# Root only for what changes the machine, so that any user can build and test once all is there.
# Run by another user, the set-up runs itself again through sudo for that, once; where there is no
# sudo, or it may not be used here, it says what to run as root and fails.
need_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  local self=$tavro_root/tools/setup.sh
  tavro_say "$1 needs root"
  if command -v sudo >/dev/null && tavro_step sudo -v; then
    tavro_say "running the set-up again through sudo"
    rm -f "$apt_err"
    exec sudo -- bash "$self"
  fi
  printf 'As root (after su -, say), run once\n  bash %q\nthen this command again.\n' "$self" >&2
  return 1
}
# No questions, and no word that apt-utils is missing to configure packages early.
export DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes

# apt-get, quiet and in its untranslated words, in a session of its own (tools/common.sh says why);
# what it says stays in $apt_err. A lock that another program holds (unattended-upgrades or
# PackageKit, in the first minutes after a boot) is waited for, with one line saying so: dpkg's by
# apt itself (DPkg::Lock::Timeout), an update's lists lock by the retries of apt_update.
apt_err=$(mktemp)
trap 'rm -f "$apt_err"' EXIT
waited=
apt_quiet() { exec setsid env LC_ALL=C apt-get -qq "$@" >/dev/null 2>"$apt_err"; }
apt_get() {
  tavro_step apt_quiet "$@" && return 0
  grep -q '^E: Could not get lock' "$apt_err" || return 1
  [ -n "$waited" ] || tavro_say "waiting for apt's lock, $(grep -m 1 -o 'held by .*' "$apt_err" || echo 'held by another program')"
  waited=1
  tavro_step apt_quiet -o DPkg::Lock::Timeout=600 "$@"
}
# Says what apt said and stops: a failed apt call is that failure, whatever was asked.
apt_failed() {
  tavro_say "$1 failed:"
  sed 's/^/  /' "$apt_err" >&2
  exit 1
}

# A mirror caught mid-sync serves one index short (seen: the i386 list of the security suite);
# apt-get update then fails although the other lists are fresh. Try again, then go on with them.
apt_update() {
  local try
  for try in 1 2 3; do
    apt_get update && return 0
    [ "$try" -eq 3 ] || sleep 5
  done
  tavro_say "apt-get update failed ($(grep -m 1 -E '^(E|W|Err):' "$apt_err" || true)); using the lists it has"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root "adding the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  # One line per installed architecture: a package of another one does not count.
  status=$(dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null || true)
  grep -qx 'install ok installed' <<<"$status" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  need_root "installing ${missing[*]}"
  tavro_say "installing ${missing[*]}"
  apt_update
  if [ ${#missing[@]} -gt 0 ]; then
    # Without one suite's i386 list, amd64 and i386 candidates of the same library differ and
    # Multi-Arch packages cannot be paired; the release's own suite has both at one version.
    apt_get install -y --no-install-recommends "${missing[@]}" ||
      apt_get install -y --no-install-recommends -t "$codename" "${missing[@]}" ||
      apt_failed "installing ${missing[*]}"
  fi
fi

# Wine takes code page 932 from LC_ALL=ja_JP.UTF-8; with the locale generated, the Unix side
# (file names, the shell) speaks it too instead of warning.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  need_root "generating the ja_JP.UTF-8 locale"
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi

# --- qemu's user-mode emulator ---------------------------------------------------------------
# The engines' host tests run again under qemu-x86_64 on processor models that lack some of the
# fast paths' instructions. Some kernels also run 64-bit user code only (IA-32 emulation off):
# every i386 program, the Wine loader among them, fails with "Exec format error"; there, and only
# there, binfmt_misc hands i386 programs to qemu-i386. Only qemu 10.0 or later will do
# (tools/apt_sources.sh says why): the release's own where it is that new (Debian 13), else its
# backports. Without it the model tests are skipped; only Wine on such a kernel cannot do without.
# Without its recommends (the binfmt packages) installing qemu-user registers nothing.
wine_loader=/usr/lib/wine/wine
runs_32bit() { timeout 120 "$wine_loader" --version >/dev/null 2>&1; }
qemu_ready() {
  qemu_new_enough "$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)" &&
    [ -x /usr/bin/qemu-i386 ] && [ -x /usr/bin/qemu-x86_64 ]
}

# A backports source of ours is written only once apt has been seen to serve qemu-user 10 from it,
# and in one step, so that no later apt-get update on this machine fails for it.
backports_list=/etc/apt/sources.list.d/tavro-backports.sources
write_backports() {
  local new
  new=$(mktemp /etc/apt/tavro-backports.XXXXXX)
  { echo "Types: deb"; echo "URIs: $1"; echo "Suites: $codename-backports"; echo "Components: main"
    [ ! -f "$debian_keyring" ] || echo "Signed-By: $debian_keyring"; } >"$new"
  chmod 644 "$new"
  mv "$new" "$backports_list"
}

# Installs qemu-user 10 or later; where it cannot, fails with the reason in no_qemu. That verdict is
# remembered until apt's lists change: later runs then need neither root nor the network for it.
no_qemu=
memo=${XDG_CACHE_HOME:-${HOME:-/nonexistent}/.cache}/tavro/no-qemu-user-10
install_qemu() {
  qemu_ready && return 0
  local lists from uri=
  lists="$codename $(apt_lists_stamp)"
  if [ "$(head -n 1 "$memo" 2>/dev/null)" = "$lists" ]; then
    no_qemu="$(sed -n 2p "$memo"), remembered until apt's lists change"
    return 1
  fi
  from=$(qemu_source "$codename")
  if [ "${from%% *}" = add ]; then
    uri=${from#add }
    # An older set-up, stopped at the wrong moment, could leave one that apt does not serve; where
    # root cannot be had, the advice says how, and the rest goes on.
    if [ -e "$backports_list" ] && need_root "removing $backports_list"; then
      tavro_say "removing $backports_list, which apt does not serve"
      rm -f "$backports_list"
    fi
    from=$(backports_offer "$uri" "$codename")
  fi
  if [ "${from%% *}" = none ]; then
    from=${from#none }
    no_qemu="apt offers no qemu-user 10 or later here (its best: $from)"
  elif ! need_root "installing qemu-user"; then
    no_qemu="installing qemu-user 10 needs root"
  else
    [ -z "$uri" ] || { write_backports "$uri"; apt_update; }
    tavro_say "installing qemu-user from $from"
    apt_get install -y --no-install-recommends -t "$from" qemu-user || apt_failed "installing qemu-user"
    qemu_ready && return 0
    tavro_say "apt installed qemu-user $(dpkg-query -W -f='${Version}' qemu-user), not 10 or later"
    exit 1
  fi
  { mkdir -p "${memo%/*}" && printf '%s\n%s\n' "$lists" "$no_qemu" >"$memo"; } 2>/dev/null || true
  return 1
}

# Registers /usr/bin/qemu-i386 for i386 ELF executables and shared objects. Flag F opens the
# interpreter now, so the entry keeps working whatever is mounted later.
register_qemu() {
  local dir=/proc/sys/fs/binfmt_misc entry=/proc/sys/fs/binfmt_misc/qemu-i386
  if [ -e "$entry" ] && grep -qx enabled "$entry" && grep -qx 'interpreter /usr/bin/qemu-i386' "$entry" &&
    grep -q '^flags: .*F' "$entry"; then
    return 0
  fi
  need_root "registering qemu-i386"
  [ -e "$dir/register" ] || mount -t binfmt_misc binfmt_misc "$dir"
  [ -e "$entry" ] && echo -1 >"$entry"
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:F" >"$dir/register"
}

if runs_32bit; then
  install_qemu || tavro_say "$no_qemu; the processor-model tests are skipped"
else
  if ! install_qemu; then
    tavro_say "this kernel runs no 32-bit programs, and Wine runs them only under qemu-user 10 or"
    echo "later: $no_qemu. Offer it to apt (a Debian mirror's $codename-backports), then run this again." >&2
    exit 1
  fi
  register_qemu
  if ! runs_32bit; then
    tavro_say "32-bit programs do not start, not even under qemu-i386"
    exit 1
  fi
fi
