#!/usr/bin/env bash
# The processor check must be the program's first static initialiser: every other one may be
# AVX2 code. Reads the first .init_array entry of the binary and names its function.
#   check_init_order.sh BINARY
set -euo pipefail
binary=$1
first=$(objdump -s -j .init_array "$binary" | awk '/^ [0-9a-f]+ /{print $2 $3; exit}')
# Little-endian 64-bit address from the first two words.
bytes=$(echo "$first" | sed -E 's/(..)/\1 /g')
address=$(echo $bytes | awk '{for (i = 8; i >= 1; --i) printf "%s", $i}' | sed -E 's/^0+//')
name=$(nm -C "$binary" | awk -v a="$address" '{x = $1; sub(/^0+/, "", x); if (x == a) print}')
echo "first static initialiser: $name"
case $name in
    *refuse_processor_without_avx2*) exit 0 ;;
    *) exit 1 ;;
esac
