#!/usr/bin/env bash
# Full screen with a display mode of its own, as a player with settings word
# 6 = 0 gets it: on an X server whose monitor has several modes (Xorg with
# the dummy driver, the desktop at 1024 x 768) under a window manager, an
# 800 x 600 game goes full screen with F11 and the monitor runs 800 x 600
# (the smallest 4:3 mode that holds the game); F11 again gives the desktop
# 1024 x 768 back. A game that ends in full screen (ended by a signal) also
# leaves the desktop its own mode. No window but the game's appears
# meanwhile.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

command -v Xorg >/dev/null || fail "Xorg is not installed (xserver-xorg-core)"
[ -f /usr/lib/xorg/modules/drivers/dummy_drv.so ] || fail "Xorg's dummy driver is not installed (xserver-xorg-video-dummy)"
[ "$(id -u)" = 0 ] || fail "Xorg with the dummy driver needs root here"

# A monitor with the modes 1024 x 768 (the desktop's), 800 x 600 and
# 1280 x 1024, on a screen that may grow to 1280 x 1024.
cat >"$work/xorg.conf" <<'CONF'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoAddGPU" "false"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 64000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0 - 1000.0
  VertRefresh 5.0 - 200.0
  Modeline "1024x768" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
  Modeline "800x600" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
  Modeline "1280x1024" 108.00 1280 1328 1440 1688 1024 1025 1028 1066 +hsync +vsync
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "1024x768" "800x600" "1280x1024"
    Virtual 1280 1024
  EndSubSection
EndSection
CONF

# Xorg on a free display number (it writes the number once it accepts
# clients); stop_display ends it as it ends Xvfb.
start_xorg_dummy() {
  start_x_server xorg "$work/xorg.out" xrandr Xorg -displayfd 3 -config "$work/xorg.conf" -configdir "$work/none" \
    -noreset -nolisten tcp -logfile "$work/xorg.log" && return 0
  cat "$work/xorg.out"
  fail "Xorg with the dummy driver did not start"
}
mkdir -p "$work/none"

game="$work/game"
write_f11_game "$game" mode 800 600
# The settings: words 0-6, word 6 = 0 asks full screen for a display mode of
# its own (the other words as the settings program writes them by default).
python3 -c 'import struct,sys; open(sys.argv[1],"wb").write(struct.pack("<7I",1,1,1,1,1,1,0))' "$game/ztcfg.dat"

export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_xorg_dummy
start_session_bus
start_window_manager

# The size of the first connected output's current mode.
mode() { xrandr 2>/dev/null | awk '/ connected/ { for (i = 3; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) { split($i, a, "+"); print a[1]; exit } }'; }
[ "$(mode)" = 1024x768 ] || fail "the desktop does not start at 1024x768: $(xrandr)"

# Any window but the game's fails the test (wait_for checks it meanwhile).
only_own_window() {
  check_windows "$main"
  kill -0 $engine 2>/dev/null || fail "the game ended by itself"
}
# F11 is held until the monitor runs mode $1 (the game reads its keys once a
# frame), then let go; status 1 when the mode did not come.
press_f11() {
  local rc=0
  xdotool windowfocus --sync "$main" 2>/dev/null
  xdotool keydown F11
  wait_for mode "$1" || rc=1
  xdotool keyup F11
  return $rc
}

start_game "$game"
wait_for size 800x600 || fail "the window did not get its client size: $(size)"
only_own_window
for round in 1 2; do
  press_f11 800x600 || fail "round $round: full screen did not put the monitor into 800x600: $(xrandr)"
  wait_for full_state 1 || fail "round $round: the window is not in the full-screen state"
  wait_for size 800x600 || fail "round $round: the full-screen window does not cover the 800x600 monitor: $(size)"
  press_f11 1024x768 || fail "round $round: leaving full screen did not give the desktop 1024x768 back: $(xrandr)"
  wait_for full_state 0 || fail "round $round: the window is still in the full-screen state"
done
only_own_window

# Ended by a signal while in full screen: the desktop's mode comes back
# with the end of the game.
press_f11 800x600 || fail "full screen did not put the monitor into 800x600 again: $(xrandr)"
kill -TERM $engine
wait_for_end $engine || fail "the game did not end on SIGTERM"
engine=
[ "$(mode)" = 1024x768 ] || fail "the game ended by a signal in full screen and left the desktop at $(mode)"
echo "full screen display mode: ok"
