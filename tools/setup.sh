#!/usr/bin/env bash
# Installs what building and testing tavro needs on Debian 12 or 13; quiet and quick when all is
# there. Where this machine cannot start 32-bit programs itself, qemu's user-mode emulator runs them.
set -euo pipefail
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
# Run by another user, the set-up runs itself again through sudo for that, once.
need_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  local self
  self=$(readlink -f "$0")
  if command -v sudo >/dev/null; then
    echo "setup: $1 needs root: running the set-up again through sudo" >&2
    exec sudo -- bash "$self"
  fi
  echo "setup: $1 needs root, and there is no sudo here. As root, run" >&2
  echo "  bash $self" >&2
  echo "once (su -c 'bash $self', say), then this command again." >&2
  exit 1
}
# No questions, and no word that apt-utils is missing to configure packages early.
export DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes

# A mirror caught mid-sync serves one index short (seen: the i386 list of the security suite);
# apt-get update then fails although the other lists are fresh. Try again, then go on with them.
updated=
apt_update() {
  updated=1
  local try
  for try in 1 2 3; do
    apt-get update -qq >/dev/null 2>&1 && return 0
    [ "$try" -lt 3 ] && sleep 5
  done
  echo "setup: apt-get update failed; using the lists it has" >&2
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
  echo "setup: installing ${missing[*]}" >&2
  apt_update
  if [ ${#missing[@]} -gt 0 ]; then
    # Without one suite's i386 list, amd64 and i386 candidates of the same library differ and
    # Multi-Arch packages cannot be paired; the release's own suite has both at one version.
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1 ||
      apt-get install -y -qq --no-install-recommends -t "$codename" "${missing[@]}" >/dev/null
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

# A backports source of our own stays only while apt serves the suite from it and qemu comes from
# there: anything else would make every later apt-get update on this machine fail or do nothing.
backports_list=/etc/apt/sources.list.d/tavro-backports.sources
add_backports() {
  local uri=$1 suite=$codename-backports key=/usr/share/keyrings/debian-archive-keyring.gpg
  { echo "Types: deb"; echo "URIs: $uri"; echo "Suites: $suite"; echo "Components: main"
    [ ! -f "$key" ] || echo "Signed-By: $key"; } >"$backports_list"
  apt_update
  apt_repos | grep -qxF "Debian Backports|$suite|$uri" && return 0
  drop_backports "apt's update did not get $suite from $uri"
  return 1
}
drop_backports() {
  rm -f "$backports_list"
  apt_update
  echo "setup: removed $backports_list again: $1" >&2
}

# Installs qemu-user 10 or later; where apt offers none, fails with the reason in no_qemu.
no_qemu=
install_qemu() {
  qemu_ready && return 0
  # Lists as fresh as the installing above left them; another user's run asks apt's lists as they are.
  [ "$(id -u)" -ne 0 ] || [ -n "$updated" ] || apt_update
  local from
  from=$(qemu_source "$codename")
  if [ "${from%% *}" != none ] && [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    no_qemu="installing qemu-user 10 needs root, and there is no sudo here (as root: bash $(readlink -f "$0"))"
    return 1
  fi
  if [ "${from%% *}" != none ]; then
    need_root "installing qemu-user"
    if [ "${from%% *}" = add ]; then
      add_backports "${from#add }" || true
      from=$(qemu_source "$codename")
      case $from in
        "$codename-backports") ;;
        add\ *) from="none $(apt_candidate qemu-user)" ;;
        *) drop_backports "its qemu-user is not 10 or later either" ;;
      esac
    fi
  fi
  if [ "${from%% *}" = none ]; then
    from=${from#none}; from=${from# }
    no_qemu="apt offers no qemu-user 10 or later here (its best: ${from:-none})"
    return 1
  fi
  echo "setup: installing qemu-user from $from" >&2
  apt-get install -y -qq --no-install-recommends -t "$from" qemu-user >/dev/null
  qemu_ready && return 0
  no_qemu="apt installed qemu-user $(dpkg-query -W -f='${Version}' qemu-user), not 10 or later"
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
  install_qemu || echo "setup: $no_qemu; the processor-model tests are skipped" >&2
else
  if ! install_qemu; then
    echo "setup: this kernel runs no 32-bit programs, and Wine runs them only under qemu-user 10 or" >&2
    echo "later: $no_qemu. Offer it to apt (a Debian mirror's $codename-backports), then run this again." >&2
    exit 1
  fi
  register_qemu
  if ! runs_32bit; then
    echo "setup: 32-bit programs do not start, not even under qemu-i386" >&2
    exit 1
  fi
fi
