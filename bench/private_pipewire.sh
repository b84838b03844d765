# Sourced after private_xvfb.sh in place of private_pulse.sh when QTAM_SOUND_SERVER=pipewire:
# a private PipeWire (pipewire, wireplumber and pipewire-pulse on a session bus of their own)
# with the same null sink ("null", recorded through "null.monitor"), reachable only through
# the PulseAudio socket in $work. PULSE_SERVER and XDG_RUNTIME_DIR point at it.
# $pipewire_rate, when set, is the graph's rate (PipeWire's default, 48000, otherwise): 44100
# for the checks that compare frames, which a resampler would change.
# pipewire-pulse logs at info level to $work/pa.log, which names each underflow it sends.
mkdir -m 700 "$work/rt"
mkdir -p "$work/config/pipewire/pipewire.conf.d"
echo "context.properties = { default.clock.rate = ${pipewire_rate:-48000} }" \
    >"$work/config/pipewire/pipewire.conf.d/rate.conf"
pw_env="env HOME=$work XDG_RUNTIME_DIR=$work/rt XDG_CONFIG_HOME=$work/config
    DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus"
$pw_env dbus-daemon --session --address="unix:path=$work/bus" --nofork --nopidfile \
    >"$work/dbus.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 50); do [ -S "$work/bus" ] && break; sleep 0.1; done
$pw_env ${pulse_prio:-} pipewire >"$work/pw.log" 2>&1 &
pids="$pids $!"
sleep 0.5
$pw_env wireplumber >"$work/wp.log" 2>&1 &
pids="$pids $!"
$pw_env PIPEWIRE_DEBUG=3 PIPEWIRE_LOG_TIMESTAMP=1 ${pulse_prio:-} pipewire-pulse \
    >"$work/pa.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 50); do [ -S "$work/rt/pulse/native" ] && break; sleep 0.1; done
export PULSE_SERVER=unix:$work/rt/pulse/native XDG_RUNTIME_DIR=$work/rt
pactl load-module module-null-sink sink_name=null >/dev/null
pactl set-default-sink null
sleep 1
