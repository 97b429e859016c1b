# Sourced helpers: start_xvfb picks a free display, starts Xvfb and exports DISPLAY; stop_xvfb ends it.
XVFB_PID=""
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp +extension XTEST +extension XFIXES >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; return 0; fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "could not start Xvfb" >&2
  return 1
}
stop_xvfb() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
