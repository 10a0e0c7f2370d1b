#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
vostrel_build
vostrel_start_session
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
