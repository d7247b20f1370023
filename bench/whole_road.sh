#!/usr/bin/env bash
# The whole road a user waits for on a backup of 1,000,000 files in 10,000
# directories (one directory of 50,000 files among them), in the real main
# window (bench/road_bench, under Xvfb) on a real server, against anchors
# measured in the same run. Figures, never assertions:
#   - "Browse backups (restore)" to both lists filled, depth 2 (goal: under
#     1.5 s) and depth 999;
#   - a directory change into the 50,000-file directory;
#   - "Select all in current directory", a change to the root and back
#     (goal: at most 0.3 s);
#   - "Restore selected files..." to the start dialog.
# Anchors: kplist alone at the same depths, `wc -l` of its depth-999 output,
# and `restic ls` of the snapshot. Wall and CPU (user+sys, the steadier one
# on a shared machine) are both printed.
#
# The tree and its backup take minutes (most of it making a million files):
# they are kept in CACHE (default /tmp/xkp_road_cache) and reused when
# present; remove it to start over.
# The window's steps are run RUNS times (default 3); the best of each is
# printed.
# Usage: bench/whole_road.sh BUILD_DIR [CACHE] [RUNS]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
cache=${2:-/tmp/xkp_road_cache}
runs=${3:-3}
files=1000000 dirs=10000 big=50000
staged=$build/root
bin=$staged/sorvane/bin
export XKP_ROOT=$cache/root LC_ALL=C LANG=C.UTF-8 TMPDIR=$cache/tmp
tree=$cache/tree
mkdir -p "$cache" "$TMPDIR"

if [ ! -d "$tree" ]; then
    echo "making $files files in $dirs directories (minutes)..."
    rm -rf "$tree.part"
    # big/ holds $big files; a0..a9/b0..b9/cNNN are the other directories,
    # the remaining files spread over the leaves.
    python3 - "$tree.part" "$files" "$dirs" "$big" <<'PY'
import os, sys
root, files, dirs, big = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
def touch(p):
    os.close(os.open(p, os.O_CREAT | os.O_WRONLY, 0o644))
os.makedirs(os.path.join(root, "big"))
for i in range(big):
    touch(os.path.join(root, "big", "f%05d" % i))
mids = [os.path.join(root, "a%d" % a, "b%d" % b) for a in range(10) for b in range(10)]
for m in mids:
    os.makedirs(m)
