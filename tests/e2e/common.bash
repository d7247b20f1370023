# Shared by the end-to-end scripts (sourced; the .bash suffix keeps it out of
# the *.sh tests). After `e2e_begin NAME BUILD_DIR`:
#   build, xkp, stage (the staged product root), out (screenshots), work (a
#   scratch directory removed at exit), fail MESSAGE (with a screenshot when
#   a display is up), and app/wm/xvfb, whose processes are killed at exit;
#   shot NAME (a screenshot), menu MENU ITEM (mnemonics), window_of NAME
#   (the visible window of that title) and open_backup_progress for driving
#   the display.
e2e_begin() {
    build=$(cd "${2:?build directory}" && pwd)
    xkp=$build/clientx/xkp
    stage=${XKP_ROOT:-$build/root}
    out=$build/e2e-artifacts/$1
    mkdir -p "$out"
    rm -f "$out"/*.png
    [ -x "$xkp" ] || fail "$xkp is not built"
    [ -x "$stage/sorvane/bin/kprestore" ] || fail "the engine programs are not staged in $stage"
    work=$(mktemp -d "/tmp/xkp_e2e_$1.XXXXXX")
    app=""
    wm=""
    xvfb=""
    trap e2e_cleanup EXIT
}

fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$out/failure.png" 2>/dev/null
    exit 1
}

e2e_cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}

# A product root of our own in $work/root: the staged programs, catalog and
# help, kp.conf from the stage (or the text given), and the server it names
# created for this run; HOME and TMPDIR inside the scratch directory.
#   e2e_product_root SERVER [KP_CONF_TEXT]
e2e_product_root() {
    root=$work/root
    mkdir -p "$root/sorvane" "$work/home"
    for d in msg app-defaults; do ln -s "$stage/$d" "$root/$d"; done
    for d in bin help; do ln -s "$stage/sorvane/$d" "$root/sorvane/$d"; done
    if [ $# -ge 2 ]; then
        printf '%s' "$2" >"$root/sorvane/kp.conf"
    else
        cp "$stage/sorvane/kp.conf" "$root/sorvane/kp.conf"
    fi
    export XKP_ROOT=$root HOME=$work/home LANG=C.UTF-8 TMPDIR=$work
    "$root/sorvane/bin/kpadmin" init-server "$1" >/dev/null 2>&1 || fail "kpadmin init-server $1"
}

# A private Xvfb (it picks a free display number itself and writes it to the
# descriptor) with openbox on it; exports DISPLAY.
e2e_display() {
    local numfile
    numfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$numfile" ] && break; sleep 0.1; done
    export DISPLAY=:$(head -1 "$numfile")
    rm -f "$numfile"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 0.5
}

# A request program returns once its job has started: wait_log LOG waits
# (up to a minute) for the job's last line, "EXIT STATUS N".
wait_log() {
    for _ in $(seq 600); do
        grep -q '^[0-9:]* EXIT STATUS ' "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "no end in the log $1: $(cat "$1" 2>/dev/null)"
}

# A screenshot of the whole screen as $out/NAME.png, once the drawing settled.
shot() { sleep 0.4; import -window root "$out/$1.png"; }

# The item of a menu chosen by the mnemonics of the menu and of the item, in
# the main window $main (focused first once it is known). MENU_SETTLE is how
# long the item's action is given before the next step (0.8 s).
menu() {
    if [ -n "${main:-}" ]; then xdotool windowfocus --sync "$main"; fi
    xdotool keydown alt key "$1" keyup alt
    sleep 0.4
    xdotool key "$2"
    sleep "${MENU_SETTLE:-0.8}"
}

# The main window of the xkp just started, waiting for it to show.
find_main() { timeout 20 xdotool search --sync --onlyvisible --classname xkp | head -1; }

# A click at an offset inside a window.
click_in() { # window x y
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.3
}

# Replaces the text of the field at an offset inside a window.
retype() { # window x y text
    click_in "$1" "$2" "$3"
    xdotool key End
    xdotool key --repeat 120 --delay 2 BackSpace
    xdotool type --delay 5 "$4"
}

# Waits for xkp ($app) to end (at most 5 s) and checks its status is 0.
expect_exit_zero() { # what ended it
    for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$app" 2>/dev/null; then
        fail "$1: xkp is still running"
    fi
    wait "$app"
    local status=$?
    app=""
    [ "$status" -eq 0 ] || fail "$1: xkp ended with status $status"
}

# File, Quit, and xkp ends with status 0.
quit_xkp() {
    menu f q
    expect_exit_zero "File, Quit"
}

# The visible window whose title is NAME (a shell name), waiting for it.
window_of() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -1; }

# Backup, Report progress of backup from the main window $main, and the first
# log of its list chosen; the dialog's window goes into $progress. The item's
# mnemonic is shared with "Archive search directory...", so it is reached
# with the arrows: up from the first item wraps to the last two.
open_backup_progress() {
    xdotool windowfocus --sync "$main"
    xdotool keydown alt key b keyup alt
    sleep 0.4
    xdotool key Up Up Return
    sleep 0.8
    progress=$(window_of xkp_progress)
    [ -n "$progress" ] || fail "the progress dialog did not open"
    xdotool mousemove --window "$progress" 120 72 click 1
}
