# Sourced after private_xvfb.sh by the scripts that play into a sound server of their own: a
# private PulseAudio server with one null sink ("null", recorded through "null.monitor"),
# reachable only through the socket in $work. PULSE_SERVER and XDG_RUNTIME_DIR point at it.
# $pulse_prio, when set, runs the server under it (nice -n -10 for a timing measurement).
# $pulse_log, when set, is the server's log level (4: debug, which logs every underrun).
# With QTAM_SOUND_SERVER=pipewire, PipeWire's PulseAudio server plays the part instead
# (private_pipewire.sh).
if [ "${QTAM_SOUND_SERVER:-}" = pipewire ]; then
    . "$here/private_pipewire.sh"
else
    mkdir -m 700 "$work/rt"
    HOME=$work XDG_RUNTIME_DIR=$work/rt ${pulse_log:+env PULSE_LOG=$pulse_log PULSE_LOG_TIME=1} \
        ${pulse_prio:-} pulseaudio -n --daemonize=no --exit-idle-time=-1 \
        -L module-null-sink \
        -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
        >"$work/pa.log" 2>&1 &
    pids="$pids $!"
    for _ in $(seq 50); do [ -S "$work/pulse.sock" ] && break; sleep 0.1; done
    export PULSE_SERVER=unix:$work/pulse.sock XDG_RUNTIME_DIR=$work/rt
fi
