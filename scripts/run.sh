#!/usr/bin/env bash
# Builds everything and runs the main job under Wine, as a user would: the
# library and its message service are registered, a MAPI profile is made and
# the bundled sample mailbox database is added to it through the add-store
# wizard (driven page by page, a screenshot of each in build/<arch>/screenshots);
# then a MAPI client logs on to that profile (the stand-in subsystem loads
# KOLVEN32.dll, which starts the database server) and prints the IPM subtree,
# the folder trees with their counts and the first rows of every contents
# table. Arguments, if given, name another database (and its log folder)
# instead, as Windows or Linux paths.
#
# With --source archive or --source catalog the database is added from a
# backup made of it (scripts/make-backup-sources.sh): the image-mounting
# driver stand-in is installed in the prefix for the run, and the wizard is
# led through the data-source page and the backup-archive volume page (the
# volume is mounted; the database page is given the paths on its drive) or
# the catalog version page (a version of the 2010-layout catalog; its VHD is
# mounted and the catalog names the file). Then the store is browsed as
# above; logging off takes the drive down. archive-split, catalog-2010 and
# catalog-2007 name the other backups made.
#   bash scripts/run.sh [--source archive|catalog] [<database.edb> [log folder]]
#
# With --outlook the run goes through the stand-in Outlook instead: it loads
# the add-in, whose toolbar button adds the database through the wizard;
# the store's folder list is printed, one mailbox is unticked on the store's
# "Mailboxes" page and applied, and the folder list is printed again.
set -euo pipefail
source "$(dirname "$0")/session.sh"

backup_kind=
outlook=0
rest=()
while [ $# -gt 0 ]; do
    case $1 in
        --outlook) outlook=1; shift ;;
        --source) backup_kind=${2:-}; shift; [ $# -eq 0 ] || shift ;;
        --source=*) backup_kind=${1#--source=}; shift ;;
        *) rest+=("$1"); shift ;;
    esac
done
set -- ${rest[@]+"${rest[@]}"}
case $backup_kind in
    "" | archive | archive-split | catalog-2010 | catalog-2007) ;;
    catalog) backup_kind=catalog-2010 ;;
    *) echo "run.sh: --source takes archive or catalog (or archive-split, catalog-2010, catalog-2007)" >&2; exit 2 ;;
esac
if [ "$outlook" = 1 ] && [ -n "$backup_kind" ]; then
    echo "run.sh: --outlook adds a database file, not a backup: it takes no --source" >&2
    exit 2
fi

bash "$top/scripts/setup.sh"
# The i686 build (the product) where this machine runs 32-bit programs, else
# the x86_64 one; VOSTREL_ARCH chooses.
vostrel_pick_arch
vostrel_build
vostrel_start_session

# The bundled sample, written again when it is older than the program that writes it.
vostrel_sample() {
    sample="$build/sample/Sample.edb"
    if [ ! -f "$sample" ] || [ "$build/bin/VostrelMakeSample.exe" -nt "$sample" ]; then
        rm -rf "$build/sample"
        mkdir -p "$build/sample"
        (cd "$build/bin" && vostrel_wine VostrelMakeSample.exe "$(vostrel_wine winepath -w "$sample")" >/dev/null)
    fi
}

# The image-mounting driver stand-in as a kernel service of the prefix, for
# this run only (the tests install their own).
vostrel_remove_image_driver() {
    vostrel_wine sc stop QorBus >/dev/null 2>&1 || true
    vostrel_wine sc delete QorBus >/dev/null 2>&1 || true
}
vostrel_install_image_driver() {
    vostrel_remove_image_driver
    vostrel_wine sc create QorBus type= kernel start= demand binPath= "$(vostrel_wine winepath -w "$build/bin/qorbus.sys")" >/dev/null \
        && vostrel_wine sc start QorBus >/dev/null \
        || { echo "installing the image-mounting driver stand-in failed" >&2; return 1; }
    local tries=0
    until vostrel_wine sc query QorBus 2>/dev/null | grep -q RUNNING; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || { echo "the image-mounting driver stand-in did not start" >&2; return 1; }
        sleep 0.1
    done
}

if [ -n "$backup_kind" ]; then
    source "$top/scripts/make-backup-sources.sh"
    if [ $# -eq 0 ]; then
        vostrel_sample
        database=$sample
        out=$build/sample/backups
    else
        database=$(realpath "$1")
        name=$(basename "$database")
        out=$build/backups/${name%.*}
    fi
    logs=-
    [ $# -lt 2 ] || logs=$(realpath "$2")
    vostrel_make_backup_sources "$database" "$logs" "$out"
    IFS=$'\t' read -r _ folder on_drive_database on_drive_logs < <(vostrel_backup_source "$out" "$backup_kind")
    trap 'vostrel_remove_image_driver; vostrel_end_session' EXIT
    vostrel_install_image_driver
    mkdir -p "$build/screenshots"
    cd "$build/bin"
    if [ "${backup_kind%%-*}" = archive ]; then
        "$build/wine-exec.sh" VostrelAddStore.exe --archive "$folder" "$on_drive_database" "$on_drive_logs" \
            --screenshots "$(vostrel_wine winepath -w "$build/screenshots")"
    else
        "$build/wine-exec.sh" VostrelAddStore.exe --catalog "$folder" --screenshots "$(vostrel_wine winepath -w "$build/screenshots")"
    fi
    "$build/wine-exec.sh" VostrelMapiBrowse.exe --profile Vostrel
    exit 0
fi

# Paths that name files or folders here are handed over as Windows paths.
args=()
for path in "$@"; do
    if [ -e "$path" ]; then
        args+=("$(vostrel_wine winepath -w "$(realpath "$path")")")
    else
        args+=("$path")
    fi
done
set -- ${args[@]+"${args[@]}"}
cd "$build/bin"
if [ $# -eq 0 ]; then
    vostrel_sample
    set -- "$(vostrel_wine winepath -w "$sample")"
fi
mkdir -p "$build/screenshots"
if [ "$outlook" = 1 ]; then
    "$build/wine-exec.sh" VostrelOutlook.exe "$@" --screenshots "$(vostrel_wine winepath -w "$build/screenshots")"
    exit 0
fi
"$build/wine-exec.sh" VostrelAddStore.exe "$@" --screenshots "$(vostrel_wine winepath -w "$build/screenshots")"
"$build/wine-exec.sh" VostrelMapiBrowse.exe --profile Vostrel
