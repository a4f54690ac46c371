#!/usr/bin/env bash
# Runs one command transcript through the real binary and compares its replies.
#   run_transcript.sh BINARY STEM
# STEM.txt is fed on standard input; STEM.args (optional) holds extra command-line words, one
# per line; STEM.status (optional) the expected exit status (default 0); STEM.expected the
# expected standard output. The banner line and timing figures are masked before comparing.
set -u
binary=$1
stem=$2
args=()
if [ -f "$stem.args" ]; then
    while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done <"$stem.args"
fi
want_status=0
[ -f "$stem.status" ] && want_status=$(tr -d ' \n' <"$stem.status")

mask() {
    sed -E \
        -e 's/nlhe-solver [0-9]+ - [^\x1b]*/<banner>/' \
        -e 's/[0-9]+\.[0-9]+ s(ec(onds)?)?\b/<time>/g' \
        -e 's/^[0-9]+\.[0-9]{6}$/<seconds>/' \
        -e 's/^running time: [0-9.]+$/running time: <time>/'
}

actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
"$binary" "${args[@]}" <"$stem.txt" >"$actual" 2>/dev/null
status=$?
if [ "$status" != "$want_status" ]; then
    echo "exit status $status, expected $want_status"
    cat "$actual"
    exit 1
fi
if ! diff -u <(mask <"$stem.expected") <(mask <"$actual"); then
    exit 1
fi
