#!/usr/bin/env bash
# Installs what building and testing tavro needs on Debian 12; quiet and quick when all is there.
set -euo pipefail

packages=(
  cmake make python3 locales
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  googletest
  wine wine32:i386
  xvfb x11-utils xdotool xclip imagemagick
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-wine
  gcc-multilib g++-multilib
  libssl-dev:i386 zlib1g-dev:i386
  clang libclang-rt-14-dev
)

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: run as root (installs Debian packages)" >&2
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes code page 932 from LC_ALL=ja_JP.UTF-8; with the locale generated, the Unix side
# (file names, the shell) speaks it too instead of warning.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
