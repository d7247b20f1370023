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
# the window that has the focus.
menu() {
    xdotool keydown alt key "$1" keyup alt
    sleep 0.4
    xdotool key "$2"
    sleep 0.8
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
