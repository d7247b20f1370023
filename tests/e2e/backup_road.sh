#!/usr/bin/env bash
# The backup road end to end: the real xkp binary under Xvfb with openbox
# and the real engine on a fresh server. Files with awkward names are picked
# in two directories with Edit, Select all; Backup, Backup selected files
# opens the start dialog; OK runs kpbackup; Backup, Report progress shows the
# log; kplist then lists every picked path exactly. Screenshots go to
# BUILD/e2e-artifacts/backup_road/.
#   tests/e2e/backup_road.sh BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/common.bash"
e2e_begin backup_road "$1"
e2e_product_root demo

# Two directories of awkward names.
tree=$work/tree
mkdir -p "$tree/first dir" "$tree/second'dir"
names_a=("with blank" "q'uote\"dbl" 'dollar$HOME' 'back\slash' '`tick`' '-dash' 'star*[x]?')
names_b=("new
line" "semi;colon&" "plain.txt")
for n in "${names_a[@]}"; do printf 'A %s\n' "$n" > "$tree/first dir/$n"; done
for n in "${names_b[@]}"; do printf 'B %s\n' "$n" > "$tree/second'dir/$n"; done

e2e_display

cd "$tree/first dir" || fail "cd"
"$xkp" &
app=$!
main=$(find_main)
[ -n "$main" ] || fail "the main window did not appear"
xdotool windowfocus --sync "$main"
sleep 0.5
shot 01-start

# Edit, Select all in the first directory.
menu e s
shot 02-first-selected
# The second directory typed into the directory field (it has the focus):
# Home, shift+End selects the old text, typing replaces it, Return loads.
xdotool windowfocus --sync "$main"
xdotool key Home shift+End
xdotool type --delay 20 "$tree/second'dir/"
xdotool key Return
sleep 1
menu e s
shot 03-second-selected

# Backup, Backup selected files and directories: the start dialog.
menu b b
confirm=$(window_of xkp_confirm)
[ -n "$confirm" ] || fail "the start dialog did not open"
shot 04-start-dialog
# OK sits at the bottom left of the dialog.
eval "$(xdotool getwindowgeometry --shell "$confirm")"
xdotool mousemove --window "$confirm" 22 $((HEIGHT - 24)) click 1
# The dialog goes as soon as kpbackup has accepted the request.
for _ in $(seq 600); do
    xdotool search --onlyvisible --name '^xkp_confirm$' >/dev/null 2>&1 || break
    sleep 0.1
done
xdotool search --onlyvisible --name '^xkp_confirm$' >/dev/null 2>&1 && fail "the start dialog stayed open"
shot 05-after-backup
log=$HOME/kplog.bkup.001
[ -f "$log" ] || fail "no progress log $log"
wait_log "$log"
grep -q 'EXIT STATUS 0' "$log" || { cat "$log" >&2; fail "the backup did not succeed"; }

# Backup, Report progress of backup: the log listed; choosing it shows it.
open_backup_progress
shot 06-progress

# kplist lists every picked path, byte for byte.
listing=$("$root/sorvane/bin/kplist" -l -b -U -W -R 999 -keyword "" "$tree/")
status=0
for n in "${names_a[@]}"; do
    grep -qF -- " $tree/first dir/$n" <<<"$listing" || { echo "missing: first dir/$n" >&2; status=1; }
done
for n in "semi;colon&" "plain.txt"; do
    grep -qF -- " $tree/second'dir/$n" <<<"$listing" || { echo "missing: second'dir/$n" >&2; status=1; }
done
# The newline in a name: kplist continues such a name on its next line.
grep -qF -- " $tree/second'dir/new" <<<"$listing" || { echo "missing: the name with a newline" >&2; status=1; }
[ "$status" -eq 0 ] || { printf '%s\n' "$listing" >&2; fail "kplist lacks backed-up paths"; }

# File, Quit.
quit_xkp
echo "PASS: screenshots in $out"
