#!/usr/bin/env bash
# The release command: builds the one file a user downloads and starts.
#
#   bash tools/release.sh SOURCE OUTPUT (--sign-pkcs12 FILE --sign-password-file FILE | --unsigned)
#                         (--timestamp-url URL | --no-timestamp) [--trust-root FILE]...
#                         [--payloads DIR] [--allow-unchecked] [--allow-http] [--arch i686|x86_64]
#
# Options may stand anywhere: before, between or after SOURCE and OUTPUT ("--" ends them).
# SOURCE holds "ConfigFile.txt", the "Resource-<language>.txt" tables and the "Images" folder.
# OUTPUT becomes TarveloSetup.exe with all of them inside it; the exe then reads nothing from the
# folder it is started from, and works in "%ProgramData%\Tarvelo\Setup", which only
# Administrators and SYSTEM can change (README, "Security").
#
# What would let an unsafe release out is refused unless it is asked for in words (exit code 2,
# every reason named, before anything is built): a package with neither a digest nor signers
# (--allow-unchecked), an unsigned exe (--unsigned), a signature without a timestamp
# (--no-timestamp), a certificate that does not chain to a root this machine trusts or one given
# with --trust-root, a download over http:// (--allow-http); and, always, a digest that
# disagrees with the file of the same name in --payloads, a .NET package that is not the file
# the installer starts, and a SOURCE the exe could not use. With --payloads it writes each
# package's SHA-256 into the carried configuration. Signing is the last step (SHA-256,
# osslsigncode, the password read from its file and never shown); the signature, and its
# timestamp, are then verified against those roots alone, and the command fails if they do not.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}

usage() {
  sed -n '4,6p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 3
}
fail() { echo "release: $*" >&2; exit 3; }

arch=i686 pkcs12="" password_file="" timestamp_url="" no_timestamp="" unsigned=""
trust_roots=() prepare_options=() positional=()
while [ $# -gt 0 ]; do
  case $1 in
    --arch|--payloads|--sign-pkcs12|--sign-password-file|--timestamp-url|--trust-root)
      # A missing value would take the next option, or a path, in its place.
      if [ $# -lt 2 ] || [ -z "$2" ] || [ "${2#--}" != "$2" ]; then fail "$1 needs a value"; fi
      case $1 in
        --arch) arch=$2 ;;
        --payloads) prepare_options+=(--payloads "$2") ;;
        --sign-pkcs12) pkcs12=$2 ;;
        --sign-password-file) password_file=$2 ;;
        --timestamp-url) timestamp_url=$2 ;;
        --trust-root) trust_roots+=("$2") ;;
      esac
      shift 2 ;;
    --allow-http|--allow-unchecked) prepare_options+=("$1"); shift ;;
    --unsigned) unsigned=1; shift ;;
    --no-timestamp) no_timestamp=1; shift ;;
    --) shift; positional+=("$@"); break ;;
    -*) echo "release: unknown option $1" >&2; usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 2 ] || { echo "release: give SOURCE and OUTPUT (${#positional[@]} given)" >&2; usage; }
