# Driving the data-file checker's dialog (its window id in $w).

# click_at X Y: clicks the dialog at a place given in its own units
# (302 x 200), whatever size the dialog has on the screen.
click_at() {
  local geo wdt hgt
  geo=$(xdotool getwindowgeometry --shell "$w") || fail "the dialog is gone"
  wdt=$(echo "$geo" | sed -n 's/^WIDTH=//p')
  hgt=$(echo "$geo" | sed -n 's/^HEIGHT=//p')
  xdotool mousemove --window "$w" $(($1 * wdt / 302)) $(($2 * hgt / 200)) click 1
}

# checker_report TRIES: starts the check (Return) and copies the report box's
# text into $report, every half second until it holds the check's end line
# or TRIES copies were taken.
checker_report() {
  local _
  xdotool windowfocus --sync "$w" 2>/dev/null
  xdotool key --clearmodifiers Return
  report=
  for _ in $(seq 1 "$1"); do
    click_at 150 133
    xdotool key --clearmodifiers ctrl+a ctrl+c
    report=$(timeout 5 xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null)
    case "$report" in *"[チェック終了]"*) break ;; esac
    sleep 0.5
  done
}
