#!/usr/bin/env bash
# Figures of the local listing (filesys_tree) against find over the same
# generated trees, in one run. Figures, not assertions:
#   1. a wide tree (1,000 directories of 100 files, 101,000 entries) at depth 2;
#   2. a deep tree (10x10x10 directories, 100 files in each of the lowest,
#      101,110 entries) at depth 999;
# each against `find DIR -printf '%M %u %g %s %T@ %p\n'` (goal: at most 1.5
# times find's time), best of RUNS, page cache warm. find looks up the owner
# and group of every entry; the same find without %u %g is shown as a
# stricter anchor. Then the sort of one 4096-entry directory.
# Usage: bench/filesys_vs_find.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
runs=${2:-3}
exe=$build/bench/filesys_bench
work=$(mktemp -d /tmp/filesys_vs_find.XXXXXX)
trap 'rm -rf "$work"' EXIT

best_wall() {
    local b=""
    for _ in $(seq "$runs"); do
        /usr/bin/time -f '%e' -o "$work/time" "$@" >/dev/null
        t=$(cat "$work/time")
        if [ -z "$b" ] || python3 -c "import sys; sys.exit(0 if $t < $b else 1)"; then b=$t; fi
    done
    echo "$b"
}
ratio() { python3 -c "print(round($1 / max($2, 0.001), 3))"; }

for shape in wide:2 deep:999; do
    name=${shape%%:*}
    depth=${shape##*:}
    dir=$work/$name
    "$exe" --make-tree "$dir" "$name"
    find "$dir" >/dev/null # warm the caches
    f=$(best_wall find "$dir" -printf '%M %u %g %s %T@ %p\n')
    f2=$(best_wall find "$dir" -printf '%M %s %T@ %p\n')
    w=$(best_wall "$exe" --walk "$dir" "$depth")
    read -r _ left right < <("$exe" --walk "$dir" "$depth")
    echo "$name tree, depth $depth ($(find "$dir" | wc -l) entries; $left left lines," \
         "$right right rows): filesys_tree ${w}s, find -printf ${f}s, ratio $(ratio "$w" "$f")" \
         "(goal <= 1.5); without %u %g find ${f2}s, ratio $(ratio "$w" "$f2")"
done
"$exe" --benchmark_filter=BM_sort --benchmark_min_time=0.5 2>/dev/null | grep BM_sort