source_dir=${positional[0]} output=${positional[1]}
case $arch in i686|x86_64) ;; *) fail "--arch is i686 or x86_64" ;; esac
if [ -n "$unsigned" ]; then
  [ -z "$pkcs12$password_file" ] || fail "--unsigned and --sign-pkcs12 contradict each other"
  [ -z "$timestamp_url" ] || fail "--timestamp-url needs a signature; --unsigned makes none"
  [ ${#trust_roots[@]} -eq 0 ] || fail "--trust-root verifies a signature; --unsigned makes none"
fi
[ -z "$timestamp_url" ] || [ -z "$no_timestamp" ] || fail "--timestamp-url and --no-timestamp contradict each other"
if [ -n "$pkcs12" ] && [ -z "$password_file" ]; then
  fail "--sign-pkcs12 needs --sign-password-file (a password is never taken on the command line)"
fi
[ -z "$password_file" ] || [ -n "$pkcs12" ] || fail "--sign-password-file belongs to --sign-pkcs12"
for f in "$pkcs12" "$password_file" "${trust_roots[@]}"; do
  if [ -n "$f" ] && [ ! -r "$f" ]; then fail "cannot read $f"; fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The roots a signature must end in: this machine's, and those given for test CAs. Never the
# chain the PKCS#12 file carries, which may end in a root that no machine trusts.
roots=$work/roots.pem
: >"$roots"
[ -f /etc/ssl/certs/ca-certificates.crt ] && cat /etc/ssl/certs/ca-certificates.crt >>"$roots"
for f in "${trust_roots[@]}"; do
  # PEM (which may hold several roots) as it is, DER as PEM.
  if grep -q "BEGIN CERTIFICATE" "$f" && openssl x509 -in "$f" -noout 2>/dev/null; then
    cat "$f" >>"$roots"
  elif ! openssl x509 -inform DER -in "$f" >>"$roots" 2>/dev/null; then
    fail "--trust-root $f is not a certificate (PEM or DER)"
  fi
done

refusals=()
if [ -z "$pkcs12" ] && [ -z "$unsigned" ]; then
  refusals+=("no certificate to sign with (--sign-pkcs12): Windows would name the publisher \"Unknown\" and nobody could tell the exe from another; --unsigned allows it")
fi
if [ -n "$pkcs12" ] && [ -z "$timestamp_url$no_timestamp" ]; then
  refusals+=("no timestamp (--timestamp-url URL): the signature would stop verifying when the certificate expires; --no-timestamp allows it")
fi
signer="" pin=""
if [ -n "$pkcs12" ]; then
  # The certificate is judged before anything is built: the password is read by openssl from its
  # file, and openssl never prints it.
  certificates() {  # KIND (-clcerts or -cacerts) OUT; files of older tools need OpenSSL's legacy ciphers
    openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys "$1" -out "$2" 2>>"$work/pkcs12.log" ||
      openssl pkcs12 -legacy -in "$pkcs12" -passin "file:$password_file" -nokeys "$1" -out "$2" 2>>"$work/pkcs12.log"
  }
  if ! certificates -clcerts "$work/leaf.pem" || ! certificates -cacerts "$work/chain.pem" ||
     ! grep -q "BEGIN CERTIFICATE" "$work/leaf.pem"; then
    echo "release: signing failed: $pkcs12 cannot be read with the password in $password_file:" >&2
    cat "$work/pkcs12.log" >&2
    exit 1
  fi
  signer=$(openssl x509 -in "$work/leaf.pem" -noout -subject -nameopt compat | sed 's/^subject=//')
  pin=$(python3 "$root/tools/signer-pin.py" "$work/leaf.pem" | sed -n '1s/ .*//p')
  untrusted=()
  grep -q "BEGIN CERTIFICATE" "$work/chain.pem" && untrusted=(-untrusted "$work/chain.pem")
  if ! openssl verify -CAfile "$roots" "${untrusted[@]}" "$work/leaf.pem" >"$work/chain.log" 2>&1; then
    reason=$(grep -m1 -o 'error [0-9]* at [0-9]* depth lookup: .*' "$work/chain.log" || head -n 1 "$work/chain.log")
    refusals+=("the certificate $signer does not verify against the roots this machine trusts ($reason); --trust-root FILE adds a root, for a test CA")
  fi
fi

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

for reason in "${refusals[@]}"; do echo "release: refused: $reason" >&2; done
[ ${#refusals[@]} -eq 0 ] || prepare_options+=(--check-only)
python3 "$root/tools/release.py" prepare "$source_dir" "$tree/carried/inputs.bin" "${prepare_options[@]}" || exit $?
[ ${#refusals[@]} -eq 0 ] || exit 2

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
if [ -n "$unsigned" ]; then
  cp "$built" "$output"
  echo "release: $output is NOT signed (--unsigned); Windows will name its publisher \"Unknown\"" >&2
else
  sign=(osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "Tarvelo Setup"
        -in "$built" -out "$work/signed.exe")
  [ -n "$timestamp_url" ] && sign+=(-ts "$timestamp_url")
  if ! "${sign[@]}" >"$work/sign.log" 2>&1; then
    # osslsigncode never prints the password it read; its own messages say what failed.
    echo "release: signing failed:" >&2
    cat "$work/sign.log" >&2
    exit 1
  fi
  if ! osslsigncode verify -CAfile "$roots" -TSA-CAfile "$roots" -in "$work/signed.exe" >"$work/verify.log" 2>&1; then
    echo "release: the signature does not verify against this machine's roots and --trust-root:" >&2
    grep -iE 'fail|error|verif' "$work/verify.log" >&2 || cat "$work/verify.log" >&2
    exit 1
  fi
  stamped=""
  if [ -n "$timestamp_url" ]; then
    if ! grep -q "Timestamp Server Signature verification: ok" "$work/verify.log"; then
      echo "release: the signature's timestamp from $timestamp_url does not verify against this machine's roots and --trust-root:" >&2
      grep -iE 'timestamp' "$work/verify.log" >&2 || true
      exit 1
    fi
    # osslsigncode 2.5 writes "The signature is timestamped: <time>", later ones "Timestamp time: <time>".
    stamped=$(sed -n 's/^\(The signature is timestamped\|[[:space:]]*Timestamp time\): //p' "$work/verify.log" | sed -n 1p)
  fi
  mv "$work/signed.exe" "$output"
  chmod 755 "$output"  # as the unsigned exe: osslsigncode writes its output without the x bit
  echo "release: signed by $signer"
  echo "release: signer's SPKI pin $pin"
  if [ -n "$timestamp_url" ]; then
    echo "release: timestamped $stamped by $timestamp_url"
  else
    echo "release: NOT timestamped (--no-timestamp): the signature stops verifying when the certificate expires" >&2
  fi
fi
echo "release: $output ($(stat -c %s "$output") bytes, $arch)"
