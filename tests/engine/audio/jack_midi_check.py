#!/usr/bin/python3
"""qtam-cli play --jack's MIDI ports against a private JACK server (jackd's dummy driver).

    jack_midi_check.py SCENARIO QTAM_CLI WORKDIR [SECONDS]

A probe client records Q.Tam's channel 1 and its midi_out, each event and sample stamped with
its JACK frame time and transport frame, and sends note-ons into midi_in. The material and the
server come from jack_check.py. SECONDS (default 20) is how long the clock scenario rolls:
bench/jack_midi_timing.sh runs it for ten minutes.
"""

import array
import math
import os
import re
import subprocess
import sys

import jack

from jack_check import (FAILURES, Server, check, click_song, grid, start_qtam, stop_qtam)

RATE, BPM, SHUFFLE = 44100, 120, 40


def nearest(x):
    return int(math.floor(x + 0.5))  # halves up, as llround does for positive frames
# Channel 1 is given --note 1=60; channels 2 and 3 keep theirs (sounds without a drum name).
CLICK_NOTE, MEASURE2_NOTE, TONE_NOTE = 60, 38, 42


class MidiProbe:
    """Per period: frame time, transport state and frame, channel 1's samples (None when
    silent), the MIDI events from Q.Tam. `sends` maps a period to (offset, bytes) to send."""

    def __init__(self, server):
        self.client = jack.Client("midiprobe", servername=server.name, no_start_server=True)
        self.audio = self.client.inports.register("in_channel1")
        self.midi_in = self.client.midi_inports.register("in_midi")
        self.midi_out = self.client.midi_outports.register("out_midi")
        self.periods, self.sends, self.actions = [], {}, {}
        self.at_frames = []  # (transport frame, bytes) sent while rolling
        self.count, self.armed = 0, False
        self.client.set_process_callback(self._process)
        self.client.activate()

    def _process(self, frames):
        self.midi_out.clear_buffer()
        if not self.armed:
            return
        state, pos = self.client.transport_query_struct()
        data = bytes(self.audio.get_buffer())
        events = [(offset, bytes(raw)) for offset, raw in self.midi_in.incoming_midi_events()]
        self.periods.append((self.client.last_frame_time, state, pos.frame,
                             None if data.count(0) == len(data) else data, events))
        for offset, raw in self.sends.get(self.count, ()):
            self.midi_out.write_midi_event(offset, raw)
        for at, raw in self.at_frames:
            if state == jack.ROLLING and pos.frame <= at < pos.frame + frames:
                self.midi_out.write_midi_event(at - pos.frame, raw)
        action = self.actions.get(self.count)
        if action:
            action(self.client)
        self.count += 1

    def connect(self, qtam):
        self.client.connect(qtam + ":channel1_L", self.audio)
        self.client.connect(qtam + ":midi_out", self.midi_in)
        self.client.connect(self.midi_out, qtam + ":midi_in")

    def run(self, periods, seconds):
        import time
        self.armed = True
        end = time.time() + seconds
        while self.count < periods and time.time() < end:
            time.sleep(0.05)
        self.client.deactivate()
        self.client.close()

    def events(self, rolling_only=True):
        """(transport frame, frame time, bytes) of every MIDI event, in order."""
        return [(frame + o, t + o, raw) for t, state, frame, _, events in self.periods
                for o, raw in events if state == jack.ROLLING or not rolling_only]

    def onsets(self, by_time=False):
        """Frames (transport frames, or frame times) where channel 1 sounds after silence."""
        sound = []
        for t, state, frame, data, _ in self.periods:
            if data is None or (not by_time and state != jack.ROLLING):
                continue
            base = t if by_time else frame
            sound += [(base + n, abs(x)) for n, x in enumerate(array.array("f", data)) if x]
        frames = {f for f, _ in sound}
        return [(f, x) for f, x in sound if f - 1 not in frames]


