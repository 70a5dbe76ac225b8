# Sourced by the tests that run Windows programs under Wine on a display of
# their own; not run by itself. The caller defines $scratch (a scratch
# folder), $pids (process ids to end when it exits) and fail().

# Starts Xvfb on a free display and exports DISPLAY; with "twm", also the twm
# window manager, set to place each new window at once (its default lets the
# user place it with the mouse, holding the whole display until then).
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
  pids="$pids $!"
  tries=0
  while [ ! -s "$scratch/display" ]; do
    [ "$tries" -lt 100 ] || fail "Xvfb did not start"
    sleep 0.1
    tries=$((tries + 1))
  done
  export DISPLAY=":$(cat "$scratch/display")"
  if [ "${1:-}" = twm ]; then
    printf 'RandomPlacement\nUsePPosition "on"\nNoGrabServer\n' >"$scratch/twmrc"
    twm -f "$scratch/twmrc" >/dev/null 2>&1 &
    pids="$pids $!"
  fi
}
