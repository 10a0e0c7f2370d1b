#!/usr/bin/env bash
# Builds everything and runs the main job under Wine, as a user would: the
# library and its message service are registered, a MAPI profile is made and
# the bundled sample mailbox database is added to it through the add-store
# wizard (driven page by page, a screenshot of each in build/screenshots);
# then the database is browsed through the server: its mailboxes, folders and
# messages. Arguments, if given, name another database (and its log folder)
# instead, as Windows or Linux paths.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
vostrel_build
vostrel_start_session
# MAPI is our stand-in library beside the programs.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mapi32=n,b"
cd "$build/bin"
if [ $# -eq 0 ]; then
    sample="$build/sample/Sample.edb"
    if [ ! -f "$sample" ]; then
        mkdir -p "$build/sample"
        wine VostrelMakeSample.exe "$(winepath -w "$sample")" >/dev/null
    fi
    set -- "$(winepath -w "$sample")"
fi
# Linux paths are handed over as Windows paths.
args=()
for path in "$@"; do
    case "$path" in
        /*) args+=("$(winepath -w "$path")") ;;
        *) args+=("$path") ;;
    esac
done
mkdir -p "$build/screenshots"
wine VostrelAddStore.exe "${args[@]}" --screenshots "$(winepath -w "$build/screenshots")"
wine VostrelBrowse.exe "${args[@]}"
