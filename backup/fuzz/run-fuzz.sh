#!/usr/bin/env bash
# Builds the native codec fuzzer with the host's clang (libFuzzer, address and
# undefined-behaviour sanitizers) and runs it for a while.
# Usage: bash backup/fuzz/run-fuzz.sh [seconds]   (60 unless given)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
backup=$(dirname "$here")
out=${VOSTREL_BUILD:-$(dirname "$backup")/build}/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$backup" "$here/CodecFuzzer.cpp" "$backup/RunLengthCodec.cpp" "$backup/CLzrw3Codec.cpp" \
    "$backup/CBlockPacker.cpp" "$backup/CExtentIndex.cpp" "$backup/ArchiveCipher.cpp" -lz \
    -o "$out/codec_fuzzer"
"$out/codec_fuzzer" -max_total_time="${1:-60}" -max_len=70000 -artifact_prefix="$out/" "$out/corpus"
