#!/usr/bin/env bash
# Backups of a database for the main job's backup sources, written by
# VostrelMakeBackups: an archive volume holding the database and its logs
# (data-source kind 1), the same as a collection of a database volume and a
# log volume, and backup catalogs of both layouts with their VHDs (kind 2).
# The list of what was made goes to sources.txt in the output folder, one line
# per kind: the kind ("archive", "archive-split", "catalog-2010",
# "catalog-2007"), the folder the data-source page takes, and the database
# and its log folder on the mounted drive, relative to its root, tab-separated
# (Windows paths).
#
# Sourced after session.sh, with the session started, it defines
#   vostrel_make_backup_sources <database.edb> <log folder, or -> <output folder>
#       remakes the output folder unless it was made from this database after
#       the database and the tool last changed;
#   vostrel_backup_source <output folder> <kind>
#       prints the line of one kind.
# Run directly it builds the tree, writes the bundled sample when it is
# missing, makes its backups into build/<arch>/sample/backups (or, for a database
# given as arguments, into build/<arch>/backups/<name>) and prints the list:
#   bash scripts/make-backup-sources.sh [<database.edb> [<log folder>]]

vostrel_make_backup_sources() {
    local database=$1 logs=$2 out=$3
    if [ -f "$out/sources.txt" ] && [ "$out/sources.txt" -nt "$database" ] \
        && [ "$out/sources.txt" -nt "$build/bin/VostrelMakeBackups.exe" ] \
        && [ "$(cat "$out/made-from" 2>/dev/null)" = "$database $logs" ]; then
        return 0
    fi
    rm -rf "$out"
    mkdir -p "$(dirname "$out")"
    local logs_w=- list
    [ "$logs" = - ] || logs_w=$(vostrel_wine winepath -w "$logs")
    list=$(cd "$build/bin" && vostrel_wine VostrelMakeBackups.exe "$(vostrel_wine winepath -w "$database")" "$logs_w" \
        "$(vostrel_wine winepath -w "$out")") || { echo "making the backups of $database failed" >&2; return 1; }
    printf '%s\n' "$list" | tr -d '\r' > "$out/sources.txt"
    echo "$database $logs" > "$out/made-from"
}

vostrel_backup_source() {
    grep -P "^$2\t" "$1/sources.txt"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    source "$(dirname "$0")/session.sh"
    bash "$top/scripts/setup.sh"
    vostrel_pick_arch
    vostrel_build
    vostrel_start_session
    if [ $# -eq 0 ]; then
        database=$build/sample/Sample.edb
        out=$build/sample/backups
        if [ ! -f "$database" ]; then
            mkdir -p "$build/sample"
            (cd "$build/bin" && vostrel_wine VostrelMakeSample.exe "$(vostrel_wine winepath -w "$database")" >/dev/null)
        fi
    else
        database=$(realpath "$1")
        name=$(basename "$database")
        out=$build/backups/${name%.*}
    fi
    logs=-
    [ $# -lt 2 ] || logs=$(realpath "$2")
    vostrel_make_backup_sources "$database" "$logs" "$out"
    cat "$out/sources.txt"
fi
