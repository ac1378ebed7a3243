# Steps shared by the end-to-end scripts that run a game on the desktop:
# writing the game, starting the session and the engine, waiting for window
# states, and a second client's window that takes the focus. The helpers use
# the scripts' $out, $bin, $work, $engine and $main.

# make_game FOLDER NAME: writes the game described in $work/NAME.game
# (make_demo's text) into FOLDER as game.zpf, with the engine beside it.
make_game() {
  local writer="$bin/demo/make_demo"
  [ -x "$writer" ] || fail "no game writer program ($writer) in this build"
  mkdir -p "$1"
  "$writer" "$work/$2.game" "$1" game.zpf >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "the game could not be written"; }
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$1/"
}

# start_desktop [no-tray]: a runtime folder of our own, no Wayland, and the
# display with its desktop (start_display's arguments).
start_desktop() {
  export XDG_RUNTIME_DIR="$work/run"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset WAYLAND_DISPLAY
  start_display "$@"
}

# start_game FOLDER: runs the engine in FOLDER (log in $work/engine.log);
# sets $engine and, once it shows, its main window $main.
start_game() {
  (cd "$1" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  main=$(find_window "k_lumbrane") || fail "the main window did not appear"
}

# stop_game: ends the engine and waits for it.
stop_game() {
  kill $engine
  wait $engine 2>/dev/null
  engine=
}

# Waits up to 20 s until the window manager's active window is $1.
wait_active() {
  local _
  for _ in $(seq 1 200); do
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# Waits up to 20 s for the main window's width to become $1; status 1 at
# once when the engine has ended.
wait_width() {
  local _
  for _ in $(seq 1 200); do
    xdotool getwindowgeometry "$main" 2>/dev/null | grep -q "Geometry: $1x" && return 0
    kill -0 $engine 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Fails when the engine shows any visible window but $main, or has ended.
only_own_window() {
  local others
  others=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -v "^$main\$")
  [ -z "$others" ] || fail "an unexpected window: $(for w in $others; do xdotool getwindowname "$w"; done)"
  kill -0 $engine 2>/dev/null || fail "the game ended by itself"
}
# The engine's visible windows other than the main one: its open menus.
menus() {
  xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -v "^$main\$"
}
# Waits up to 10 s for a menu of the engine to be open ($1 = 1) or closed (0).
wait_menu() {
  local _
  for _ in $(seq 1 100); do
    if [ "$1" = 1 ]; then [ -n "$(menus)" ] && return 0; else [ -z "$(menus)" ] && return 0; fi
    sleep 0.1
  done
  return 1
}
# The main window's client size, WxH.
size() { xdotool getwindowgeometry "$main" 2>/dev/null | sed -n 's/.*Geometry: \([0-9x]*\).*/\1/p'; }
# Waits up to 10 s for command $1 to print $2, checking meanwhile that no
# other window of the engine shows.
wait_for() {
  local _
  for _ in $(seq 1 100); do
    [ "$($1)" = "$2" ] && return 0
    only_own_window
    sleep 0.1
  done
  return 1
}
# 1 while the main window is in the full-screen state, else 0.
full_state() { xprop -id "$main" _NET_WM_STATE 2>/dev/null | grep -c _NET_WM_STATE_FULLSCREEN; }
# The main window's maximised states, sorted, each followed by a space.
max_state() { xprop -id "$main" _NET_WM_STATE 2>/dev/null | grep -o '_NET_WM_STATE_MAXIMIZED_[A-Z]*' | sort | tr '\n' ' '; }

# The system's python (with PIL), else the first on the path.
py=/usr/bin/python3
[ -x "$py" ] || py=python3

# maximise 1|0: what the maximise button does, asking the window manager to
# add (1) or remove (0) the main window's maximised state.
maximise() {
  "$py" "$e2e_lib/client_message.py" root "$main" _NET_WM_STATE "$1" \
    _NET_WM_STATE_MAXIMIZED_VERT _NET_WM_STATE_MAXIMIZED_HORZ 1
}

# check_maximise_round: the maximise button grows the window past 1000
# pixels wide, and restoring gives back its 640 x 360 client size.
check_maximise_round() {
  local grown= w _
  maximise 1 || fail "the maximise request could not be sent"
  wait_for max_state "_NET_WM_STATE_MAXIMIZED_HORZ _NET_WM_STATE_MAXIMIZED_VERT " ||
    fail "the window manager did not maximise the window: $(xprop -id "$main" _NET_WM_STATE)"
  for _ in $(seq 1 100); do
    w=$(size | cut -dx -f1)
    [ -n "$w" ] && [ "$w" -gt 1000 ] && { grown=1; break; }
    only_own_window
    sleep 0.1
  done
  [ -n "$grown" ] || fail "the maximised window did not grow: $(size)"
  maximise 0 || fail "the restore request could not be sent"
  wait_for size 640x360 || fail "the restored window did not get its size back: $(size)"
  only_own_window
}

# open_other_window WORD X Y W H: another client's window named "other" at
# X,Y of W x H (its pid in $other, its id in $second), to take the focus
# from the game; WORD names it in failures.
open_other_window() {
  python3 - "$2" "$3" "$4" "$5" <<'PY' &
import ctypes, os, signal, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                              ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XFlush.argtypes = [ctypes.c_void_p]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
left, top, width, height = (int(a) for a in sys.argv[1:5])
w = x.XCreateSimpleWindow(d, x.XDefaultRootWindow(d), left, top, width, height, 1, 0, 0xffffff)
x.XStoreName(d, w, b"other")
pid = ctypes.c_long(os.getpid())
x.XChangeProperty(d, w, x.XInternAtom(d, b"_NET_WM_PID", 0), 6, 32, 0, ctypes.byref(pid), 1)  # CARDINAL
x.XMapWindow(d, w)
x.XFlush(d)
signal.sigwait([signal.SIGTERM])
PY
  other=$!
  second=$(find_window "other") || fail "the $1 window did not appear"
}

# focus_other WORD [WINDOW...]: the other window takes the focus; then only
# the main window and the WINDOWs belong to the engine.
focus_other() {
  local word=$1
  shift
  xdotool windowactivate --sync "$second" 2>/dev/null
  wait_active "$second" || fail "the $word window did not take the focus"
  check_windows "$main" "$@"
}

# Fails unless the game's window has become the active one after a left
# click on the notification-area icon.
expect_brought_forward() {
  wait_active "$main" || fail "a left click on the icon did not bring the game forward (active: $(xdotool getactivewindow 2>/dev/null))"
}

# choose_from_popup [WINDOW...]: waits for a popup of the engine (a visible
# window but the main one and the WINDOWs), chooses its first item ("Ball",
# which the game answers with the width 300) and checks the popup went.
choose_from_popup() {
  local popup= _ ex
  ex=(-e "^$main\$")
  for _ in "$@"; do ex+=(-e "^$_\$"); done
  for _ in $(seq 1 100); do
    popup=$(xdotool search --onlyvisible --pid $engine 2>/dev/null | grep -v "${ex[@]}" | head -1)
    [ -n "$popup" ] && break
    sleep 0.1
  done
  [ -n "$popup" ] || fail "a right click on the icon opened no menu"
  xdotool key Down Return
  wait_width 300 || fail "the popup's choice did not reach the script: $(xdotool getwindowgeometry "$main")"
  # The popup is gone with the choice.
  check_windows "$main" "$@"
}

# The game of the notification-area scripts, written into FOLDER ($1): a
# 16 x 16 icon of colour 0x20a040 in the tray with the tip "Fallback tip"
# and a menu whose "Ball" (id 600) sets the window's width to 300; Right
# held 5 frames removes the icon.
write_tray_game() {
  mkdir -p "$1"
  write_bmp "$1/icon.bmp" 16 16 20a040
  {
    tray_command_lines
    cat <<'GAME'
config width=320 height=240 title=k_lumbrane
var 144 int 256 = 0
var 145 int = 0
script 0 main.txt
label SYSTEM_START
GAME
    tray_icon_lines
    cat <<'GAME'
instr 62
arg 0 text : "tray/ball"
arg 1 text : "Ball"
arg 2 int : B:1
arg 6 int : I:600
instr 100
arg 0 int : B:1
arg 1 text : "Fallback tip"
arg 2 text : "icon"
arg 3 text : "tray/"
loop L:-1
GAME
    width_on_choice 600 300
    cat <<'GAME'
if V:144 B:39 ) I:5 =
instr 100
arg 0 int : B:0
endif
wait I:1
endloop
GAME
  } >"$work/tray.game"
  make_game "$1" tray
}

# The declaration of menu command 62 for a game file.
menuset_command_line() {
  printf 'command 62 menuset name:text:0 caption:text:0 key:num:0 shown:num:0 enabled:num:0 checked:num:0 value:num:0\n'
}

# Game lines making the menu group "bar/": a menu "&File" holding "&Hide",
# whose choice is the id 70000.
file_hide_bar_lines() {
  cat <<'GAME'
instr 62
arg 0 text : "bar/"
arg 1 text : "bar"
arg 2 int : B:1
instr 62
arg 0 text : "bar/file/"
arg 1 text : "&File"
arg 2 int : B:1
instr 62
arg 0 text : "bar/file/hide"
arg 1 text : "&Hide"
arg 2 int : B:1
arg 6 int : I:70000
GAME
}

# Game lines showing "icon.bmp" as the layer "icon" (hidden on the screen)
# and starting the tray's menu group "tray/".
tray_icon_lines() {
  cat <<'GAME'
instr 1
arg 0 text : "icon"
arg 6 int : I:1
arg 2 int : B:0
arg 46 text : "icon.bmp"
instr 62
arg 0 text : "tray/"
arg 1 text : "tray"
arg 2 int : B:1
GAME
}

# width_on_choice ID WIDTH: game lines (in the frame loop) that answer the
# menu choice ID, the value of variable 145, by setting the window's width to
# WIDTH, and take the choice back to 0.
width_on_choice() {
  printf 'if H:145 I:%s =\ninstr 105\narg 0 int : B:0\narg 7 int : I:%s\nset V:145 ) = B:0\nendif\n' "$1" "$2"
}

# The declarations of the menu, tray and window commands for a game file.
tray_command_lines() {
  menuset_command_line
  printf 'command 100 tray show:num:0 tip:text:0 layer:text:0 menu:text:0\n'
  window_command_line
}

# picture_fits [seam]: the screen shows the 640 x 360 picture (red left half,
# blue right half, colours 0xe0) fitted to the 1280 x 1024 screen, 1280 x 720
# at row 152 with black bands above and below: points well inside each part
# and rows a few pixels either side of the band edges; with "seam", pixels
# either side of the halves' seam too. Prints the points that differ.
picture_fits() {
  import -window root "$work/full.png" 2>/dev/null || return 1
  "$py" - "$work/full.png" "${1:-}" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
def near(p, want):
    return all(abs(a - b) <= 8 for a, b in zip(p, want))
red, blue, black = (0xE0, 0, 0), (0, 0, 0xE0), (0, 0, 0)
checks = [((320, 512), red), ((960, 512), blue), ((4, 156), red), ((1275, 867), blue),
          ((640, 60), black), ((640, 147), black), ((640, 876), black), ((640, 1000), black)]
if sys.argv[2] == "seam":
    checks += [((636, 400), red), ((644, 400), blue)]
bad = [(xy, im.getpixel(xy), want) for xy, want in checks if not near(im.getpixel(xy), want)]
if bad:
    print("picture:", bad)
    sys.exit(1)
PY
}

# write_f11_game FOLDER NAME WIDTH HEIGHT [sizable]: a game of WIDTH x HEIGHT
# showing a picture of its size (red left half, blue right half) that
# switches between full screen and the window each time F11 goes down;
# "sizable" gives its window a sizing frame.
write_f11_game() {
  mkdir -p "$1"
  write_bmp "$1/halves.bmp" "$3" "$4" e00000 0000e0
  {
    window_command_line
    echo "config width=$3 height=$4 title=k_lumbrane"
    cat <<'GAME'
var 144 int 256 = 0
var 1000 int = 0
script 0 main.txt
label SYSTEM_START
instr 1
arg 0 text : "halves"
arg 6 int : I:1
arg 46 text : "halves.bmp"
GAME
    [ "${5:-}" = sizable ] && printf 'instr 105\narg 0 int : B:0\narg 25 int : B:1\n'
    cat <<'GAME'
loop L:-1
if V:144 B:122 ) B:1 =
set v:1000 = B:1 H:1000 -
instr 105
arg 0 int : B:0
arg 13 int : H:1000
endif
wait I:1
endloop
GAME
  } >"$work/$2.game"
  make_game "$1" "$2"
}
