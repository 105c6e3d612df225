# Test harness for programs under Wine (sourced after tools/setup/env.sh).
# harness_start: an ALSA null device for our processes only (capturing to
# a WAV file on request), a private Xvfb (depth 24) and a persistent
# wineserver; harness_stop ends them.
# One run at a time per Wine prefix: all programs of a prefix share its
# wineserver, so a second run would see the first one's windows (the
# library's double-start check refuses its start-up) and its harness_stop
# would kill the first one's programs. A second run waits for the first.

harness_start() {
  local dir="$RIDOV_CACHE_DIR/harness"
  mkdir -p "$dir"

  exec {HARNESS_LOCK_FD}>"$WINEPREFIX.harness-lock"
  if ! flock -n "$HARNESS_LOCK_FD"; then
    echo "harness: another run uses $WINEPREFIX; waiting for it to end (set RIDOV_WINEPREFIX to run beside it)" >&2
    if ! flock -w 1800 "$HARNESS_LOCK_FD"; then
      echo "harness: $WINEPREFIX still in use after 30 minutes" >&2
      exec {HARNESS_LOCK_FD}>&-
      HARNESS_LOCK_FD=
      return 1
    fi
  fi
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
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$fdfile" {HARNESS_LOCK_FD}>&- \
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

  # A server still running here was left by a run that ended without its
  # harness_stop (no run holds the lock): end it and its programs.
  wineserver -k >/dev/null 2>&1 || true
  # The server and Wine's background processes outlive no run: they do not
  # hold the lock.
  wineserver -p >/dev/null 2>&1 </dev/null {HARNESS_LOCK_FD}>&- || echo "harness: wineserver -p failed" >&2
  HARNESS_WINESERVER=1
  # Start Wine's own background processes now, detached from any pipe, so
  # they never hold a test's output open.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null {HARNESS_LOCK_FD}>&- || true
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
  if [[ -n "${HARNESS_LOCK_FD:-}" ]]; then
    exec {HARNESS_LOCK_FD}>&-
    HARNESS_LOCK_FD=
  fi
}
