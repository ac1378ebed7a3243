# Set-up shared by the end-to-end scripts that run on a display of their own:
# a scratch folder, fail(), and the clean-up of the engine (its pid in
# $engine) and the display at exit. Sourced once $src is set.
work=$(mktemp -d)
engine=
fail() {
  echo "FAIL: $* (display ${DISPLAY:-none})"
  [ -f "$work/engine.log" ] && cat "$work/engine.log"
  [ -f "$work/xvfb.log" ] && cat "$work/xvfb.log"
  exit 1
}
source "$src/tests/e2e/lib/x_display.bash"
# Games with sound on play into a file through SDL's disk driver: test
# machines have no sound card. A script that checks the output sets its own.
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/sound.raw"
trap '[ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work"' EXIT
