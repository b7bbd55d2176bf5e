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
  nginx-light squid openssl curl osslsigncode
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
  # A mirror in the middle of a sync serves an index whose size disagrees with its Release file,
  # for a few minutes. Ask again; if an index still fails, the amd64 and i386 candidates of the
  # multi-arch libraries may differ, so install the release's own versions, which always match.
  updated=0
  update_log=$(mktemp)
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq 2>"$update_log"; then
      updated=1; break
    fi
    [ "$attempt" -lt 3 ] && sleep $((attempt * 10))
  done
  install=(apt-get install -y -qq --no-install-recommends)
  if [ "$updated" -ne 1 ]; then
    echo "setup: a package index could not be updated ($(grep -m1 -o 'Failed to fetch [^ ]*' "$update_log" || echo 'see apt-get update')); installing the release's own versions (-t bookworm)"
    install+=(-t bookworm)
  fi
  rm -f "$update_log"
  if ! $SUDO "${install[@]}" "${missing[@]}" >/dev/null; then
    # The index may have been whole yet the candidates still mismatched (an earlier update
    # left them so): the release's own versions are the consistent set.
    echo "setup: the install failed with the newest candidates; installing the release's own versions (-t bookworm)"
    $SUDO apt-get install -y -qq --no-install-recommends -t bookworm "${missing[@]}" >/dev/null
  fi
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
