#!/usr/bin/env bash
# Figures of the catalog database, each a ratio against an anchor measured
# in the same run (figures, not assertions; not part of CI):
#   1. IMAGES backups of a FILES-file tree with 1% of the files changed
#      between them: catalog bytes over the bytes of one image's listing
#      (goal: at most 1.5);
#   2. kplist of the tree's root over all the images against "restic ls" of
#      the same snapshots (goal: at least 100 times faster);
#   3. the catalog update over the backup's wall time, from the time kpbackup
#      logs for it (goal: at most 0.1);
#   4. a directory restore merged from 3 images against "restic restore" of
#      the newest snapshot of the same directory (goal: at most 1.3 times).
# kpbackup's own peak memory per entry is measured by bench/backup_memory.sh
# (restic's is larger and would hide it here).
# Usage: bench/catalog_bench.sh BUILD_DIR [FILES] [IMAGES]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
files=${2:-100000}
images=${3:-30}
bin=$build/root/sorvane/bin
work=$(mktemp -d /tmp/catalog_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XKP_ROOT=$work/root LC_ALL=C
mkdir -p "$XKP_ROOT/sorvane" "$work/tree"
printf 'SERVER = bench\nCLIENT_NAME = benchhost\n' >"$XKP_ROOT/sorvane/kp.conf"
ratio() { python3 -c "print(round($1 / max($2, 1e-9), ${3:-3}))"; }

# The tree: FILES/100 directories of 100 small files each.
python3 - "$work/tree" "$files" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
for d in range(max(1, files // 100)):
    p = os.path.join(root, "d%04d" % d)
    os.mkdir(p)
    for f in range(100):
        with open(os.path.join(p, "f%03d" % f), "w") as fh:
            fh.write("content %d %d\n" % (d, f))
PY
entries=$(find "$work/tree" | wc -l)
echo "tree: $entries entries"

# measure CMD...: prints "WALL_SECONDS PEAK_RSS_KB".
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
        echo "failed: $*" >&2
        cat "$work/err" >&2
        exit 1
    }
    cat "$work/time"
}
request() { printf '%d %s\n' ${#1} "$1" >"$2"; }

"$bin/kpadmin" init-server bench >/dev/null
server=$XKP_ROOT/sorvane/servers/bench
rargs=(--password-file "$server/password" --repository-file "$server/repository"
    --cache-dir "$server/cache")

request "$work/tree" "$work/req"
read -r first_s _ < <(measure "$bin/kpbackup" -w -f "$work/req" -L "$work/log.1")
echo "first backup of $entries entries: ${first_s}s"

# The other images, 1% of the files changed before each.
dirs=$((files / 100))
update_total=0
wall_total=0
for i in $(seq 2 "$images"); do
    python3 - "$work/tree" "$dirs" "$i" <<'PY'
import os, sys, random
root, dirs, i = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rnd = random.Random(i)
for k in range(dirs):
    d, f = rnd.randrange(dirs), rnd.randrange(100)
    with open(os.path.join(root, "d%04d" % d, "f%03d" % f), "a") as fh:
        fh.write("changed in image %d\n" % i)
PY
    read -r s _ < <(measure "$bin/kpbackup" -w -f "$work/req" -L "$work/log.$i")
    u=$(sed -n 's/.*catalog updated in \([0-9.]*\) s.*/\1/p' "$work/log.$i" | tail -1)
    update_total=$(python3 -c "print(round($update_total + ${u:-0}, 3))")
    wall_total=$(python3 -c "print(round($wall_total + $s, 3))")
done
echo "catalog update: ${update_total}s of ${wall_total}s of backup over $((images - 1)) incremental" \
    "backups, ratio $(ratio "$update_total" "$wall_total") (goal <= 0.1)"

# One image's listing, and the catalog's size once checkpointed.
newest=$("$bin/kpclimagelist" -t NOT_ARCHIVE | head -1 | cut -d' ' -f1)
"$bin/kplist" -B -l -b -U -T -W -R 999 -X -s "$newest" -e "$newest" -keyword "" "$work/tree" \
    >"$work/one_image.lst"
sqlite3 "$server/catalog.db" 'PRAGMA wal_checkpoint(TRUNCATE);' >/dev/null
cat_bytes=$(stat -c %s "$server/catalog.db")
lst_bytes=$(stat -c %s "$work/one_image.lst")
echo "catalog: $cat_bytes bytes for $images images, one image's listing $lst_bytes bytes," \
    "ratio $(ratio "$cat_bytes" "$lst_bytes") (goal <= 1.5)"

# kplist of the root over every image against restic ls of every snapshot.
read -r k_s _ < <(measure "$bin/kplist" -B -l -b -U -W -R 999 -X -s 0 -e 2147483646 -keyword "" \
    "$work/tree")
lines=$("$bin/kplist" -B -l -b -U -W -R 999 -X -s 0 -e 2147483646 -keyword "" "$work/tree" | wc -l)
snaps=$(restic "${rargs[@]}" snapshots --json </dev/null |
    python3 -c 'import json,sys; print(" ".join(s["short_id"] for s in json.load(sys.stdin)))')
cat >"$work/ls_all.sh" <<SH
#!/bin/sh
for s in $snaps; do
    restic $(printf '%q ' "${rargs[@]}") ls "\$s" "$work/tree" </dev/null || exit 1
done
SH
chmod +x "$work/ls_all.sh"
read -r ls_s _ < <(measure "$work/ls_all.sh")
echo "kplist of the root over $images images ($lines lines): ${k_s}s; restic ls ${ls_s}s;" \
    "kplist $(ratio "$ls_s" "$k_s" 1) times faster (goal >= 100)"

# A directory restore merged from images 1 to 3 against restic restore of
# the newest of them.
t1=$("$bin/kpclimagelist" -t NOT_ARCHIVE | tail -1 | cut -d' ' -f1)
t3=$("$bin/kpclimagelist" -t NOT_ARCHIVE | tail -3 | head -1 | cut -d' ' -f1)
snap3=$(echo "$snaps" | cut -d' ' -f3)
mkdir -p "$work/plain" "$work/merged"
read -r p_s _ < <(measure restic "${rargs[@]}" restore "$snap3" --target "$work/plain" \
    --include "$work/tree" </dev/null)
printf 'change %s to %s\n' "$work/tree" "$work/merged/tree" >"$work/rename"
printf '0 0 0 0 0 0 0 0 0 %d %s/ %s %s\n' $((${#work} + 6)) "$work/tree" "$t1" "$t3" >"$work/rreq"
read -r m_s _ < <(measure "$bin/kprestore" -w -R "$work/rename" -f "$work/rreq" -L "$work/rlog")
echo "directory restore merged from 3 images: ${m_s}s; restic restore of the newest ${p_s}s;" \
    "ratio $(ratio "$m_s" "$p_s") (goal <= 1.3)"