nleaves = dirs - 1 - 10 - len(mids)
leaves = [os.path.join(mids[j % len(mids)], "c%03d" % (j // len(mids))) for j in range(nleaves)]
for p in leaves:
    os.mkdir(p)
for i in range(files - big):
    touch(os.path.join(leaves[i % nleaves], "f%05d" % (i // nleaves)))
PY
    mv "$tree.part" "$tree"
fi
server=$XKP_ROOT/sorvane/servers/road
if [ ! -s "$cache/backed-up" ]; then
    echo "backing up the tree (one run, minutes)..."
    rm -rf "$XKP_ROOT"
    mkdir -p "$XKP_ROOT/sorvane"
    printf 'SERVER = road\nCLIENT_NAME = roadhost\n' >"$XKP_ROOT/sorvane/kp.conf"
    "$bin/kpadmin" init-server road >/dev/null
    printf '%d %s\n' ${#tree} "$tree" >"$cache/request"
    /usr/bin/time -f '%e' -o "$cache/backup.time" \
        "$bin/kpbackup" -w -f "$cache/request" -L "$cache/backup.log" >/dev/null
    echo "backup: $(cat "$cache/backup.time") s" >"$cache/backed-up"
fi
cat "$cache/backed-up"
# The window runs this build's programs and messages on the cached server.
ln -sfn "$bin" "$XKP_ROOT/sorvane/bin"
ln -sfn "$staged/msg" "$XKP_ROOT/msg"
export XFILESEARCHPATH="$staged/app-defaults/%N%S"

# best N CMD...: runs CMD N times (output to $cache/out), prints the best
# wall and CPU (user+sys) seconds, through getrusage of the children.
best() {
    python3 - "$cache/out" "$@" <<'PY'
import resource, subprocess, sys, time
out, runs, cmd = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
walls, cpus = [], []
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    with open(out, "w") as f:
        subprocess.run(cmd, stdout=f, check=True, stdin=subprocess.DEVNULL)
    walls.append(time.perf_counter() - t0)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpus.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
print("%.4f %.4f" % (min(walls), min(cpus)))
PY
}
ratio() { python3 -c "print(round($1 / max($2, 1e-9), ${3:-2}))"; }

# Anchors. kplist as the window runs it for the restore browse (no date
# range given: the default one from the latest full backup).
kplist() { "$bin/kplist" -B -l -b -U -W -R "$1" -keyword "" "$tree/"; }
read -r k2_wall k2_cpu < <(best 3 "$bin/kplist" -B -l -b -U -W -R 2 -keyword "" "$tree/")
read -r k9_wall k9_cpu < <(best 1 "$bin/kplist" -B -l -b -U -W -R 999 -keyword "" "$tree/")
kplist 999 >"$cache/listing"
echo "kplist depth 999: $(wc -l <"$cache/listing") lines, $(stat -c %s "$cache/listing") bytes"
read -r wc_wall wc_cpu < <(best 5 wc -l "$cache/listing")
rargs=(--password-file "$server/password" --repository-file "$server/repository"
    --cache-dir "$server/cache")
# The backup's snapshot (the catalog records are snapshots of their own).
snap=$(restic "${rargs[@]}" snapshots --tag sorvane --json </dev/null |
    python3 -c 'import json, sys; print(json.load(sys.stdin)[-1]["id"])')
read -r ls_wall ls_cpu < <(best 1 restic "${rargs[@]}" ls "$snap")
# kplist streams: its first line comes long before its last.
read -r first_s last_s < <(python3 - "$bin/kplist" "$tree/" <<'PY'
import subprocess, sys, time
t0 = time.perf_counter()
p = subprocess.Popen([sys.argv[1], "-B", "-l", "-b", "-U", "-W", "-R", "999", "-keyword", "",
                      sys.argv[2]], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
p.stdout.readline()
first = time.perf_counter() - t0
for _ in p.stdout:
    pass
p.wait()
print("%.4f %.4f" % (first, time.perf_counter() - t0))
PY
)
echo "anchors (wall s / cpu s):"
echo "  wc -l of the kplist output:  $wc_wall / $wc_cpu"
echo "  restic ls of the snapshot:   $ls_wall / $ls_cpu ($(wc -l <"$cache/out") lines)"
echo "  kplist -R 2:                 $k2_wall / $k2_cpu"
echo "  kplist -R 999:               $k9_wall / $k9_cpu (first line after ${first_s}s of ${last_s}s)"

: >"$cache/road.all"
for _ in $(seq "$runs"); do
    xvfb-run -a "$build/bench/road_bench" "$tree" big >>"$cache/road.all"
done
# The best wall and the best CPU of each step, in the order of the steps.
python3 - "$cache/road.all" >"$cache/road" <<'PY'
import sys
best, order = {}, []
for line in open(sys.argv[1]):
    f = line.split()
    if f[0] not in best:
        order.append(f[0])
        best[f[0]] = f[1:]
    elif len(f) == 4:
        b = best[f[0]]
        b[0] = "%.4f" % min(float(b[0]), float(f[1]))
        b[1] = "%.4f" % min(float(b[1]), float(f[2]))
for name in order:
    print(name, *best[name])
PY
echo "the window, best of $runs (wall s / cpu s; ratios wall and cpu):"
while read -r name wall cpu rows; do
    case $name in
    restore_depth2) anchor=("$k2_wall" "$k2_cpu" "kplist -R 2") ;;
    restore_depth999) anchor=("$k9_wall" "$k9_cpu" "kplist -R 999") ;;
    selected | directories | start_dialog)
        echo "  $name $wall"
        continue
        ;;
    *) anchor=() ;;
    esac
    line=$(printf '  %-27s %s / %s (%s rows):' "$name" "$wall" "$cpu" "$rows")
    if [ ${#anchor[@]} -gt 0 ]; then
        line+=" $(ratio "$wall" "${anchor[0]}")x / $(ratio "$cpu" "${anchor[1]}")x ${anchor[2]};"
    fi
    echo "$line $(ratio "$wall" "$wc_wall")x / $(ratio "$cpu" "$wc_cpu")x wc -l;" \
        "$(ratio "$wall" "$ls_wall" 3)x / $(ratio "$cpu" "$ls_cpu" 3)x restic ls"
done <"$cache/road"
