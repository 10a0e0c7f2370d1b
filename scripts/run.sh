#!/usr/bin/env bash
# Builds everything and runs the main job under Wine, as a user would: the
# library and its message service are registered, a MAPI profile is made and
# the bundled sample mailbox database is added to it through the add-store
# wizard (driven page by page, a screenshot of each in build/screenshots);
# then a MAPI client logs on to that profile (the stand-in subsystem loads
# KOLVEN32.dll, which starts the database server) and prints the IPM subtree,
# the folder trees with their counts and the first rows of every contents
# table. Arguments, if given, name another database (and its log folder)
# instead, as Windows or Linux paths.
#
# With --outlook the run goes through the stand-in Outlook instead: it loads
# the add-in, whose toolbar button adds the database through the wizard;
# the store's folder list is printed, one mailbox is unticked on the store's
# "Mailboxes" page and applied, and the folder list is printed again.
set -euo pipefail
outlook=0
if [ "${1:-}" = "--outlook" ]; then
    outlook=1
    shift
fi
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
vostrel_build
vostrel_start_session
# Paths that name files or folders here are handed over as Windows paths.
args=()
for path in "$@"; do
    if [ -e "$path" ]; then
        args+=("$(winepath -w "$(realpath "$path")")")
    else
        args+=("$path")
    fi
done
set -- ${args[@]+"${args[@]}"}
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
mkdir -p "$build/screenshots"
if [ "$outlook" = 1 ]; then
    "$build/wine-exec.sh" VostrelOutlook.exe "$@" --screenshots "$(winepath -w "$build/screenshots")"
    exit 0
fi
"$build/wine-exec.sh" VostrelAddStore.exe "$@" --screenshots "$(winepath -w "$build/screenshots")"
"$build/wine-exec.sh" VostrelMapiBrowse.exe --profile Vostrel
