# Private X server and sound server for tests and the demo. Source this file, then call
# start_x / start_pulse; stop_services ends what was started (install it as an EXIT trap).
# Nothing here touches the user's own display or sound server.

_tavolu_pids=()
TAVOLU_RUN_DIR=${TAVOLU_RUN_DIR:-$(mktemp -d /tmp/tavolu-run.XXXXXX)}

# Starts Xvfb on a free display number and exports DISPLAY once the server answers. A number
# that looks free can still be taken (by a server in another mount namespace, for example):
# then Xvfb dies at once and the next number is tried.
start_x() {
  local size=${1:-1920x1080x24}
  local n pid i
  for n in $(seq 90 160); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 "$size" -nolisten tcp +extension RANDR +extension DAMAGE \
      +extension COMPOSITE +extension MIT-SHM +extension XFIXES -dpi 96 -noreset \
      >"$TAVOLU_RUN_DIR/xvfb.log" 2>&1 &
    pid=$!
    for i in $(seq 100); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        _tavolu_pids+=("$pid")
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "services: Xvfb did not start" >&2
  cat "$TAVOLU_RUN_DIR/xvfb.log" >&2
  return 1
}

# Starts a PulseAudio daemon with a null sink (the default sink) on a private socket and
# exports PULSE_SERVER. A tone can be played into it with `paplay` or `pacat`.
start_pulse() {
  local dir="$TAVOLU_RUN_DIR/pulse"
  mkdir -p "$dir"
  export PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir" PULSE_CONFIG_PATH="$dir"
  export XDG_RUNTIME_DIR="$dir" HOME="${HOME:-/root}"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --system=false --disable-shm=true \
    -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    -L "module-null-sink sink_name=tavolu_null rate=48000 channels=2" \
    -L "module-null-source source_name=tavolu_mic" \
    >"$TAVOLU_RUN_DIR/pulse.log" 2>&1 &
  _tavolu_pids+=($!)
  export PULSE_SERVER="unix:$dir/native"
  local i
  for i in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  pactl info >/dev/null 2>&1 || { echo "services: PulseAudio did not start" >&2; cat "$TAVOLU_RUN_DIR/pulse.log" >&2; return 1; }
  pactl set-default-sink tavolu_null
  pactl set-default-source tavolu_mic
}

stop_services() {
  local pid
  for pid in "${_tavolu_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${_tavolu_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  _tavolu_pids=()
  rm -rf "$TAVOLU_RUN_DIR"
}
