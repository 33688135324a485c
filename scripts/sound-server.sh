# Starts a private PulseAudio daemon whose default sink is a null sink, and stops it when the
# calling script exits. Source it, then call start_sound_server; PULSE_SERVER is exported.
# Nothing of the system's own sound configuration is read, and it runs as root as CI does.

start_sound_server() {
  SOUND_SERVER_DIR=$(mktemp -d /tmp/trellik-pulse.XXXXXX)
  local script="$SOUND_SERVER_DIR/server.pa"
  cat >"$script" <<EOF
load-module module-null-sink sink_name=trellik_null sink_properties=device.description=TrellikNull
set-default-sink trellik_null
set-default-source trellik_null.monitor
load-module module-native-protocol-unix auth-anonymous=1 socket=$SOUND_SERVER_DIR/native
EOF
  printf 'autospawn = no\n' >"$SOUND_SERVER_DIR/client.conf"
  mkdir -p "$SOUND_SERVER_DIR/state" "$SOUND_SERVER_DIR/runtime"
  # Its own runtime and state folders: a desktop's daemon (if any) is never touched.
  PULSE_RUNTIME_PATH="$SOUND_SERVER_DIR/runtime" PULSE_STATE_PATH="$SOUND_SERVER_DIR/state" \
    HOME="$SOUND_SERVER_DIR" pulseaudio --daemonize=no --use-pid-file=no --system=no \
    --exit-idle-time=-1 --disallow-module-loading=no -n -F "$script" \
    --log-target=file:"$SOUND_SERVER_DIR/server.log" --log-level=notice 2>/dev/null &
  SOUND_SERVER_PID=$!
  export PULSE_SERVER="unix:$SOUND_SERVER_DIR/native"
  export PULSE_CLIENTCONFIG="$SOUND_SERVER_DIR/client.conf"
  local previous
  previous=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")
  trap "stop_sound_server${previous:+; $previous}" EXIT
  local tries=0
  while ! pactl info >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [[ $tries -ge 100 ]] || ! kill -0 "$SOUND_SERVER_PID" 2>/dev/null; then
      echo "The private sound server did not start:" >&2
      cat "$SOUND_SERVER_DIR/server.log" >&2 2>/dev/null || true
      return 1
    fi
    sleep 0.1
  done
  # An idle null sink runs in blocks of its largest latency (2 s), and the first stream that
  # joins it is swallowed into one such block. A silent stream kept at a desktop's latency makes
  # it run like a sound card from the start; the wait ends when the last long block has passed.
  pacat --playback --raw --latency-msec=20 --client-name=trellik-keepalive /dev/zero 2>/dev/null &
  SOUND_SERVER_KEEPALIVE_PID=$!
  tries=0
  until [[ $(pactl list sinks 2>/dev/null | awk '/^\tLatency:/ {print $2; exit}') -lt 100000 ]]; do
    tries=$((tries + 1))
    if [[ $tries -ge 100 ]]; then
      echo "The private sound server's sink did not come down to a short latency." >&2
      return 1
    fi
    sleep 0.1
  done
}

stop_sound_server() {
  if [[ -n "${SOUND_SERVER_KEEPALIVE_PID:-}" ]]; then
    kill "$SOUND_SERVER_KEEPALIVE_PID" 2>/dev/null || true
    wait "$SOUND_SERVER_KEEPALIVE_PID" 2>/dev/null || true
    SOUND_SERVER_KEEPALIVE_PID=
  fi
  if [[ -n "${SOUND_SERVER_PID:-}" ]]; then
    kill "$SOUND_SERVER_PID" 2>/dev/null || true
    wait "$SOUND_SERVER_PID" 2>/dev/null || true
    SOUND_SERVER_PID=
    rm -rf "$SOUND_SERVER_DIR"
  fi
}
