#!/usr/bin/env bash
# Database backup and restore through the real xkp under Xvfb and openbox,
# driven with xdotool, with the example PostgreSQL scripts run by the real
# kphdb against a PostgreSQL 15 server this test starts as nobody in its
# scratch directory, on a free loopback port:
#   1. "Browse file system for Oracle backup scripts", postgresql_backup
#      picked in the examples directory, "Backup database using selected
#      scripts", OK: the dump is stored;
#   2. the table is dropped;
#   3. "Browse backups (restore)" lists the stored dump under /databases;
#   4. "Browse file system for Oracle restore scripts", postgresql_restore,
#      "Restore database using selected scripts", OK: the table is back, row
#      for row.
# Screenshots of every step go to BUILD/e2e-artifacts/database_scripts/.
#   tests/e2e/database_scripts.sh BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/common.bash"
e2e_begin database_scripts "$1"
pgbin=/usr/lib/postgresql/15/bin
if [ ! -x "$pgbin/initdb" ]; then
    echo "SKIP: PostgreSQL 15 is not installed"
    exit 0
fi
e2e_product_root e2e $'SERVER = e2e\nCLIENT_NAME = e2eclient\n'
ln -s "$stage/sorvane/scripts" "$root/sorvane/scripts"
examples=$root/sorvane/scripts/examples

# The server: its own directory, owned by nobody, stopped whatever happens.
pgdir=$work/pg
as_nobody() { runuser -u nobody -- "$@"; }
pg_stop() {
    [ -f "$pgdir/data/postmaster.pid" ] &&
        as_nobody "$pgbin/pg_ctl" -D "$pgdir/data" -m immediate -w stop >/dev/null 2>&1
    e2e_cleanup
}
trap pg_stop EXIT
chmod 711 "$work"
mkdir -m 700 "$pgdir" && chown nobody:nogroup "$pgdir" || fail "cannot prepare $pgdir for nobody"
as_nobody "$pgbin/initdb" -D "$pgdir/data" -A trust -U dbadmin --no-sync >"$work/initdb.out" 2>&1 ||
    fail "initdb: $(cat "$work/initdb.out")"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
as_nobody "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
    -o "-k $pgdir -p $port -h 127.0.0.1" start >/dev/null 2>&1 ||
    fail "the PostgreSQL server did not start: $(cat "$pgdir/server.log")"
