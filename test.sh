#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$ROOT/scripts/bootstrap"
cd "$ROOT/build"
exec ctest --output-on-failure --timeout 600 -j"$(nproc)"
