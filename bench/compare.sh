#!/usr/bin/env bash
# Runs Corvalent beside the general-purpose tools that do one of its tasks
# (du, gdu, jdupes, ps), on the same work, alternating the tools each round,
# and prints medians and ratios. Tools that are not installed are left out.
#
#   bench/compare.sh [BUILD]     BUILD: a release build folder (default build/release)
#
# ROUNDS (default 7), TREES (default /var/tmp/corvalent-bench) and
# SIZES (default "200000 1000000") change what it does.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
app=$build/src/ui/corvalent
bench=$build/bench/corvalent_bench
measure=$build/bench/corvalent_measure
make_tree=$build/bench/corvalent_make_tree
rounds=${ROUNDS:-7}
trees=${TREES:-/var/tmp/corvalent-bench}
sizes=${SIZES:-200000 1000000}
for tool in "$app" "$bench" "$measure" "$make_tree"; do
    [ -x "$tool" ] || { echo "missing $tool: run 'make release' first" >&2; exit 1; }
done
export QT_QPA_PLATFORM=offscreen

have() { command -v "$1" >/dev/null 2>&1; }

# Seconds and peak KiB of one run, in the current folder.
run() { "$measure" "$@"; }

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }'; }

can_drop_caches() { [ -w /proc/sys/vm/drop_caches ] && { sync; echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; }

drop_caches() { sync; echo 3 >/proc/sys/vm/drop_caches; }

# compare_disk LABEL MODE FOLDER: the whole --disk-performance-check beside gdu
# and du; MODE is warm, cold (caches dropped before each run) or one-core.
compare_disk() {
    local label=$1 mode=$2 folder=$3
    local -a prefix=()
    [ "$mode" = one-core ] && prefix=("$(command -v taskset)" -c 0)
    local ours=() gdu=() du=() memory=()
    for ((round = 0; round < rounds; round++)); do
        [ "$mode" = cold ] && drop_caches
        read -r seconds kib < <(cd "$folder" && run "${prefix[@]}" "$app" --disk-performance-check)
        ours+=("$seconds"); memory+=("$kib")
        if have gdu; then
            [ "$mode" = cold ] && drop_caches
            read -r seconds _ < <(run "${prefix[@]}" "$(command -v gdu)" -n -p -x "$folder")
            gdu+=("$seconds")
        fi
        [ "$mode" = cold ] && drop_caches
        read -r seconds _ < <(run "${prefix[@]}" "$(command -v du)" -sx "$folder")
        du+=("$seconds")
    done
    local o g d m
    o=$(printf '%s\n' "${ours[@]}" | median)
    d=$(printf '%s\n' "${du[@]}" | median)
    m=$(printf '%s\n' "${memory[@]}" | median)
    printf '%-34s corvalent %6.3f s (peak %5.0f MiB)  du -sx %6.3f s  ratio to du %s' \
        "$label" "$o" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')" "$d" "$(ratio "$o" "$d")"
    if ((${#gdu[@]})); then
        g=$(printf '%s\n' "${gdu[@]}" | median)
        printf '  gdu %6.3f s  ratio to gdu %s' "$g" "$(ratio "$o" "$g")"
    fi
    printf '\n'
}

echo "Corvalent beside peer tools: medians of $rounds alternating rounds, $(nproc) processors"
for size in $sizes; do
    folder=$trees/tree-$size
    "$make_tree" "$folder" "$size"
    compare_disk "disk check, $size files, warm" warm "$folder"
    if can_drop_caches; then
        compare_disk "disk check, $size files, cold" cold "$folder"
    else
        echo "disk check, $size files, cold: skipped (this machine does not let caches be dropped)"
    fi
    compare_disk "disk check, $size files, one core" one-core "$folder"
done

# One count of folders in two shapes: memory and time follow the folders,
# not the depth.
"$make_tree" --chain "$trees/chain-20000" 20000
"$make_tree" --siblings "$trees/siblings-20000" 20000
compare_disk "disk check, 20,000-deep chain" warm "$trees/chain-20000"
compare_disk "disk check, 20,000 sibling folders" warm "$trees/siblings-20000"

# Verification: four pairs of 256 MiB files, equal in pairs.
dupes=$trees/duplicates
"$bench" --make-duplicates "$dupes"
ours=() jd=()
for ((round = 0; round < rounds; round++)); do
    read -r seconds _ < <(run "$bench" --verify "$dupes")
    ours+=("$seconds")
    if have jdupes; then
        read -r seconds _ < <(run "$(command -v jdupes)" -r -q "$dupes")
        jd+=("$seconds")
    fi
done
o=$(printf '%s\n' "${ours[@]}" | median)
printf '%-34s corvalent %6.3f s' "verification, 8 x 256 MiB, warm" "$o"
if ((${#jd[@]})); then
    j=$(printf '%s\n' "${jd[@]}" | median)
    printf '  jdupes -r %6.3f s  ratio %s' "$j" "$(ratio "$o" "$j")"
fi
printf '\n'
if have openssl; then
    one=$(ls "$dupes" | grep '\.bin$' | head -n 1)
    o=$("$bench" --hash-rate "$dupes/$one")
    read -r seconds _ < <(run "$(command -v openssl)" dgst -sha256 "$dupes/$one")
    printf '%-34s corvalent %6.0f MiB/s  openssl dgst -sha256 %6.0f MiB/s  share %s\n' "one core, one 256 MiB file" \
        "$o" "$(awk -v s="$seconds" 'BEGIN { print 256 / s }')" "$(ratio "$o" "$(awk -v s="$seconds" 'BEGIN { print 256 / s }')")"
fi

# The process read: microseconds per process, beside ps on the same table.
"$bench" --process-read "$rounds"
