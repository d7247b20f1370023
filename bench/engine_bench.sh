#!/usr/bin/env bash
# Figures of the engine against plain restic on the same data, in one run
# (figures, not assertions; not part of CI):
#   1. backup of FILES small files: kpbackup against "restic backup" of the
#      same tree into a fresh repository each (goal: at most 1.15 times);
#   2. listing one directory over IMAGES images of that tree: kplist (from
#      the catalog) against "restic ls" of the same snapshots (goal: at
#      least 100 times faster);
#   3. peak memory (maximum resident set) of each.
# Usage: bench/engine_bench.sh BUILD_DIR [FILES] [IMAGES]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
files=${2:-100000}
images=${3:-30}
bin=$build/root/sorvane/bin
work=$(mktemp -d /tmp/engine_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XKP_ROOT=$work/root LC_ALL=C
mkdir -p "$XKP_ROOT/sorvane" "$work/tree"
printf 'SERVER = bench\nCLIENT_NAME = benchhost\n' > "$XKP_ROOT/sorvane/kp.conf"

# The tree: 100 directories of files/100 small files each.
per=$(( files / 100 ))
python3 - "$work/tree" "$per" <<'PY'
import os, sys
root, per = sys.argv[1], int(sys.argv[2])
for d in range(100):
    p = os.path.join(root, "dir%03d" % d)
    os.mkdir(p)
    for f in range(per):
        with open(os.path.join(p, "file%05d.txt" % f), "w") as fh:
            fh.write("content %d %d\n" % (d, f) * (1 + f % 7))
PY
echo "tree: $(find "$work/tree" -type f | wc -l) files"

# measure CMD...: runs CMD, prints "SECONDS RSS_KB CPU_SECONDS" (wall time,
# peak resident set, user+system time; CPU time is the steadier figure on a
# loaded machine).
measure() {
    /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
    read -r e m u s < "$work/time"
    echo "$e $m $(python3 -c "print(round($u + $s, 2))")"
}

"$bin/kpadmin" init-server bench >/dev/null
printf 'pw\n' > "$work/pw"
echo "$work/plainrepo" > "$work/repofile"
export RESTIC_CACHE_DIR=$work/plaincache
restic --password-file "$work/pw" --repository-file "$work/repofile" init </dev/null >/dev/null

printf '%s\0' "$work/tree" > "$work/list"
read -r r_s r_m r_c < <(measure restic --password-file "$work/pw" --repository-file "$work/repofile" \
    backup -q --files-from-raw "$work/list" </dev/null)
tp=$work/tree
printf "%d %s\n" ${#tp} "$tp" > "$work/req"
read -r k_s k_m k_c < <(measure "$bin/kpbackup" -w -f "$work/req" -L "$work/log")
echo "backup of $files files: restic ${r_s}s (cpu ${r_c}s) ${r_m}KB," \
     "kpbackup ${k_s}s (cpu ${k_c}s) ${k_m}KB," \
     "ratio $(python3 -c "print(round($k_s/$r_s, 3))") wall, $(python3 -c "print(round($k_c/$r_c, 3))") cpu (goal <= 1.15)"

# More images of the same tree (a few files changed each time).
for i in $(seq 2 "$images"); do
    echo "changed $i" > "$work/tree/dir000/file00000.txt"
    "$bin/kpbackup" -w -f "$work/req" -L "$work/log"
done
echo "$images images recorded"

dir=$work/tree/dir042
cat > "$work/kplist10.sh" <<SH
#!/bin/sh
for i in 1 2 3 4 5 6 7 8 9 10; do
    "$bin/kplist" -B -R 0 -X -s 0 -e 2147483646 -keyword "" "$dir/" >/dev/null
done
SH
chmod +x "$work/kplist10.sh"
read -r l10_s l_m l10_c < <(measure "$work/kplist10.sh")
l_s=$(python3 -c "print(round($l10_s / 10, 4))")
lines=$("$bin/kplist" -B -R 0 -X -s 0 -e 2147483646 -keyword "" "$dir/" | wc -l)
repo=$XKP_ROOT/sorvane/servers/bench
snaps=$(restic --password-file "$repo/password" --repository-file "$repo/repository" \
    --cache-dir "$repo/cache" snapshots --json </dev/null |
    python3 -c 'import json,sys; print(" ".join(s["short_id"] for s in json.load(sys.stdin)))')
cat > "$work/ls_all.sh" <<SH
#!/bin/sh
for s in $snaps; do
    restic --password-file "$repo/password" --repository-file "$repo/repository" \
        --cache-dir "$repo/cache" ls "\$s" "$dir" </dev/null
done
SH
chmod +x "$work/ls_all.sh"
read -r s_s s_m s_c < <(measure "$work/ls_all.sh")
echo "listing $dir over $images images ($lines lines): restic ls ${s_s}s ${s_m}KB," \
     "kplist ${l_s}s ${l_m}KB, kplist is $(python3 -c "print(round($s_s/max($l_s,0.001)))") times faster (goal >= 100)"
