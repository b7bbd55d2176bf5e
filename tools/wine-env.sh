# Sourced: the Wine settings every run of this project uses. Expects WINEPREFIX to be set.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=${WINEARCH:-win64}
# Some hosts run 64-bit user code only; there the 32-bit loader fails with "Exec format error".
if [ -z "${WINE:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then WINE=wine; else WINE=/usr/lib/wine/wine64; fi
fi
export WINE
# WinHTTP's default proxy setting reads http_proxy, so the caller's proxy variables never reach
# Wine; a test that wants one on purpose sets TARVELO_WINE_HTTP_PROXY.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY no_proxy NO_PROXY 2>/dev/null || true
if [ -n "${TARVELO_WINE_HTTP_PROXY:-}" ]; then export http_proxy=$TARVELO_WINE_HTTP_PROXY; fi
if [ ! -f "$WINEPREFIX/.tarvelo-ready" ]; then
  bash "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINEPREFIX" >&2
fi
