# Sourced by run.sh, test.sh and bench.sh: configures and builds the tree for
# an architecture, brings up the Wine session its programs run in (prefix,
# display, one wineserver) and takes it down again. Only this tree's own
# prefixes and displays are touched.
#
# One source tree, two build trees under $VOSTREL_BUILD (default build/):
# i686/ is the product for 32-bit Outlook, x86_64/ the same tree built for
# 64-bit Windows. Each has its own Wine prefix (win32 or win64) and its own
# registrations.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${VOSTREL_BUILD:-$top/build}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

vostrel_say() { echo "$*" >&2; }

# Whether this machine runs 32-bit Windows programs: the 32-bit Wine loader
# must start at all (a kernel without 32-bit support answers "Exec format
# error"). Sets probe_reason when it does not. VOSTREL_NO_32BIT=1 answers no.
vostrel_probe_32bit() {
    probe_reason=
    if [ -n "${VOSTREL_NO_32BIT:-}" ] && [ "${VOSTREL_NO_32BIT}" != 0 ]; then
        probe_reason="VOSTREL_NO_32BIT is set"
        return 1
    fi
    if [ ! -x /usr/lib/wine/wine ]; then
        probe_reason="the 32-bit Wine loader (wine32) is not installed"
        return 1
    fi
    local out
    if ! out=$(timeout --kill-after=2 5 /usr/lib/wine/wine --version 2>&1); then
        case $out in
            *"Exec format error"*) probe_reason="this machine cannot execute 32-bit code" ;;
            "") probe_reason="the 32-bit Wine loader did not answer within 5 s" ;;
            *) probe_reason="the 32-bit Wine loader does not start (${out%%$'\n'*})" ;;
        esac
        return 1
    fi
    return 0
}

# Chooses the architecture that the functions below work on.
vostrel_use_arch() {
    arch=$1
    case $arch in
        i686) export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
        x86_64) export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
        *) vostrel_say "unknown architecture '$arch' (i686 or x86_64)"; return 2 ;;
    esac
    build=$build_root/$arch
    prefix=$build/wineprefix
    export WINEPREFIX=$prefix
}

# The architecture run.sh and bench.sh use: i686 wherever the machine runs
# 32-bit programs, else x86_64; VOSTREL_ARCH chooses one.
vostrel_pick_arch() {
    if [ -n "${VOSTREL_ARCH:-}" ]; then
        vostrel_use_arch "$VOSTREL_ARCH"
        vostrel_say "$VOSTREL_ARCH: chosen by VOSTREL_ARCH"
    elif vostrel_probe_32bit; then
        vostrel_use_arch i686
        vostrel_say "i686: the product build, run under 32-bit Wine"
    else
        vostrel_use_arch x86_64
        vostrel_say "x86_64: run under 64-bit Wine; i686 not run, $probe_reason"
    fi
}

# A Windows program of the current architecture (wineboot, regsvr32, reg,
# winepath, sc or one of ours): always through that architecture's loader.
vostrel_wine() { "$WINELOADER" "$@"; }

vostrel_build() {
    mkdir -p "$build"
    # The compiler cache hashes sources by their path below the checkout, so
    # another clone of the tree finds what this one compiled.
    export CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=1
    cmake -S "$top" -B "$build" -G Ninja -DVOSTREL_ARCH="$arch" >"$build/configure.log" 2>&1 \
        || { cat "$build/configure.log" >&2; vostrel_say "$arch: configuring the build failed"; return 1; }
    # The build's own status decides (a pipe into a filter would hide it
    # under pipefail); its progress lines are left out of what is shown.
    local status=0
    cmake --build "$build" -- -j"$(nproc)" >"$build/build.log" 2>&1 || status=$?
    grep -v '^\[' "$build/build.log" || true
    [ $status -eq 0 ] || vostrel_say "$arch: the build failed (log $build/build.log)"
    return $status
}

vostrel_start_session() {
    if [ ! -f "$prefix/.vostrel-ready" ]; then
        rm -rf "$prefix"
        mkdir -p "$prefix"
        vostrel_wine wineboot -i >"$build/wineboot.log" 2>&1 \
            || { tail -n 20 "$build/wineboot.log" >&2; vostrel_say "$arch: wineboot -i of the $WINEARCH prefix $prefix failed"; return 1; }
        wineserver -w
        # No window manager under Xvfb: unmanaged windows close faster.
        vostrel_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 \
            || { vostrel_say "$arch: setting the prefix's X11 driver options failed"; return 1; }
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
    if ! command -v Xvfb >/dev/null; then
        vostrel_say "$arch: Xvfb is not installed"; return 1
    fi
    Xvfb :$n -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    local tries=0
    until [ -e /tmp/.X11-unix/X$n ]; do
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            vostrel_say "$arch: Xvfb did not start on display :$n"; return 1
        fi
        tries=$((tries + 1))
        [ $tries -lt 100 ] || { vostrel_say "$arch: Xvfb did not open display :$n within 10 s"; return 1; }
        sleep 0.1
    done

    # One persistent wineserver for the run (one left running for this prefix
    # serves as well).
    wineserver -p 2>/dev/null || true

    # Programs run by hand in the prefix (benchmarks, tests) load the stand-in
    # MAPI library from their own folder, as the tests' wrapper has them do.
    vostrel_wine reg add 'HKCU\Software\Wine\DllOverrides' /v mapi32 /d native,builtin /f >/dev/null 2>&1 \
        || { vostrel_say "$arch: setting the prefix's MAPI override failed"; return 1; }

    # The proxy/stub library, the server and the stand-in MIME converter are
    # registered in the prefix once per run.
    (cd "$build/bin" && vostrel_wine regsvr32 /s Vostrel2007PS.dll) \
        || { vostrel_say "$arch: registering Vostrel2007PS.dll in the prefix failed"; return 1; }
    (cd "$build/bin" && vostrel_wine Vostrel2003.exe /RegServer) \
        || { vostrel_say "$arch: registering the server (Vostrel2003.exe /RegServer) failed"; return 1; }
    if [ -f "$build/bin/mimeconv.dll" ]; then
        (cd "$build/bin" && vostrel_wine regsvr32 /s mimeconv.dll) \
            || { vostrel_say "$arch: registering the stand-in MIME converter (mimeconv.dll) failed"; return 1; }
    fi
}

vostrel_end_session() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
}
