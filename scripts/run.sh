#!/usr/bin/env bash
# Builds everything and runs the main job under Wine: the browser opens the
# bundled sample mailbox database through the database server and prints its
# mailboxes, folders and messages. Arguments, if given, name another database
# (and its log folder) instead, as Windows or Linux paths.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
vostrel_build
vostrel_start_session
cd "$build/bin"
if [ $# -eq 0 ]; then
    sample="$build/sample/Sample.edb"
    if [ ! -f "$sample" ]; then
        mkdir -p "$build/sample"
        wine VostrelMakeSample.exe "$(winepath -w "$sample")" >/dev/null
    fi
    set -- "$(winepath -w "$sample")"
fi
wine VostrelBrowse.exe "$@"
