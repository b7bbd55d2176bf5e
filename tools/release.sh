#!/usr/bin/env bash
# The release command: builds the one file a user downloads and starts.
#
#   bash tools/release.sh SOURCE OUTPUT [--arch i686|x86_64] [--allow-http] [--payloads DIR]
#                         [--sign-pkcs12 FILE --sign-password-file FILE [--timestamp-url URL]]
#
# SOURCE holds "ConfigFile.txt", the "Resource-<language>.txt" tables and the "Images" folder.
# OUTPUT becomes TarveloSetup.exe with all of them inside it; the exe then reads nothing from the
# folder it is started from, and works in "%ProgramData%\Tarvelo\Setup", which only
# Administrators and SYSTEM can change (README, "Security").
#
# It refuses (exit code 2, naming every reason) a configuration that fetches over http:// (unless
# --allow-http), a digest that disagrees with the file of the same name in --payloads, and a
# SOURCE without "Resource-en-GB.txt" or one of the seven skin bitmaps. With --payloads it writes
# each package's SHA-256 into the carried configuration. Signing is the last step (SHA-256,
# osslsigncode, the password read from its file and never shown); the signature is then verified
# against the certificate's own chain, and the command fails if it does not verify.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}

usage() {
  sed -n '4,5p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 3
}
[ $# -ge 2 ] || usage
source_dir=$1 output=$2
shift 2
arch=i686 pkcs12="" password_file="" timestamp_url="" prepare_options=()
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=${2:-}; shift 2 ;;
    --allow-http) prepare_options+=(--allow-http); shift ;;
    --payloads) prepare_options+=(--payloads "${2:-}"); shift 2 ;;
    --sign-pkcs12) pkcs12=${2:-}; shift 2 ;;
    --sign-password-file) password_file=${2:-}; shift 2 ;;
    --timestamp-url) timestamp_url=${2:-}; shift 2 ;;
    *) echo "release: unknown option $1" >&2; usage ;;
  esac
done
case $arch in i686|x86_64) ;; *) echo "release: --arch is i686 or x86_64" >&2; exit 3 ;; esac
if [ -n "$pkcs12" ] && [ -z "$password_file" ]; then
  echo "release: --sign-pkcs12 needs --sign-password-file (a password is never taken on the command line)" >&2
  exit 3
fi
for f in "$pkcs12" "$password_file"; do
  if [ -n "$f" ] && [ ! -r "$f" ]; then echo "release: cannot read $f" >&2; exit 3; fi
done

# The tree the exe is linked in: the shipped i686 tree, or one of the same kind for x86_64
# (TARVELO_RELEASE_TREE names another, such as a test tree of that architecture).
if [ -n "${TARVELO_RELEASE_TREE:-}" ]; then
  tree=$TARVELO_RELEASE_TREE
elif [ "$arch" = i686 ]; then
  tree=$build/release
else
  tree=$build/release-$arch
fi
mkdir -p "$tree"
exec 8>"$tree/.release.lock"
flock 8

python3 "$root/tools/release.py" prepare "$source_dir" "$tree/carried/inputs.bin" "${prepare_options[@]}"

if [ ! -f "$tree/build.ninja" ]; then
  cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DTARVELO_THREAD_MODEL=win32 >/dev/null
fi
cmake --build "$tree" --target TarveloSetupRelease >/dev/null
built=$tree/TarveloSetupRelease.exe
format=pei-i386
[ "$arch" = x86_64 ] && format=pei-x86-64
bash "$root/tools/check-imports.sh" "$built" "$format" >/dev/null

mkdir -p "$(dirname "$output")"
rm -f "$output"
if [ -z "$pkcs12" ]; then
  cp "$built" "$output"
  echo "release: WARNING: $output is NOT signed; Windows will name its publisher \"Unknown\" (give --sign-pkcs12)" >&2
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  sign=(osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "Tarvelo Setup"
        -in "$built" -out "$work/signed.exe")
  [ -n "$timestamp_url" ] && sign+=(-ts "$timestamp_url")
  if ! "${sign[@]}" >"$work/sign.log" 2>&1; then
    # osslsigncode never prints the password it read; its own messages say what failed.
    echo "release: signing failed:" >&2
    cat "$work/sign.log" >&2
    exit 1
  fi
  # The certificate's own chain, as the PKCS#12 file carries it, is what the signature must
  # verify against; the machine's roots stand behind a chain that ends below a public root.
  openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -cacerts -out "$work/chain.pem" 2>/dev/null || true
  [ -f /etc/ssl/certs/ca-certificates.crt ] && cat /etc/ssl/certs/ca-certificates.crt >>"$work/chain.pem"
  if ! osslsigncode verify -CAfile "$work/chain.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1; then
    echo "release: the signature does not verify against the certificate's chain:" >&2
    grep -iE 'fail|error|verif' "$work/verify.log" >&2 || cat "$work/verify.log" >&2
    exit 1
  fi
  mv "$work/signed.exe" "$output"
  chmod 755 "$output"  # as the unsigned exe: osslsigncode writes its output without the x bit
  signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$work/verify.log" | head -n 1)
  echo "release: signed by $signer"
fi
echo "release: $output ($(stat -c %s "$output") bytes, $arch)"
