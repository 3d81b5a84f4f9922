#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Kelvo-GBA in the
# directory this script was started from.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$ROOT/scripts/bootstrap" >&2
exec "$ROOT/build/app/kelvo-gba" "$@"
