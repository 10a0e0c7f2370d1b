# Sourced by run.sh and test.sh: configures and builds the tree, then brings up
# the Wine session the programs run in (prefix, display, one wineserver) and
# takes it down again on exit. Only this tree's own prefix and display are touched.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VOSTREL_BUILD:-$top/build}
prefix=$build/wineprefix
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

vostrel_build() {
    cmake -S "$top" -B "$build" -G Ninja >/dev/null
    # The build's own status decides (a pipe into a filter would hide it
    # under pipefail); its progress lines are left out of what is shown.
    local status=0
    cmake --build "$build" -- -j"$(nproc)" >"$build/build.log" 2>&1 || status=$?
    grep -v '^\[' "$build/build.log" || true
    return $status
}

vostrel_start_session() {
    if [ ! -f "$prefix/.vostrel-ready" ]; then
        rm -rf "$prefix"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        # No window manager under Xvfb: unmanaged windows close faster.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
        touch "$prefix/.vostrel-ready"
    fi
    # Drive letters left behind by an earlier run that mounted images.
    for link in "$prefix"/dosdevices/[d-y]:; do
        [ -L "$link" ] && [ "$(basename "$link")" != "z:" ] && rm -f "$link"
    done

    trap vostrel_end_session EXIT
    local n=97
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n

    # One persistent wineserver for the run (one left running for this prefix
    # serves as well).
    wineserver -p 2>/dev/null || true

    # Programs run by hand in the prefix (benchmarks, tests) load the stand-in
    # MAPI library from their own folder, as the tests' wrapper has them do.
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v mapi32 /d native,builtin /f >/dev/null 2>&1 \
        || { echo "setting the prefix's MAPI override failed" >&2; return 1; }

    # The proxy/stub library, the server and the stand-in MIME converter are
    # registered in the prefix once per run.
    (cd "$build/bin" && wine regsvr32 /s Vostrel2007PS.dll && wine Vostrel2003.exe /RegServer \
        && { [ ! -f mimeconv.dll ] || wine regsvr32 /s mimeconv.dll; }) \
        || { echo "registration in the Wine prefix failed" >&2; return 1; }
}

vostrel_end_session() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
