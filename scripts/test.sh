#!/usr/bin/env bash
# Builds everything for i686 and x86_64 and runs every test under Wine: the
# x86_64 suite always (64-bit Wine), the i686 suite wherever this machine runs
# 32-bit programs. Arguments go to ctest (`bash scripts/test.sh -R contract`).
# VOSTREL_ARCH=i686 or x86_64 builds and tests that architecture alone;
# VOSTREL_NO_32BIT=1 makes the machine count as one without 32-bit support.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"

case ${VOSTREL_ARCH:-} in
    "") archs=(i686 x86_64) ;;
    i686 | x86_64) archs=("$VOSTREL_ARCH") ;;
    *) vostrel_say "VOSTREL_ARCH must be i686 or x86_64, not '$VOSTREL_ARCH'"; exit 2 ;;
esac

# Both trees are built wherever they are asked for: the i686 build is the
# product even where it cannot run here.
for a in "${archs[@]}"; do
    vostrel_use_arch "$a"
    vostrel_build
done

runs_32bit=1
vostrel_probe_32bit || runs_32bit=0

declare -A outcome
failed=0
for a in "${archs[@]}"; do
    if [ "$a" = i686 ] && [ $runs_32bit = 0 ]; then
        outcome[$a]="not run, $probe_reason"
        continue
    fi
    vostrel_use_arch "$a"
    vostrel_say "$a: running the tests in $build"
    # Each architecture's session in a subshell of its own, ended when it ends.
    status=0
    (
        vostrel_start_session
        cd "$build"
        ctest --output-on-failure -j"$(nproc)" "$@"
    ) || status=$?
    if [ $status -eq 0 ]; then
        outcome[$a]="ran, all tests passed"
    else
        outcome[$a]="ran, FAILED (status $status)"
        failed=1
    fi
done

echo
for a in "${archs[@]}"; do
    echo "$a: ${outcome[$a]}"
done
exit $failed
