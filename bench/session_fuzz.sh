#!/usr/bin/env bash
# Random command sessions for as long as asked, each failure shrunk to a minimal session by
# dropping commands and kept (lines and files) under build/session-fuzz/seedN-MODE.
#   bench/session_fuzz.sh [seconds] [first seed] [release|sanitize]
# Defaults: 600 seconds, seed 100000 (past the seeds the tests run), the Release binary.
# NLHE_JOBS sessions run at once (default 2); NLHE_FUZZ_AVOID lists the known faults to steer
# around (empty for none; see tests/session_fuzz.py --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
seed=${2:-100000}
case ${3:-release} in
    release) binary=$root/build/nlhe-solver; timeout=30 ;;
    sanitize) binary=$root/build-sanitize/nlhe-solver; timeout=90 ;;
    *) echo "usage: bench/session_fuzz.sh [seconds] [first seed] [release|sanitize]" >&2; exit 2 ;;
esac
exec python3 "$root/tests/session_fuzz.py" --binary "$binary" --seconds "$seconds" \
    --first-seed "$seed" --jobs "${NLHE_JOBS:-2}" --timeout "$timeout" --shrink \
    --keep "$root/build/session-fuzz"
