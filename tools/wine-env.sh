# Sourced: the Wine settings every run of this project uses. Expects WINEPREFIX to be set.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=${WINEARCH:-win64}
# Some hosts run 64-bit user code only; there the 32-bit loader fails with "Exec format error".
if [ -z "${WINE:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then WINE=wine; else WINE=/usr/lib/wine/wine64; fi
fi
export WINE
# No proxy from the environment unless a test sets one on purpose.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY no_proxy NO_PROXY 2>/dev/null || true
if [ ! -f "$WINEPREFIX/.tarvelo-ready" ]; then
  bash "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX" >&2
fi
