#!/usr/bin/env bash
# Figures of the catalog sync from a repository on a loopback rest server
# ("rclone serve restic"), each a ratio against an anchor measured in the
# same run (figures, not assertions; not part of CI):
#   1. the first sync of a host attaching to a repository holding IMAGES
#      images of a FILES-file tree (1% changed between them), which builds
#      its catalog from the stored records, against "restic ls" of the same
#      data snapshots (what a rebuild from the data would have to read);
#   2. a sync when nothing changed: its restic calls (goal: one) and its
#      time against one "restic snapshots" call.
# Also: the bytes of the stored records against the catalog database.
# Usage: bench/sync_bench.sh BUILD_DIR [FILES] [IMAGES]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
files=${2:-100000}
images=${3:-30}
bin=$build/root/sorvane/bin
work=$(mktemp -d /tmp/sync_bench.XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/served"
rclone serve restic --addr "127.0.0.1:$port" "$work/served" >/dev/null 2>&1 &
rclone_pid=$!
trap 'kill $rclone_pid 2>/dev/null; wait $rclone_pid 2>/dev/null; rm -rf "$work"' EXIT
export LC_ALL=C XDG_DATA_HOME=$work/xdg
for h in A B; do
    mkdir -p "$work/$h/sorvane"
    printf 'SERVER = bench\nCLIENT_NAME = host%s\nCATALOG_SYNC_SECONDS = -1\n' "$h" \
        >"$work/$h/sorvane/kp.conf"
done
ratio() { python3 -c "print(round($1 / max($2, 1e-9), ${3:-3}))"; }
now() { date +%s.%N; }
for _ in $(seq 50); do (echo >/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done

python3 - "$work/tree" "$files" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
for d in range(max(1, files // 100)):
    p = os.path.join(root, "d%04d" % d)
    os.makedirs(p)
    for f in range(100):
        with open(os.path.join(p, "f%03d" % f), "w") as fh:
            fh.write("content %d %d\n" % (d, f))
PY
echo "tree: $(find "$work/tree" | wc -l) entries, $images images"
loc="rest:http://127.0.0.1:$port/bench/"
export XKP_ROOT=$work/A/root
mkdir -p "$XKP_ROOT/sorvane" && cp "$work/A/sorvane/kp.conf" "$XKP_ROOT/sorvane/"
"$bin/kpadmin" init-server bench --repository "$loc" >/dev/null
tree=$work/tree
printf '%d %s\n' "${#tree}" "$tree" >"$work/req"
for i in $(seq "$images"); do
    python3 - "$work/tree" "$files" "$i" <<'PY'
import os, sys
root, files, i = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for k in range(max(1, files // 100)):
    n = (k * 7919 + i * 104729) % files
    with open(os.path.join(root, "d%04d" % (n // 100), "f%03d" % (n % 100)), "a") as fh:
        fh.write("change %d\n" % i)
PY
    "$bin/kpbackup" -w -f "$work/req" >/dev/null 2>&1
done
server=$XKP_ROOT/sorvane/servers/bench
"$bin/kpadmin" export bench "$work/keys" >/dev/null

export XKP_ROOT=$work/B/root
mkdir -p "$XKP_ROOT/sorvane" && cp "$work/B/sorvane/kp.conf" "$XKP_ROOT/sorvane/"
t0=$(now)
"$bin/kpadmin" init-server bench --password-file "$work/keys" >"$work/attach"
t1=$(now)
first_sync=$(python3 -c "print($t1 - $t0)")
grep -o "holds .*" "$work/attach"

rargs=(--password-file "$server/password" --repository-file "$server/repository"
    --cache-dir "$work/lscache" --no-lock)
ids=$(restic "${rargs[@]}" snapshots --json --tag sorvane 2>/dev/null |
    python3 -c 'import json,sys; print(" ".join(s["id"] for s in json.load(sys.stdin)))')
t0=$(now)
for id in $ids; do restic "${rargs[@]}" ls --json "$id" >/dev/null 2>&1; done
t1=$(now)
ls_time=$(python3 -c "print($t1 - $t0)")

t0=$(now)
"$bin/kpadmin" sync bench >"$work/nochange"
t1=$(now)
nochange=$(python3 -c "print($t1 - $t0)")
t0=$(now)
restic "${rargs[@]}" snapshots --json --tag sorvane-record >/dev/null 2>&1
t1=$(now)
one_call=$(python3 -c "print($t1 - $t0)")

records=$(du -sb "$work/served/bench" | cut -f1)
catalog=$(du -cb "$work/B/root/sorvane/servers/bench"/catalog.db* | tail -1 | cut -f1)
echo "first sync (attach) ${first_sync}s against restic ls of the same snapshots ${ls_time}s:" \
    "ratio $(ratio "$first_sync" "$ls_time")"
echo "sync with nothing new: $(grep -o '([0-9]* restic calls)' "$work/nochange")," \
    "${nochange}s against one restic snapshots call ${one_call}s: ratio $(ratio "$nochange" "$one_call")"
echo "whole repository ${records} bytes; catalog database of the attached host ${catalog} bytes"
