# Sourced helpers: start_sway starts a private headless Sway and exports WAYLAND_DISPLAY (an
# absolute socket path) and SWAYSOCK; stop_sway ends it. Sway refuses to run as root, so under
# root (CI) it runs as the system user lumra-test, made here when missing; clients of any user
# reach it through the socket path.
SWAY_PID=""
SWAY_DIR=""
start_sway() {
  local user_prefix=()
  SWAY_DIR=$(mktemp -d "${TMPDIR:-/tmp}/lumra-sway.XXXXXX")
  chmod 755 "$SWAY_DIR"
  mkdir -m 700 "$SWAY_DIR/runtime"
  printf 'xwayland disable\noutput HEADLESS-1 resolution 1280x800\n' >"$SWAY_DIR/config"
  chmod 644 "$SWAY_DIR/config"
  if [ "$(id -u)" -eq 0 ]; then
    id lumra-test >/dev/null 2>&1 || useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin lumra-test
    chown lumra-test: "$SWAY_DIR/runtime"
    user_prefix=(setpriv --reuid=lumra-test --regid=lumra-test --clear-groups)
  fi
  (cd "$SWAY_DIR" && exec "${user_prefix[@]}" env -i PATH=/usr/bin:/bin HOME=/nonexistent \
    XDG_RUNTIME_DIR="$SWAY_DIR/runtime" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$SWAY_DIR/config") >"$SWAY_DIR/sway.log" 2>&1 &
  SWAY_PID=$!
  local socket ipc
  for _ in $(seq 1 100); do
    socket=$(find "$SWAY_DIR/runtime" -maxdepth 1 -name 'wayland-*' ! -name '*.lock' 2>/dev/null | head -n1)
    ipc=$(find "$SWAY_DIR/runtime" -maxdepth 1 -name 'sway-ipc.*.sock' 2>/dev/null | head -n1)
    if [ -n "$socket" ] && [ -n "$ipc" ]; then
      export WAYLAND_DISPLAY="$socket" SWAYSOCK="$ipc"
      return 0
    fi
    kill -0 "$SWAY_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "could not start a headless Sway:" >&2
  cat "$SWAY_DIR/sway.log" >&2
  return 1
}
stop_sway() {
  [ -n "$SWAY_PID" ] && kill "$SWAY_PID" 2>/dev/null && wait "$SWAY_PID" 2>/dev/null
  [ -n "$SWAY_DIR" ] && rm -rf "$SWAY_DIR"
  return 0
}
