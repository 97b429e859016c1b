# Sourced helpers: start_xvfb starts a private Xvfb on a display it picks itself (-displayfd, so two
# suites started at once never share one) and exports DISPLAY; stop_xvfb ends it.
XVFB_PID=""
start_xvfb() {
  local out
  out=$(mktemp "${TMPDIR:-/tmp}/lumra-xvfb.XXXXXX")
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp +extension XTEST +extension XFIXES \
    3>"$out" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 1 100); do
    if [ -s "$out" ] && grep -q '^[0-9]' "$out"; then
      export DISPLAY=":$(head -n1 "$out" | tr -dc 0-9)"
      rm -f "$out"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$out"
  echo "could not start Xvfb" >&2
  return 1
}
stop_xvfb() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  return 0
}
