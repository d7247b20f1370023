#!/usr/bin/env bash
# Peak memory of kpbackup itself (restic's is not counted) per entry backed
# up: the peak resident set of a backup of FILES small files less that of a
# one-file backup, over FILES. A figure, not an assertion.
# Usage: bench/backup_memory.sh BUILD_DIR [FILES]
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
files=${2:-100000}
bin=$build/root/sorvane/bin
work=$(mktemp -d /tmp/backup_memory.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XKP_ROOT=$work/root LC_ALL=C
mkdir -p "$XKP_ROOT/sorvane" "$work/one" "$work/tree"
printf 'SERVER = bench\nCLIENT_NAME = benchhost\n' > "$XKP_ROOT/sorvane/kp.conf"
"$bin/kpadmin" init-server bench >/dev/null
echo one > "$work/one/file"
python3 - "$work/tree" "$files" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
for d in range(100):
    p = os.path.join(root, "dir%03d" % d)
    os.mkdir(p)
    for f in range(files // 100):
        with open(os.path.join(p, "file%05d.txt" % f), "w") as fh:
            fh.write("content %d %d\n" % (d, f))
PY

# peak DIR: runs kpbackup on DIR and prints its own peak resident set in KB
# (VmHWM, sampled every few milliseconds until it exits; /usr/bin/time
# would report restic's peak, which is larger).
peak() {
    python3 - "$bin/kpbackup" "$1" "$work/log" <<'PY'
import subprocess, sys, time
p = subprocess.Popen([sys.argv[1], "-w", "-L", sys.argv[3], sys.argv[2]], stdin=subprocess.DEVNULL)
hwm = 0
while p.poll() is None:
    try:
        for line in open("/proc/%d/status" % p.pid):
            if line.startswith("VmHWM:"):
                hwm = max(hwm, int(line.split()[1]))
    except OSError:
        pass
    time.sleep(0.003)
if p.returncode != 0:
    sys.exit("kpbackup failed with %d" % p.returncode)
print(hwm)
PY
}
small=$(peak "$work/one")
big=$(peak "$work/tree")
echo "kpbackup peak resident set: 1 file ${small} KB, $files files ${big} KB:" \
     "$(python3 -c "print(round(($big - $small) * 1024 / $files))") bytes per entry (goal < 100, at most 300)"
