#!/usr/bin/env bash
# Prints the MinGW architecture the Windows test tree is built for: i686, as shipped, when this
# host can run 32-bit code under Wine; x86_64 otherwise (some hosts run 64-bit user code only).
if [ -n "${TARVELO_TEST_ARCH:-}" ]; then echo "$TARVELO_TEST_ARCH"; exit 0; fi
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