export PGHOST=127.0.0.1 PGPORT=$port PGUSER=dbadmin PGDATABASE=shop
psql() { command psql -X -A -t -v ON_ERROR_STOP=1 -d "${1:?}" -c "${2:?}"; }
psql postgres "CREATE DATABASE shop" >/dev/null || fail "createdb"
psql shop "CREATE TABLE orders(id int PRIMARY KEY, item text, qty int);
    INSERT INTO orders SELECT i, 'item ''' || i || '''', i % 7 FROM generate_series(1, 300) i;" \
    >/dev/null || fail "filling the table"
query="SELECT id, item, qty FROM orders ORDER BY id"
psql shop "$query" >"$work/saved.txt" || fail "query"
[ "$(wc -l <"$work/saved.txt")" -eq 300 ] || fail "the table holds $(wc -l <"$work/saved.txt") rows"

e2e_display

# The pointer positions below are offsets inside the windows; rows of the
# file list are 18.8 pixels apart in the Xft font of the app-defaults.
# The centre of the row of script NAME in the file list of a file-system
# mode: the scripts of the examples directory in name order, from row 1.
script_row() {
    local n=0
    for s in $(cd "$examples" && ls); do
        n=$((n + 1))
        [ "$s" = "$1" ] && { echo $((183 + (n - 1) * 188 / 10)); return; }
    done
    fail "no script $1 in $examples"
}
# OK in the start dialog, then the dialog gone once kphdb took the request.
confirm_ok() {
    local confirm
    confirm=$(window_of xkp_confirm)
    [ -n "$confirm" ] || fail "the start dialog did not open"
    shot "$1"
    eval "$(xdotool getwindowgeometry --shell "$confirm")"
    xdotool mousemove --window "$confirm" 22 $((HEIGHT - 24)) click 1
    for _ in $(seq 600); do
        xdotool search --onlyvisible --name '^xkp_confirm$' >/dev/null 2>&1 || break
        sleep 0.1
    done
    xdotool search --onlyvisible --name '^xkp_confirm$' >/dev/null 2>&1 && fail "the start dialog stayed open"
}

# The message box a listing that found nothing shows, closed with its
# default button.
close_message() {
    local box
    box=$(timeout 5 xdotool search --sync --onlyvisible --name '^xkp_errmsg$' | head -1)
    [ -n "$box" ] || fail "no message box"
    xdotool windowfocus --sync "$box"
    xdotool key Return
    sleep 0.5
}

cd "$examples" || fail "cd $examples"
"$xkp" >"$work/xkp.out" 2>&1 &
app=$!
main=$(find_main)
[ -n "$main" ] || fail "the main window did not appear"
xdotool windowfocus --sync "$main"
sleep 0.5

# 1. Backup.
menu f o
shot 01-oracle-backup-scripts-mode
click_in "$main" 428 "$(script_row postgresql_backup)"
shot 02-backup-script-selected
xdotool windowfocus --sync "$main"
menu b o
confirm_ok 03-backup-start-dialog
log=$HOME/kplog.bkup.001
[ -f "$log" ] || fail "no progress log $log"
wait_log "$log"
grep -q '^[0-9:]* EXIT STATUS 0' "$log" || fail "the database backup failed: $(cat "$log")"
grep -q '| PostgreSQL backup of "shop" done' "$log" || fail "the script's lines are not in the log: $(cat "$log")"
open_backup_progress
shot 04-backup-log
eval "$(xdotool getwindowgeometry --shell "$progress")"
xdotool mousemove --window "$progress" 30 $((HEIGHT - 31)) click 1 # Close
sleep 0.5
xdotool search --onlyvisible --name '^xkp_progress$' >/dev/null 2>&1 && fail "the progress dialog stayed open"

# 2. The data goes.
psql shop "DROP TABLE orders" >/dev/null || fail "drop"

# 3. The dump is listed where the backups are browsed.
xdotool windowfocus --sync "$main"
menu f b
# The examples directory was never backed up: nothing to list there.
shot 05-restore-mode-in-the-examples-directory
close_message
xdotool windowfocus --sync "$main"
xdotool key Home shift+End
xdotool type --delay 20 "/databases/postgresql/"
xdotool key Return
sleep 1.5
shot 06-restore-browse-lists-the-dump
"$root/sorvane/bin/kplist" -B -R 2 /databases/postgresql/ | grep -q ' /databases/postgresql/shop.sql$' ||
    fail "kplist does not list the dump"

# 4. Restore.
xdotool windowfocus --sync "$main"
menu f s
xdotool windowfocus --sync "$main"
xdotool key Home shift+End
xdotool type --delay 20 "$examples/"
xdotool key Return
sleep 1
shot 07-oracle-restore-scripts-mode
click_in "$main" 428 "$(script_row postgresql_restore)"
shot 08-restore-script-selected
xdotool windowfocus --sync "$main"
menu r o
confirm_ok 09-restore-start-dialog
rlog=$HOME/kplog.rest.001
[ -f "$rlog" ] || fail "no progress log $rlog"
wait_log "$rlog"
grep -q '^[0-9:]* EXIT STATUS 0' "$rlog" || fail "the database restore failed: $(cat "$rlog")"
psql shop "$query" >"$work/restored.txt" || fail "the table is not back"
cmp -s "$work/saved.txt" "$work/restored.txt" || fail "the restored rows differ: $(diff "$work/saved.txt" "$work/restored.txt" | head)"
shot 10-after-restore

# File, Quit.
quit_xkp
echo "PASS: screenshots in $out"
