#!/usr/bin/env bash
# Raw partitions end to end: the real engine backs up a loop device, the
# device is overwritten with zeros, and the real xkp under Xvfb and
# openbox, driven with xdotool, opens "Browse backups (restore raw
# partitions)", picks the device's entry and runs the restore through the
# start dialog; the device must hold its bytes again. Needs root (losetup);
# skipped (exit 0 with a message) where loop devices cannot be attached.
# Screenshots go to BUILD/e2e-artifacts/raw_partition/.
#   tests/e2e/raw_partition.sh BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/common.bash"
e2e_begin raw_partition "$1"
e2e_product_root e2e $'SERVER = e2e\nCLIENT_NAME = e2eclient\n'
bin=$root/sorvane/bin

losetup=$(command -v losetup || echo /usr/sbin/losetup)
if [ "$(id -u)" -ne 0 ] || [ ! -x "$losetup" ]; then
    echo "SKIP: raw partitions need root and losetup"
    exit 0
fi
head -c 1048576 /dev/urandom >"$work/disk.img"
cp "$work/disk.img" "$work/expect.img"
dev=$("$losetup" --find --show "$work/disk.img" 2>"$work/losetup.err") || {
    echo "SKIP: cannot attach a loop device: $(cat "$work/losetup.err")"
    exit 0
}
# The loop device goes with everything else at exit.
trap '"$losetup" -d "$dev"; e2e_cleanup' EXIT

# First an image of type 12 (the Auspex client type), then a plain one.
"$bin/kpbackup" -w -t 12 -L "$work/backup12.log" "$dev" >/dev/null 2>&1 ||
    fail "type-12 raw backup of $dev: $(cat "$work/backup12.log")"
"$bin/kpbackup" -w -L "$work/backup.log" "$dev" >/dev/null 2>&1 ||
    fail "raw backup of $dev: $(cat "$work/backup.log")"
grep -q "read 1048576 bytes of block device $dev" "$work/backup.log" ||
    fail "the backup log does not say what it read: $(cat "$work/backup.log")"
dd if=/dev/zero of="$dev" bs=65536 count=16 conv=fsync status=none
cmp -s "$dev" "$work/expect.img" && fail "the device was not overwritten"

e2e_display

MENU_SETTLE=1.2

# Started in the device's directory, browsing the file system.
cd "$(dirname "$dev")"
"$xkp" >"$work/xkp.out" 2>&1 &
app=$!
main=$(find_main)
[ -n "$main" ] || fail "the main window did not appear"
xdotool windowfocus --sync "$main"
sleep 1
shot 01-file-system

menu f r # File, Browse backups (restore raw partitions)
shot 02-raw-partitions

# The device's row: the third of the file list (the header, a blank row).
click_in "$main" 428 430
shot 03-device-selected
menu r r # Restore, Restore selected files and directories...
confirm=$(timeout 20 xdotool search --sync --onlyvisible --name xkp_confirm | head -1)
[ -n "$confirm" ] || fail "no start dialog for the device"
shot 04-start-dialog
click_in "$confirm" 24 616 # OK
for _ in $(seq 200); do
    xdotool search --onlyvisible --name xkp_confirm >/dev/null 2>&1 || break
    sleep 0.1
done
log=$HOME/kplog.rest.001
wait_log "$log"
shot 05-after-restore
grep -q 'EXIT STATUS 0' "$log" || fail "the raw restore failed: $(cat "$log")"
image0=$(sed -n 's/.*into snapshot [0-9a-f]*, \(image .*\)$/\1/p' "$work/backup.log")
[ -n "$image0" ] && grep -q "$image0" "$log" || fail "not restored from the newest image ($image0): $(cat "$log")"
cmp -s "$dev" "$work/expect.img" || fail "the device does not hold its backed-up bytes: $(cat "$log")"

# The type-12 (Auspex) mode lists the raw entries of images of that type
# alone: the older image's entry, restored from there.
dd if=/dev/zero of="$dev" bs=65536 count=16 conv=fsync status=none
# Its item shares its mnemonic with the archives: the sixth of the menu.
xdotool windowfocus --sync "$main"
xdotool keydown alt key f keyup alt
sleep 0.4
xdotool key Down Down Down Down Down Return
sleep 1.2
shot 06-auspex-mode
click_in "$main" 428 430
menu r r
confirm=$(timeout 20 xdotool search --sync --onlyvisible --name xkp_confirm | head -1)
[ -n "$confirm" ] || fail "no start dialog in the type-12 mode"
shot 07-auspex-start-dialog
click_in "$confirm" 24 616
log=$HOME/kplog.rest.002
wait_log "$log"
grep -q 'EXIT STATUS 0' "$log" || fail "the type-12 raw restore failed: $(cat "$log")"
cmp -s "$dev" "$work/expect.img" || fail "the type-12 restore did not bring the bytes back"
# From the type-12 image, though a newer image holds the device.
image12=$(sed -n 's/.*into snapshot [0-9a-f]*, \(image .*\)$/\1/p' "$work/backup12.log")
[ -n "$image12" ] && grep -q "$image12" "$log" || fail "not restored from the type-12 image ($image12): $(cat "$log")"

# File, Quit.
quit_xkp
echo "PASS: screenshots in $out"
