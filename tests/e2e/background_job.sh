#!/usr/bin/env bash
# A backup that runs in the background, end to end: the real xkp under Xvfb
# and openbox, the real engine, and a restic slowed by a wrapper (XKP_RESTIC)
# that hands on its output a line at a time. OK in the start dialog returns
# while the job runs; the progress dialog opened meanwhile shows the log and
# the bar growing, then the end; a second backup whose restic fails after the
# request was accepted brings up its status box. Screenshots go to
# BUILD/e2e-artifacts/background_job/.
#   tests/e2e/background_job.sh BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/common.bash"
e2e_begin background_job "$1"
e2e_product_root demo

tree=$work/tree
mkdir -p "$tree"
for i in $(seq -w 1 60); do head -c 1000000 /dev/urandom >"$tree/file$i"; done

# restic backup runs slowly (stopped most of the time, so that its status
# lines come as it goes); once $work/fail exists it fails instead, after the
# request was accepted.
cat >"$work/restic" <<EOF
#!/bin/bash
case " \$* " in
*" backup "*)
    if [ -e '$work/fail' ]; then sleep 1; echo 'Fatal: unable to save snapshot' >&2; exit 1; fi
    /usr/bin/restic "\$@" &
    pid=\$!
    while kill -0 \$pid 2>/dev/null; do
        sleep 0.01; kill -STOP \$pid 2>/dev/null; sleep 0.3; kill -CONT \$pid 2>/dev/null
    done
    wait \$pid
    exit \$? ;;
esac
exec /usr/bin/restic "\$@"
EOF
chmod 755 "$work/restic"
export XKP_RESTIC=$work/restic

e2e_display

gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
backup_all() { # selects every file and presses OK on the backup; the seconds it took
    xdotool windowfocus --sync "$main"
    menu e s
    menu b b
    confirm=$(window_of xkp_confirm)
    [ -n "$confirm" ] || fail "the start dialog did not open"
    eval "$(xdotool getwindowgeometry --shell "$confirm")"
    local t0=$SECONDS
    xdotool mousemove --window "$confirm" 22 $((HEIGHT - 24)) click 1
    for _ in $(seq 100); do gone xkp_confirm && break; sleep 0.1; done
    gone xkp_confirm || fail "the start dialog stayed open"
    took=$((SECONDS - t0))
}

cd "$tree" || fail "cd"
"$xkp" &
app=$!
main=$(find_main)
[ -n "$main" ] || fail "the main window did not appear"

# OK returns while the job runs.
backup_all
log=$HOME/kplog.bkup.001
[ "$took" -le 3 ] || fail "OK took ${took}s: the request did not return at once"
grep -q 'EXIT STATUS' "$log" && fail "the job had ended before OK returned: $(cat "$log")"
shot 01-accepted

# The progress dialog opened while the job runs, its log chosen.
open_backup_progress
eval "$(xdotool getwindowgeometry --shell "$progress")"
refresh() { # Return in the Log File field
    xdotool mousemove --window "$progress" 400 $((HEIGHT - 99)) click 1
    xdotool key Return
}
progress_lines() { grep -c ' progress: ' "$log"; }
for _ in $(seq 300); do [ "$(progress_lines)" -ge 1 ] && break; sleep 0.1; done
[ "$(progress_lines)" -ge 1 ] || fail "no progress line in the log: $(cat "$log")"
refresh
shot 02-progress-running
for _ in $(seq 300); do [ "$(progress_lines)" -ge 3 ] && break; sleep 0.1; done
refresh
shot 03-progress-later
grep -q 'EXIT STATUS' "$log" && echo "note: the job ended before the second look" >&2
xdotool mousemove --window "$progress" 30 $((HEIGHT - 70)) click 1 # Automatic Refresh
wait_log "$log"
grep -q 'EXIT STATUS 0' "$log" || fail "the backup did not succeed: $(cat "$log")"
sleep 10.5
shot 04-progress-ended
gone xkp_errmsg_shell && gone xkp_errmsg || fail "a message box came for a job that succeeded"

# A job that fails after its request was accepted: its status box comes.
touch "$work/fail"
xdotool windowfocus --sync "$main"
backup_all
box=""
for _ in $(seq 100); do
    box=$(xdotool search --onlyvisible --name '^xkp_errmsg$' 2>/dev/null | head -1)
    [ -n "$box" ] && break
    sleep 0.1
done
shot 05-failed-job
[ -n "$box" ] || fail "no status box for the failed job: $(cat "$HOME/kplog.bkup.002")"
grep -q 'EXIT STATUS [1-9]' "$HOME/kplog.bkup.002" || fail "the log does not close with a failure"

kill "$app" 2>/dev/null
app=""
echo "PASS: screenshots in $out"
