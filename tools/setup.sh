#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest libgtest-dev
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-utils imagemagick xdotool fonts-dejavu-core
  nginx-light squid openssl curl
  winbind iproute2
  python3 locales
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}; arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
  if [ -n "$arch" ]; then q="$name:$arch"; else q="$name"; fi
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine maps file names through the Unix locale and takes the system's code page from it, so the
# end-to-end runs from Cyrillic and Japanese folders need these locales generated. A locale named
# in LANG but missing leaves Wine unable even to open a file in such a folder.
wanted_locales=(en_US.UTF-8 ru_RU.UTF-8 ja_JP.UTF-8)
missing_locales=()
for l in "${wanted_locales[@]}"; do
  short="${l%%.*}.utf8"
  locale -a 2>/dev/null | grep -qx "$short" || missing_locales+=("$l")
done
if [ ${#missing_locales[@]} -gt 0 ]; then
  echo "setup: generating locales ${missing_locales[*]}"
  for l in "${missing_locales[@]}"; do
    if grep -q "^# *$l UTF-8" /etc/locale.gen; then
      $SUDO sed -i "s/^# *$l UTF-8/$l UTF-8/" /etc/locale.gen
    elif ! grep -q "^$l UTF-8" /etc/locale.gen; then
      echo "$l UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
  done
  $SUDO locale-gen >/dev/null
fi

# The packaged nginx and squid may run as the machine's own services; they are left alone. The
# tests start private copies of their own on free loopback ports and stop only those. winbind is
# there for its ntlm_auth, which Wine's NTLM client runs; its own service is never used.
echo "setup: ok"
