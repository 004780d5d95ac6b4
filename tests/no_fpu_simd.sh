#!/usr/bin/env bash
# Fails when the code of a driver image holds an instruction of the x87, MMX,
# SSE or AVX register files: kernel code may not touch them unsaved.  The
# emulator faults on such an instruction when it runs; this finds one that no
# test reaches.  Usage: no_fpu_simd.sh OBJDUMP IMAGE
set -euo pipefail
objdump=$1
image=$2
listing=$("$objdump" -d --no-show-raw-insn "$image" 2>/dev/null)
instructions=$(awk -F'\t' '/^ *[0-9a-f]+:\t/ && NF >= 2 { print $0 }' <<<"$listing")
count=$(wc -l <<<"$instructions")
hits=$(awk -F'\t' '{
    split($2, part, " "); mnemonic = part[1]
    if (mnemonic ~ /^f/ || mnemonic ~ /^(emms|ldmxcsr|stmxcsr)$/ || $2 ~ /%(st|mm[0-7]|xmm|ymm|zmm)/) print
}' <<<"$instructions")
if [[ -n $hits ]]; then
    echo "$image: floating-point or SIMD instructions in the code:"
    echo "$hits"
    exit 1
fi
echo "$image: $count instructions, none of the x87, MMX, SSE or AVX register files"
