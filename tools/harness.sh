# Test harness for programs under Wine (sourced after tools/setup/env.sh).
# harness_start: an ALSA null device for our processes only (capturing to
# a WAV file on request), a private Xvfb (depth 24) and a persistent
# wineserver; harness_stop ends them.

harness_start() {
  local dir="$RIDOV_CACHE_DIR/harness"
  mkdir -p "$dir"
  # Output goes to the null device through ALSA's file plug-in: a WAV file
  # at $RIDOV_SOUND_CAPTURE for the tests that set it, else /dev/null.
  local conf="$dir/asound-$(basename "$WINEPREFIX").conf"
  cat >"$conf" <<'CONF'
pcm.!default {
  type file
  slave.pcm "null"
  file { @func getenv vars [ RIDOV_SOUND_CAPTURE ] default "/dev/null" }
  format "wav"
}
ctl.!default { type hw card 0 }
CONF
  export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$conf"

  local fdfile="$dir/display.$$"
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$fdfile" \
    >"$dir/xvfb.log" 2>&1 &
  HARNESS_XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [[ -s "$fdfile" ]] && break
    sleep 0.1
  done
  if [[ ! -s "$fdfile" ]]; then
    echo "harness: Xvfb did not start" >&2
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$fdfile")"
  rm -f "$fdfile"

  # Fails when a server for this prefix already runs; that one serves too.
  wineserver -p >/dev/null 2>&1 </dev/null || echo "harness: a wineserver already runs for $WINEPREFIX" >&2
  HARNESS_WINESERVER=1
  # Start Wine's own background processes now, detached from any pipe, so
  # they never hold a test's output open.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

harness_stop() {
  if [[ -n "${HARNESS_WINESERVER:-}" ]]; then
    wineserver -k >/dev/null 2>&1 || true
    HARNESS_WINESERVER=
  fi
  if [[ -n "${HARNESS_XVFB_PID:-}" ]]; then
    kill "$HARNESS_XVFB_PID" 2>/dev/null || true
    wait "$HARNESS_XVFB_PID" 2>/dev/null || true
    HARNESS_XVFB_PID=
  fi
}
