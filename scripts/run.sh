#!/usr/bin/env bash
# Builds everything and runs the main job under Wine: a MAPI client makes a
# profile holding a store of the bundled sample mailbox database, logs on
# through MAPI (the stand-in subsystem loads KOLVEN32.dll, which starts the
# database server) and prints the IPM subtree, the folder trees with their
# counts and the first rows of every contents table. Arguments, if given,
# name another database (and its log folder) instead, as Windows paths.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
vostrel_build
vostrel_start_session
cd "$build/bin"
if [ $# -eq 0 ]; then
    sample="$build/sample/Sample.edb"
    # A sample older than the program that writes it is written again.
    if [ ! -f "$sample" ] || [ VostrelMakeSample.exe -nt "$sample" ]; then
        rm -rf "$build/sample"
        mkdir -p "$build/sample"
        wine VostrelMakeSample.exe "$(winepath -w "$sample")" >/dev/null
    fi
    set -- "$(winepath -w "$sample")"
fi
"$build/wine-exec.sh" VostrelMapiBrowse.exe "$@"