def humanized_song(cli, work, song):
    """The click song with humanize on and channel 4 muted, clicking on every step."""
    text = subprocess.run([cli, "info", song], capture_output=True, text=True,
                          check=True).stdout
    text = text.replace("humanize off", "humanize on")
    text = text.replace("  channel 4 sound 1 volume 100", "  channel 4 sound u1 volume 127 mute")
    text = text.replace("    4 .... .... .... ....", "    4 xxxx xxxx xxxx xxxx")
    out = os.path.join(work, "humanized.sng")
    subprocess.run([cli, "build", "-", "-o", out, "-f"], input=text.encode(), check=True,
                   stdout=subprocess.DEVNULL)
    return out


def session(cli, work, tag, extra, periods, setup, humanize=False):
    server = Server(f"qtam-midi-{tag}-{os.getpid()}")
    try:
        song, bank = click_song(cli, work, tempo=BPM, shuffle=SHUFFLE)
        if humanize:
            song = humanized_song(cli, work, song)
        probe = MidiProbe(server)
        setup(probe)
        proc, qtam = start_qtam(cli, server, song, bank, "follow", ["--note", "1=60", *extra])
        probe.connect(qtam)
        probe.run(periods, seconds=max(60, periods * 256 / RATE * 4))
        rc, out, err = stop_qtam(proc)
        check(rc == 0, f"{tag}: qtam-cli ended well ({rc}) {err.strip()}")
        probe.err = err
        return probe
    finally:
        server.stop()


def notes_out(cli, work):
    """Every note leaves on channel 10 at the frame its sound starts, shuffle included, at the
    velocity humanize gave it, with a note-off at the next step; a muted channel sends nothing;
    a relocation and a stop as well."""
    jump = grid(RATE, BPM, SHUFFLE, 16 + 32 * 3)  # step 1 of measure 2

    def setup(probe):
        probe.actions = {10: lambda c: c.transport_locate(0), 12: lambda c: c.transport_start(),
                         1000: lambda c: c.transport_locate(jump),
                         1300: lambda c: c.transport_stop()}

    probe = session(cli, work, "notes", ["--notes-out"], 1320, setup, humanize=True)
    events = [(f, raw) for f, _, raw in probe.events()]
    ons = [(f, raw) for f, raw in events if raw[0] & 0xF0 == 0x90]
    check(bool(ons) and all(raw[0] == 0x99 for _, raw in ons),
          f"notes: note-ons on MIDI channel 10 ({ons[:1]})")
    clicks = [f for f, _ in probe.onsets()]
    click_notes = [f for f, raw in ons if raw[1] == CLICK_NOTE]
    error = max((abs(a - b) for a, b in zip(click_notes, clicks)), default=-1)
    check(len(clicks) > 30 and click_notes == clicks,
          f"notes: {len(click_notes)} note-ons of channel 1 on the frames of its {len(clicks)} "
          f"sounds (shuffle {SHUFFLE}), the worst {error} frames off")
    measure2 = [f for f, raw in ons if raw[1] == MEASURE2_NOTE]
    wanted = {grid(RATE, BPM, SHUFFLE, 16 + 32 * n) for n in range(8)} | {jump}
    check(bool(measure2) and set(measure2) <= wanted,
          f"notes: channel 2's note on step 1 of measure 2 only ({measure2})")
    check({raw[1] for _, raw in ons} == {CLICK_NOTE, MEASURE2_NOTE, TONE_NOTE},
          "notes: the notes of channels 1, 2 and 3, none of muted channel 4")
    # Humanize moves x (100) by -15..14; the click's loudness follows the note's velocity.
    velocities = [raw[2] for f, raw in ons if raw[1] == CLICK_NOTE]
    loudness = dict(probe.onsets())
    ratios = [loudness[f] / v for f, v in zip(click_notes, velocities) if f in loudness]
    check(len(set(velocities)) > 5 and all(85 <= v <= 114 for v in velocities) and ratios
          and max(ratios) / min(ratios) < 1.02,
          f"notes: the velocities are humanize's, as loud as the sounds ({sorted(set(velocities))})")
    # A relocation stops the transport for a period (Starting): its note-offs come then.
    offs = [f for f, _, raw in probe.events(rolling_only=False)
            if raw[0] == 0x89 and raw[1] == CLICK_NOTE]
    check(offs[:len(click_notes) - 2] == click_notes[1:len(click_notes) - 1],
          "notes: each note ends at the next step")
    # The stop ends the last note.
    last = max(f for f, _ in events) if events else 0
    stops = [raw for t, state, _, _, ev in probe.periods if state != jack.ROLLING
             for _, raw in ev]
    check(any(raw[0] == 0x89 for raw in stops) or offs and offs[-1] >= last,
          "notes: Stop sends the note-off of the notes sounding")
    print(f"measured: note-out frame error {error} frames over {len(clicks)} notes "
          f"(python3 tests/engine/audio/jack_midi_check.py notes QTAM_CLI /tmp/qtam-midi)")


