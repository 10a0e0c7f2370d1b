#!/usr/bin/env bash
# Builds everything and runs the main job: the browser client against the
# bundled sample database, under Wine.
set -euo pipefail
source "$(dirname "$0")/session.sh"
bash "$top/scripts/setup.sh"
vostrel_build
vostrel_start_session
cd "$build/bin"
wine VostrelBrowse.exe "$@"
