#!/usr/bin/env bash
# The real xkp binary under Xvfb with openbox, driven from the keyboard:
# F10 opens the menu bar, the mnemonics open each menu, File, Quit ends the
# program with status 0. Screenshots of the window and of every menu go to
# BUILD/e2e-artifacts/main_window/.
#   tests/e2e/main_window.sh BUILD_DIR
set -uo pipefail
. "$(dirname "$0")/common.bash"
e2e_begin main_window "$1"
e2e_display
# A product root of our own with a real (empty) server, so that the restore
# modes list through the real engine and find nothing rather than failing to
# reach a server; tests running beside this one keep their own roots.
e2e_product_root demo
mkdir -p "$work/tree/sub dir"
echo hello > "$work/tree/a file"
cd "$work/tree"

run_window() { # name, options...
    local name=$1
    shift
    "$xkp" "$@" &
    app=$!
    win=$(timeout 20 xdotool search --sync --onlyvisible --classname xkp | head -1)
    [ -n "$win" ] || fail "$name: the main window did not appear"
    xdotool windowfocus --sync "$win"
    sleep 0.5
    import -window root "$out/$name-window.png"
}


# The empty server answers a restore listing with "nothing found": the
# message box must appear, and Return on its Close button must close it.
close_nothing_found() {
    local box
    box=$(timeout 20 xdotool search --sync --onlyvisible --name '^xkp_errmsg$' | head -1)
    [ -n "$box" ] || fail "$1: no message box for the empty listing"
    shot "$1-nothing-found"
    xdotool windowfocus --sync "$box"
    xdotool key Return
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^xkp_errmsg$' >/dev/null 2>&1 || break
        sleep 0.1
    done
    xdotool search --onlyvisible --name '^xkp_errmsg$' >/dev/null 2>&1 &&
        fail "$1: Close left the message box open"
    xdotool windowfocus --sync "$win"
    sleep 0.3
}

# Does the screenshot differ from the window alone (a menu is drawn)?
differs() {
    local diff
    diff=$(compare -metric AE "$out/$1.png" "$out/$2.png" /dev/null 2>&1 || true)
    [ "${diff%% *}" != "0" ]
}

run_window filesys
# F10 enters the menu bar on File, Down pulls the menu down, Escape closes.
xdotool key F10
sleep 0.3
xdotool key Down
shot f10-file
differs f10-file filesys-window || fail "F10 opened no menu"
xdotool key Escape Escape
# Every menu by its mnemonic.
for m in f e v b r h; do
    xdotool keydown alt key $m keyup alt
    shot "menu-$m"
    differs "menu-$m" filesys-window || fail "menu with mnemonic $m did not open"
    xdotool key Escape Escape
    sleep 0.2
done
# A mode switch from the keyboard: File, Browse backups (restore) shows the
# image pane.
xdotool keydown alt key f keyup alt
sleep 0.3
xdotool key b
close_nothing_found restore-mode
shot restore-mode
differs restore-mode filesys-window || fail "restore mode changed nothing on the screen"
# File, Quit: the process ends at once with status 0.
xdotool keydown alt key f keyup alt
sleep 0.3
xdotool key q
expect_exit_zero "File, Quit"

# Started in restore mode, then quit through F10 and the item's mnemonic.
run_window restore -r
close_nothing_found restore-start
xdotool key F10
sleep 0.3
xdotool key Down
shot restore-f10
xdotool key q
expect_exit_zero "F10, Quit"
rm -rf "$work"
echo "PASS: screenshots in $out"
