#!/usr/bin/env bash
# Figures of build_tree against `wc -l` over the same generated kplist listing
# (1,000,000 file lines: 100,000 files in 1,000 directories, 10 backups each,
# plus the directory lines), in one run. Figures, not assertions:
#   1. time to build the tree / time of `wc -l` (goal: at most 8, aim 5), best of 5,
#      wall clock and CPU (user+sys, steadier on a busy machine);
#   2. memory of the tree (its arena) / bytes of the listing (goal: at most 0.5),
#      and the process's peak resident set for reference.
# Usage: bench/tree_vs_wc.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
runs=${2:-5}
exe=$build/bench/tree_bench
work=$(mktemp -d /tmp/tree_vs_wc.XXXXXX)
trap 'rm -rf "$work"' EXIT
listing=$work/listing

"$exe" --generate "$listing"
bytes=$(stat -c %s "$listing")
echo "listing: $(wc -l <"$listing") lines, $bytes bytes"

# best CMD...: runs CMD $runs times, prints the best wall and CPU (user+sys)
# seconds and the peak resident set in KB, to the microsecond (getrusage of
# the children, finer than time(1)). The command's output goes to $work/out.
best() {
    python3 - "$runs" "$work/out" "$@" <<'PY'
import resource, subprocess, sys, time
runs, out, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
walls, cpus = [], []
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    with open(out, "w") as f:
        subprocess.run(cmd, stdout=f, check=True)
    walls.append(time.perf_counter() - t0)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpus.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print("%.4f %.4f %d" % (min(walls), min(cpus), rss))
PY
}

cat "$listing" >/dev/null # warm the page cache for both
read -r wc_wall wc_cpu _ < <(best wc -l "$listing")
read -r t_wall t_cpu t_rss < <(best "$exe" --build-once "$listing")
read -r _ arena _ <"$work/out"
ratio() { python3 -c "print(round($1 / max($2, 0.001), 2))"; }
echo "wc -l:      ${wc_wall}s wall, ${wc_cpu}s cpu"
echo "build_tree: ${t_wall}s wall, ${t_cpu}s cpu (whole process)"
echo "time ratio: $(ratio "$t_wall" "$wc_wall") wall, $(ratio "$t_cpu" "$wc_cpu") cpu (goal <= 8, aim 5)"
echo "tree memory: $arena bytes = $(ratio "$arena" "$bytes") x the listing (goal <= 0.5);" \
     "peak RSS ${t_rss} KB = $(ratio "$((t_rss * 1024))" "$bytes") x"
