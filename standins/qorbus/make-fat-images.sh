#!/usr/bin/env bash
# Makes the partition images the image-mounting tests present: a FAT16 and a
# FAT32 file system (Debian's dosfstools and mtools) holding the same tree of
# files, which is written beside them so that the tests can compare what the
# drive shows with what went in. The tests wrap the partitions into archive
# volumes and VHDs themselves.
#   make-fat-images.sh <output folder>
set -euo pipefail
out=$1
files=$out/files
rm -rf "$out"
mkdir -p "$files/Logs" "$files/deep/er"

# A database-like file: data that does not pack (stored blocks), text that
# packs well (zlib blocks) and a run of zeros, over several clusters of 4 KiB.
head -c 131072 /dev/urandom > "$files/Mailbox.edb"
for i in $(seq 1 3000); do echo "page $i of the mailbox database, row after row"; done >> "$files/Mailbox.edb"
head -c 65536 /dev/zero >> "$files/Mailbox.edb"
for i in $(seq 1 700); do echo "log record $i"; done > "$files/Logs/E00.log"
head -c 5000 /dev/urandom > "$files/Logs/E0000000001.log"
echo "A name longer than eight characters, with blanks." > "$files/A long file name with spaces.txt"
echo "three folders down" > "$files/deep/er/nested.txt"
echo "a long name beyond ASCII" > "$files/Postfach Müller – €.txt"
: > "$files/empty.dat"
head -c 4096 /dev/urandom > "$files/one cluster.bin"

# Long names are UTF-16 on the disk; mtools converts them through the locale.
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0
make_image() { # image, size in KiB, fat bits, label
    local image=$1
    mkfs.fat -C -F "$3" -S 512 -s "$5" -n "$4" -i 51C0FA7E "$image" "$2" >/dev/null
    # A file deleted after it was written leaves an entry that readers skip.
    echo "gone" > "$out/removed.txt"
    mcopy -i "$image" -Q "$out/removed.txt" ::/removed.txt
    mdel -i "$image" ::/removed.txt
    rm -f "$out/removed.txt"
    mcopy -i "$image" -s -Q "$files"/* ::/
}
make_image "$out/fat16.img" 20480 16 QORFAT16 8
make_image "$out/fat32.img" 34816 32 QORFAT32 1
