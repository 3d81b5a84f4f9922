#!/usr/bin/env bash
# Installs what is missing, builds the program (only it: ./test.sh builds the
# tests and benchmarks) into build/ and starts Kelvo-GBA in the directory this
# script was started from.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
KELVO_TARGETS=kelvo-gba "$ROOT/scripts/bootstrap" >&2
exec "$ROOT/build/app/kelvo-gba" "$@"