def clock_out(cli, work, seconds):
    """24 ticks a beat on their exact frames from frame 0, for the whole run, after Start;
    Stop, Song Position Pointer and Continue around a relocation."""
    periods = int(seconds * RATE / 256)
    relocate_at = periods - 60
    # Ahead of where the transport is then, into a step: on again at the next sixteenth.
    ahead = int((relocate_at - 12) * 256 / (RATE * 15.0 / BPM)) + 101
    jump = grid(RATE, BPM, SHUFFLE, ahead) + 1000

    def setup(probe):
        probe.actions = {10: lambda c: c.transport_locate(0), 12: lambda c: c.transport_start(),
                         relocate_at: lambda c: c.transport_locate(jump)}

    probe = session(cli, work, "clock", ["--clock-out"], periods, setup)
    events = [(f, raw) for f, _, raw in probe.events(rolling_only=False)]
    check(events[:1] == [(0, b"\xfa")], f"clock: Start at frame 0 ({events[:2]})")
    split = next((i for i, (_, raw) in enumerate(events) if raw == b"\xfc"), len(events))
    before = [f for f, raw in events[:split] if raw == b"\xf8"]
    per_tick = RATE * 60.0 / (24 * BPM)
    errors = [f - nearest(j * per_tick) for j, f in enumerate(before)]
    worst = max(map(abs, errors), default=-1)
    check(len(before) > 24 * BPM / 60 * seconds * 0.6 and worst == 0,
          f"clock: {len(before)} ticks over {len(before) / 24 / BPM * 60:.1f} s, each on its "
          f"frame (the worst {worst} frames off)")
    after = events[split:]
    k = int(-(-jump // (per_tick * 6)))  # the next sixteenth after the new place
    spp = bytes([0xF2, k & 0x7F, k >> 7])
    cue = [raw for _, raw in after[:3]]
    check(cue == [b"\xfc", spp, b"\xfb"],
          f"clock: a relocation sends Stop, Song Position Pointer {k} and Continue ({cue})")
    ticks = [f for f, raw in after if raw == b"\xf8"]
    check(bool(ticks) and all(f == nearest((6 * k + n) * per_tick) for n, f in enumerate(ticks)),
          "clock: ... and the ticks go on from that sixteenth on their frames")
    print(f"measured: clock drift and jitter {worst} frames over {seconds} s "
          f"(python3 tests/engine/audio/jack_midi_check.py clock QTAM_CLI /tmp/qtam-midi "
          f"{seconds})")


def pads(cli, work):
    """A note-on plays its channel's sound one period after it came in, whether the transport
    rolls or not, at its velocity; a note no channel has plays nothing."""
    hits = {30: [(100, bytes([0x99, CLICK_NOTE, 100]))],
            60: [(7, bytes([0x90, CLICK_NOTE, 50]))],
            90: [(200, bytes([0x99, 99, 100]))],
            120: [(0, bytes([0x99, CLICK_NOTE, 100]))],
            140: [(10, bytes([0xC9, 2])), (20, bytes([0xC9, 9]))]}

    def setup(probe):
        probe.sends = hits

    probe = session(cli, work, "pads", ["--program-change", "both"], 160, setup)
    start = probe.periods[0][0] if probe.periods else 0
    sent = [start + 256 * p + o for p in sorted(hits) for o, raw in hits[p]
            if raw[0] & 0xF0 == 0x90 and raw[1] != 99]
    heard = probe.onsets(by_time=True)
    latency = [min((f - s for f, _ in heard if f >= s), default=-1) for s in sent]
    check(len(heard) == len(sent) and all(0 <= x <= 2 * 256 for x in latency),
          f"pads: {len(heard)} sounds for {len(sent)} pad hits, each within two periods "
          f"(latency {latency} frames)")
    levels = [x for _, x in heard]
    check(len(levels) >= 2 and abs(levels[1] / levels[0] - 50 / 100) < 0.05,
          f"pads: velocity 50 sounds half as loud as 100 ({levels[:2]})")
    programs = [raw for _, _, raw in probe.events(rolling_only=False) if raw[0] == 0xC9]
    check("pattern 3 queued by MIDI program change" in probe.err and programs == [b"\xc9\x02"]
          and "pattern 10" not in probe.err,
          f"program change: 2 in queues pattern 3, which goes out as 2; 9 is no pattern "
          f"({programs}, {probe.err.strip()})")
    print(f"measured: pad-to-sound latency {latency} frames at 256 frames a period "
          f"(python3 tests/engine/audio/jack_midi_check.py pads QTAM_CLI /tmp/qtam-midi)")


def record(cli, work):
    """Pad hits while rolling go into the nearest step as heard, their velocity kept, and are
    saved with the song."""
    out = os.path.join(work, "recorded.sng")
    hits = [(grid(RATE, BPM, SHUFFLE, 4) + 900, 38, 90),  # late: measure 1, step 5
            (grid(RATE, BPM, SHUFFLE, 10) - 1200, 38, 70),  # early: measure 1, step 11
            (grid(RATE, BPM, SHUFFLE, 16 + 7) + 300, 60, 30)]  # measure 2, step 8

    def setup(probe):
        probe.actions = {10: lambda c: c.transport_locate(0), 12: lambda c: c.transport_start()}
        probe.at_frames = [(f, bytes([0x99, note, v])) for f, note, v in hits]

    probe = session(cli, work, "record", ["--record-pads", out], 600, setup)
    text = subprocess.run([cli, "info", out], capture_output=True, text=True).stdout
    cells = {tuple(map(int, c.groups())) for c in re.finditer(
        r"cell (\d+):(\d+) velocity (\d+)", text)}
    notes = [line for line in probe.err.splitlines() if "recorded channel" in line]
    wanted = ["channel 2 at pattern 1 measure 1 step 5", "channel 2 at pattern 1 measure 1 step 11",
              "channel 1 at pattern 1 measure 2 step 8"]
    check(len(notes) == 3 and all(w in n for w, n in zip(wanted, notes)),
          f"record: three hits in the nearest steps ({notes})")
    check(cells == {(2, 5, 90), (2, 11, 70), (1, 8, 30)},
          f"record: saved with the song, each at its velocity ({sorted(cells)})")


def main():
    scenario, cli, work = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3]
    os.makedirs(work, exist_ok=True)
    if scenario == "clock":
        clock_out(cli, work, float(sys.argv[4]) if len(sys.argv) > 4 else 20)
    else:
        {"notes": notes_out, "pads": pads, "record": record}[scenario](cli, work)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", flush=True)
        sys.exit(1)


if __name__ == "__main__":
    main()
