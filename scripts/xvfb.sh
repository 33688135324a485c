# Starts a private Xvfb on a free display number and stops it when the calling script exits.
# Source it, then call start_xvfb; DISPLAY is exported.

start_xvfb() {
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp -noreset +extension GLX >"$fd_file" 2>/dev/null &
  XVFB_PID=$!
  local tries=0
  while [[ ! -s "$fd_file" && $tries -lt 100 ]]; do sleep 0.1; tries=$((tries + 1)); done
  if [[ ! -s "$fd_file" ]]; then
    echo "Xvfb did not start." >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$fd_file")"
  rm -f "$fd_file"
  trap stop_xvfb EXIT
}

stop_xvfb() {
  if [[ -n "${XVFB_PID:-}" ]]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
