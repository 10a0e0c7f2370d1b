#!/usr/bin/env bash
# Installs everything the build and the tests need from Debian's packages.
# Idempotent: a second run only checks that the packages are present.
set -euo pipefail

need=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev mingw-w64-tools
      libz-mingw-w64-dev wine wine32:i386 wine64 xvfb cmake ninja-build googletest
      tcl dpkg-dev x11-apps libpython3.11-testsuite dosfstools mtools ccache)

missing=()
for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done
# The SQLite amalgamation is generated from Debian's source package (no mingw build exists).
top=$(cd "$(dirname "$0")/.." && pwd)
sqlite_dir="$top/.deps/sqlite"
[ -f "$sqlite_dir/sqlite3.c" ] || need_sqlite=1

if [ ${#missing[@]} -eq 0 ] && [ -z "${need_sqlite:-}" ]; then
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -ne 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ -n "${need_sqlite:-}" ]; then
    if ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # Mirror the binary entries as source entries (deb822 or one-line format).
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
                > /etc/apt/sources.list.d/debian-src.sources
        else
            grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
                > /etc/apt/sources.list.d/debian-src.list
        fi
        apt-get update -qq
    fi
    work=$(mktemp -d)
    (cd "$work" && apt-get source -qq sqlite3 >/dev/null 2>&1)
    src=$(find "$work" -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
    (cd "$src" && ./configure >/dev/null 2>&1 && make sqlite3.c >/dev/null 2>&1)
    mkdir -p "$sqlite_dir"
    cp "$src/sqlite3.c" "$src/sqlite3.h" "$sqlite_dir/"
    rm -rf "$work"
fi
