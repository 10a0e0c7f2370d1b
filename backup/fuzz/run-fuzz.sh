#!/usr/bin/env bash
# Builds the native archive fuzzer with the host's clang (libFuzzer, address,
# undefined-behaviour and leak sanitizers) and runs it for a while: block
# codecs, cipher and saved extent index; archives of both formats through
# OpenArchive, with companion files; the backup catalog through SQLite.
# Usage: bash backup/fuzz/run-fuzz.sh [seconds] [workers]   (60 and 1 unless given)
# Findings (crash-*, leak-*, timeout-*) go to the build tree's fuzz folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
backup=$(dirname "$here")
top=$(dirname "$backup")
out=${VOSTREL_BUILD:-$top/build}/fuzz
seconds=${1:-60}
workers=${2:-1}
mkdir -p "$out/corpus" "$out/seeds"

# SQLite: the amalgamation the product is built from (scripts/setup.sh makes
# it), instrumented for coverage and addresses; built once.
sqlite_flags="-DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DEFAULT_FOREIGN_KEYS=0 -DSQLITE_DQS=0"
amalgamation=$top/.deps/sqlite
if [ ! -f "$amalgamation/sqlite3.c" ]; then
    echo "SQLite amalgamation missing in $amalgamation: run scripts/setup.sh" >&2
    exit 1
fi
if [ ! -f "$out/sqlite3.o" ] || [ "$amalgamation/sqlite3.c" -nt "$out/sqlite3.o" ]; then
    clang -g -O1 -w -fsanitize=address,fuzzer-no-link $sqlite_flags -I"$amalgamation" \
        -c "$amalgamation/sqlite3.c" -o "$out/sqlite3.o"
fi

sources=(ArchiveCipher ArchiveRecords CBlockPacker CCrc32Sign CExtentIndex CHDArchive CLorvArchive CLzrw3Codec
         COldArchive OpenArchive RunLengthCodec)
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$here/native" -I"$backup" -I"$here" -I"$amalgamation" \
    "$here/ArchiveFuzzer.cpp" "$here/FuzzSeeds.cpp" "$here/MemoryFiles.cpp" "$here/native/ArchiveMutex.cpp" \
    "$here/native/CNAFile.cpp" $(printf "$backup/%s.cpp " "${sources[@]}") \
    "$out/sqlite3.o" -lz -lpthread -ldl -lm -o "$out/archive_fuzzer"

export VOSTREL_FUZZ_SEEDS=$out/seeds
cd "$out"
args=(-max_total_time="$seconds" -max_len=131072 -timeout=20 -rss_limit_mb=2560 -dict="$here/archive.dict"
      -artifact_prefix="$out/" "$out/corpus" "$out/seeds")
if [ "$workers" -gt 1 ]; then
    ./archive_fuzzer -workers="$workers" -jobs="$workers" "${args[@]}"
else
    ./archive_fuzzer "${args[@]}"
fi
