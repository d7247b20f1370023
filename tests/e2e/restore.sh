#!/usr/bin/env bash
# The restore road end to end: the real engine backs up a tree twice with
# changes in between, then the real xkp under Xvfb and openbox, driven with
# xdotool, restores
#   1. the newest version of a file changed since, with "Overwrite existing
#      files" clear: the changed file must stay as it is;
#   2. the older version of that file in place, with overwrite set;
#   3. a directory of the search path redirected to another path ("Specify
#      Destination Path...", then "Restore search directory...").
# Results are compared byte for byte and by mode, size and modification
# time with copies taken at backup time. Screenshots of every step go to
# BUILD/e2e-artifacts/restore/.
#   tests/e2e/restore.sh BUILD_DIR
#
# The pointer positions below are offsets inside the windows (main window,
# start dialog, destination dialog), whose sizes are fixed; rows of the file
# list are 18.8 pixels apart in the Xft font of the app-defaults.
set -uo pipefail
. "$(dirname "$0")/common.bash"
e2e_begin restore "$1"
# kp.conf names a server that lives in the scratch directory.
e2e_product_root e2e $'SERVER = e2e\nCLIENT_NAME = e2eclient\n'
bin=$root/sorvane/bin

data=$work/data
mkdir -p "$data/sub" "$work/expect1" "$work/expect2"
printf 'one\n' >"$data/f1.txt"
printf 'first g\n' >"$data/sub/g file.txt"
printf 'quote\n' >"$data/sub/it's.txt"
touch -d '2024-02-03 04:05:06' "$data/f1.txt" "$data/sub/g file.txt"
cp -a "$data/." "$work/expect1/"
"$bin/kpbackup" -w "$data" >/dev/null 2>&1 || fail "first backup"
sleep 1.2 # a new backup second
printf 'two, longer\n' >"$data/f1.txt"
chmod 600 "$data/f1.txt"
printf 'second g, longer\n' >"$data/sub/g file.txt"
chmod 640 "$data/sub/g file.txt"
touch -d '2025-06-07 08:09:10' "$data/f1.txt" "$data/sub/g file.txt"
cp -a "$data/." "$work/expect2/"
"$bin/kpbackup" -w "$data" >/dev/null 2>&1 || fail "second backup"
# The file changed again after the last backup.
printf 'three, local\n' >"$data/f1.txt"
cp -a "$data/f1.txt" "$work/local-f1.txt"

same() { # a b: same bytes, mode, size and modification time
    cmp -s "$1" "$2" || fail "$1 differs from $2 in content"
    [ "$(stat -c '%a %s %Y' "$1")" = "$(stat -c '%a %s %Y' "$2")" ] ||
        fail "$1 ($(stat -c '%a %s %Y' "$1")) differs from $2 ($(stat -c '%a %s %Y' "$2"))"
}

e2e_display

window_named() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -1; }
# Waits until the start dialog is gone (the request ran) and for the log.
confirm_ok() {
    local dialog=$1
    click_in "$dialog" 24 616
    for _ in $(seq 200); do
        xdotool search --onlyvisible --name xkp_confirm >/dev/null 2>&1 || break
        sleep 0.1
    done
    xdotool search --onlyvisible --name xkp_confirm >/dev/null 2>&1 && fail "the start dialog stayed open"
    sleep 0.3
}
file_row() { echo $((383 + ($1 * 188 - 94) / 10)); } # centre of file-list row N

cd "$data"
"$xkp" -r >"$work/xkp.out" 2>&1 &
app=$!
main=$(find_main)
[ -n "$main" ] || fail "the main window did not appear"
xdotool windowfocus --sync "$main"
sleep 1
shot 01-restore-mode

# Only f1.txt: the header, the blank row, then its versions newest first.
retype "$main" 205 332 "f1.txt"
xdotool key Return
sleep 1
shot 02-versions-of-f1

# 1. The newest version over the changed file, overwrite clear: kept.
click_in "$main" 428 "$(file_row 3)"
shot 03-newest-selected
menu r r
confirm=$(window_named xkp_confirm)
[ -n "$confirm" ] || fail "no start dialog for the selected file"
shot 04-start-dialog-keep
confirm_ok "$confirm"
log=$HOME/kplog.rest.001
wait_log "$log"
same "$data/f1.txt" "$work/local-f1.txt"
grep -q 'EXIT STATUS 0' "$log" || fail "first restore: $(cat "$log")"

# 2. The older version in place, overwrite set.
click_in "$main" 428 "$(file_row 4)"
shot 05-older-selected
menu r r
confirm=$(window_named xkp_confirm)
[ -n "$confirm" ] || fail "no start dialog for the older version"
click_in "$confirm" 22 510 # Overwrite existing files
shot 06-start-dialog-overwrite
confirm_ok "$confirm"
[ -e "$HOME/kplog.rest.002" ] || fail "second restore wrote no log"
wait_log "$HOME/kplog.rest.002"
same "$data/f1.txt" "$work/expect1/f1.txt"

# 3. The directory sub, redirected to another path.
menu r a
dest=$(window_named xkp_destpath)
[ -n "$dest" ] || fail "no destination dialog"
retype "$dest" 358 55 "$data/sub"
retype "$dest" 358 120 "$work/elsewhere/sub"
shot 07-destination
click_in "$dest" 90 374
sleep 0.5
xdotool search --onlyvisible --name xkp_destpath >/dev/null 2>&1 && fail "the destination dialog stayed open"
retype "$main" 500 48 "$data/sub/"
xdotool key Return
sleep 1
shot 08-search-directory-sub
menu r e
confirm=$(window_named xkp_confirm)
[ -n "$confirm" ] || fail "no start dialog for the directory"
shot 09-start-dialog-redirected
confirm_ok "$confirm"
wait_log "$HOME/kplog.rest.003"
shot 10-after-restores
same "$work/elsewhere/sub/g file.txt" "$work/expect2/sub/g file.txt"
same "$work/elsewhere/sub/it's.txt" "$work/expect2/sub/it's.txt"
# Nothing was restored in place.
same "$data/sub/g file.txt" "$work/expect2/sub/g file.txt"
[ "$(ls -A "$work/elsewhere")" = "sub" ] || fail "more than sub restored: $(ls -A "$work/elsewhere")"

# File, Quit.
quit_xkp
echo "PASS: screenshots in $out"
