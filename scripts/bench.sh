#!/usr/bin/env bash
# Builds everything, brings up the Wine session with the stand-ins in place and
# runs the benchmarks (every one the build lists in build/<arch>/benchmarks.txt, or
# the ones named: `bash scripts/bench.sh store_remote_bench`). Each benchmark
# prints its figures as RESULT lines, every figure next to a reference measured
# in the same run; the figures of all of them end up in one table. The full
# output of each benchmark is kept in build/<arch>/bench-logs/<name>.log.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
# One architecture for the whole run, so every ratio compares figures of the
# same build: i686 where this machine runs 32-bit programs, else x86_64
# (VOSTREL_ARCH chooses).
vostrel_pick_arch
vostrel_build

list="$build/benchmarks.txt"
[ -f "$list" ] || { echo "no benchmark list at $list" >&2; exit 1; }
mapfile -t known < <(grep -v '^$' "$list")
if [ $# -gt 0 ]; then
    benches=()
    for name in "$@"; do
        exe="${name%.exe}.exe"
        printf '%s\n' "${known[@]}" | grep -qx "$exe" || { echo "no benchmark named $name (known: ${known[*]%.exe})" >&2; exit 2; }
        benches+=("$exe")
    done
else
    benches=("${known[@]}")
fi

vostrel_start_session
# The stand-in mapi32.dll beside the programs, not Wine's own.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mapi32=n,b"
cd "$build/bin"
# The stand-in HTML filter, which the conversion benchmark reads pages through.
[ -f htmlfilter.dll ] && vostrel_wine regsvr32 /s htmlfilter.dll

# The servers a benchmark started run on until their idle time is up; a
# benchmark that asked for one while it is ending would fail, so each starts
# once those of this prefix are gone (30 s at most).
wait_for_servers() {
    local i pid busy
    for i in $(seq 1 300); do
        busy=0
        for pid in $(pgrep -f 'Vostrel2003\.exe|VostrelRowReplayServer\.exe|VostrelContractTestServer\.exe' || true); do
            if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
                busy=1
            fi
        done
        [ $busy -eq 0 ] && return 0
        sleep 0.1
    done
}

logs="$build/bench-logs"
mkdir -p "$logs"
table=$(mktemp)
failed=0
for exe in "${benches[@]}"; do
    name="${exe%.exe}"
    wait_for_servers
    echo "running $name ..." >&2
    start=$SECONDS
    # Not piped: a server the benchmark starts inherits its output handles.
    # A benchmark that hangs is reported as failed after 20 minutes and the
    # others still run.
    if timeout --kill-after=10 1200 "$WINELOADER" "$exe" >"$logs/$name.log" 2>&1; then
        status=ok
    else
        status="failed ($?)"
        failed=1
    fi
    echo "  $status in $((SECONDS - start)) s, log $logs/$name.log" >&2
    if grep -q $'^RESULT\t' "$logs/$name.log"; then
        grep $'^RESULT\t' "$logs/$name.log" | tr -d '\r' | sed "s/^RESULT/$name/" >>"$table"
    fi
    [ "$status" = ok ] || printf '%s\t%s\t\t\t\t\t\n' "$name" "FAILED: $status, see $logs/$name.log" >>"$table"
done

# One table: benchmark, figure, value and unit, reference and its value, ratio.
awk -F'\t' '
    { bench[NR] = $1; figure[NR] = $2; value[NR] = $3 " " $4; ref[NR] = $5; refValue[NR] = $6; ratio[NR] = $7
      if (length($2) > wf) wf = length($2)
      if (length($5) > wr) wr = length($5) }
    END {
        if (wf > 90) wf = 90
        if (wr > 50) wr = 50
        printf "%-*s %14s   %-*s %12s %8s\n", wf + 2, "figure", "value", wr, "reference (same run)", "value", "ratio"
        for (i = 1; i <= NR; ++i) {
            if (bench[i] != last) { printf "\n%s\n", bench[i]; last = bench[i] }
            printf "  %-*s %14s   %-*s %12s %8s\n", wf, figure[i], value[i], wr, ref[i], refValue[i], ratio[i]
        }
    }' "$table"
rm -f "$table"
exit $failed
