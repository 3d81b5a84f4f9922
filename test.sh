#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test,
# each QtTest function and GoogleTest case as a test of its own; at the end it
# says how many were skipped and why.
# First the core and window tests run once built with AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-sanitize/.
#
#   ./test.sh             sanitized core and window tests, then every test
#   ./test.sh --sanitize  every test, built with the sanitizers (build-sanitize/)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SANITIZE_DIR="$ROOT/build-sanitize"

case "${1:-}" in
"") ;;
--sanitize)
    BUILD_DIR="$SANITIZE_DIR" "$ROOT/scripts/bootstrap" -DKELVO_SANITIZE=ON
    cd "$SANITIZE_DIR"
    status=0
    ctest --output-on-failure --timeout 600 -j"$(nproc)" --output-junit "$SANITIZE_DIR/Testing/junit.xml" ||
        status=$?
    "$ROOT/scripts/skipped-tests" "$SANITIZE_DIR/Testing/junit.xml" "the sanitized run"
    exit "$status"
    ;;
*)
    echo "usage: $0 [--sanitize]" >&2
    exit 2
    ;;
esac

"$ROOT/scripts/bootstrap"

# Only the core and window tests' targets are built sanitized here.
if [[ ! -f "$SANITIZE_DIR/build.ninja" ]]; then
    cmake -S "$ROOT" -B "$SANITIZE_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
        -DKELVO_SANITIZE=ON
fi
cmake --build "$SANITIZE_DIR" --target romheader/all checksumlists/all hashcache/all collection/all windowkit/all checksumwin/all headerwin/all collectionwin/all \
    listwin/all
sanitized=0
(cd "$SANITIZE_DIR" && ctest --output-on-failure --timeout 600 -j"$(nproc)" -L '^(core|window)$' \
    --output-junit "$SANITIZE_DIR/Testing/junit.xml") || sanitized=$?

if ((sanitized != 0)); then
    echo "The sanitized core and window tests failed (see above, build-sanitize/)." >&2
fi

# The full run's summary comes last, then what each run skipped and why: a
# skip is never counted as a pass.
cd "$ROOT/build"
status=0
ctest --output-on-failure --timeout 600 -j"$(nproc)" --output-junit "$ROOT/build/Testing/junit.xml" ||
    status=$?
echo
"$ROOT/scripts/skipped-tests" "$SANITIZE_DIR/Testing/junit.xml" \
    "the sanitized core and window tests (build-sanitize/)"
"$ROOT/scripts/skipped-tests" "$ROOT/build/Testing/junit.xml" "the full run (build/)"
((sanitized == 0)) || exit "$sanitized"
exit "$status"
