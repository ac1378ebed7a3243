# Helpers for end-to-end tests that need a display: a private Xvfb, a close
# request as a window manager sends it, and waiting for windows by title.
# Source after setting $work (a scratch folder) and defining fail().

xvfb_pid=

# Under the sanitizers, what the desktop libraries keep until exit is not
# counted as a leak of the engine.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan_desktop.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Starts Xvfb on a free display number and exports DISPLAY. Xvfb picks the
# number itself (-displayfd: it takes the number's lock atomically and writes
# the number once it accepts clients), so scripts run at the same time never
# share a display.
start_display() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed"
  local attempt _ n
  for attempt in 1 2 3; do
    : >"$work/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/xvfb.display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
      n=$(head -1 "$work/xvfb.display" 2>/dev/null)
      [ -n "$n" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -n "$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    fi
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  done
  fail "no Xvfb display could be started"
}

stop_display() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  fi
}

# Sends WM_DELETE_WINDOW to window $1, as a window manager does for a click
# on the window's close button.
wm_delete() {
  python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
win = int(sys.argv[1])
e = Event()
e.xclient.type = 33  # ClientMessage
e.xclient.window = win
e.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.xclient.format = 32
e.xclient.l[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
e.xclient.l[1] = 0  # CurrentTime
x.XSendEvent(d, win, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
PY
}

# Prints the first visible window titled exactly $1 that is not $2 (waits up
# to 10 s); fails with status 1 when none appears.
find_window() {
  local w _
  for _ in $(seq 1 100); do
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -v "^${2:-none}\$" | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

# Waits up to 10 s for process $1 to end; status 1 when it is still running.
wait_for_end() {
  local _
  for _ in $(seq 1 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

# Runs "$out/demo_check" with the given arguments until it passes, for up
# to 20 s: the demo's scene comes to rest after its opening movie and the
# ball's run, later on a busy machine. The last check's report stays in
# $work/check.log; status 1 when none passed.
demo_check_until() {
  local _
  for _ in $(seq 1 60); do
    "$out/demo_check" "$@" >"$work/check.log" 2>&1 && return 0
    sleep 0.3
  done
  return 1
}
