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
import shutil
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
    silent), the MIDI events from Q.Tam. `sends` maps a period to (offset, bytes) to send;
    `timed` lists (frame, bytes) to send, frames counted from the first period's frame time."""

    def __init__(self, server):
        self.client = jack.Client("midiprobe", servername=server.name, no_start_server=True)
        self.audio = self.client.inports.register("in_channel1")
        self.midi_in = self.client.midi_inports.register("in_midi")
        self.midi_out = self.client.midi_outports.register("out_midi")
        self.periods, self.sends, self.actions = [], {}, {}
        self.at_frames = []  # (transport frame, bytes) sent while rolling
        self.timed, self.base = [], None
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
        if self.base is None:
            self.base = self.client.last_frame_time
        now = self.client.last_frame_time - self.base
        for at, raw in self.timed:
            if now <= at < now + frames:
                self.midi_out.write_midi_event(at - now, raw)
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


def session(cli, work, tag, extra, periods, setup, humanize=False, transport="follow",
            song_args=None, rc_wanted=0):
    server = Server(f"qtam-midi-{tag}-{os.getpid()}")
    try:
        song, bank = click_song(cli, work, **(song_args or {"tempo": BPM, "shuffle": SHUFFLE}))
        if humanize:
            song = humanized_song(cli, work, song)
        probe = MidiProbe(server)
        setup(probe)
        proc, qtam = start_qtam(cli, server, song, bank, transport, ["--note", "1=60", *extra])
        probe.connect(qtam)
        probe.run(periods, seconds=max(60, periods * 256 / RATE * 4))
        rc, out, err = stop_qtam(proc)
        check(rc == rc_wanted, f"{tag}: qtam-cli ended with {rc} ({rc_wanted} wanted) {err.strip()}")
        probe.err, probe.out = err, out
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


def clock_against_audio(cli, work, transport="off", seconds=20):
    """--clock-out beside the sound, the transport off, followed or mastered, at a tempo whose
    steps are no whole number of frames (127): the first step of each pair sounds on the frame
    of its tick, twelve ticks after the last pair's."""
    def setup(probe):
        if transport == "follow":
            probe.actions = {10: lambda c: c.transport_locate(0), 12: lambda c: c.transport_start()}

    probe = session(cli, work, "clock-" + transport, ["--clock-out"], int(seconds * RATE / 256),
                    setup, transport=transport, song_args={"tempo": 127, "shuffle": SHUFFLE})
    ticks = [t for _, t, raw in probe.events(rolling_only=False) if raw == b"\xf8"]
    index = {t: j for j, t in enumerate(ticks)}
    onsets = [f for f, _ in probe.onsets(by_time=True) if ticks and ticks[0] <= f <= ticks[-1]]
    first = next((i for i, f in enumerate(onsets) if f in index), 0)
    firsts = onsets[first::2]  # each pair's first step, unshuffled
    worst = max((min(abs(t - f) for t in ticks[max(0, index.get(f, 0) - 12):][:25])
                 for f in firsts), default=-1) if ticks else -1
    apart = {index[b] - index[a] for a, b in zip(firsts, firsts[1:]) if a in index and b in index}
    check(len(firsts) > seconds * 127 / 60 * 2 * 0.6 and worst == 0 and apart == {12},
          f"clock {transport}: {len(firsts)} pairs of steps, each on its tick (the worst "
          f"{worst} frames off), {sorted(apart)} ticks apart")
    # The ticks' own jitter: their distance from a straight line through them.
    n = len(ticks)
    mx, my = (n - 1) / 2, sum(ticks) / max(n, 1)
    slope = sum((j - mx) * (t - my) for j, t in enumerate(ticks)) / max(
        sum((j - mx) ** 2 for j in range(n)), 1)
    jitter = max((abs(t - my - slope * (j - mx)) for j, t in enumerate(ticks)), default=-1)
    print(f"measured: clock out, transport {transport}: {n} ticks over {n / 24 / 127 * 60:.1f} "
          f"s, worst tick-to-sound {worst} frames, jitter {jitter:.2f} frames around a straight "
          f"line of {RATE * 2.5 / slope if slope else 0:.4f} BPM (song 127) (python3 "
          f"tests/engine/audio/jack_midi_check.py clock-{transport} QTAM_CLI /tmp/qtam-midi "
          f"{seconds})")


def clock_in(cli, work):
    """Following a MIDI clock: Start, then ticks at 127.3 BPM, then at 140.7. Every step sounds
    on the frame of its tick from the first one on (a shuffled one 7.2 ticks into its pair, as
    the measured tempo puts it), the song's tempo becomes the clock's rounded; Stop stops; Song
    Position Pointer 12 and Continue go on from step 1 of measure 2 of a 12-step song."""
    ticks, t = [], 20000.0
    for bpm, count in ((127.3, 24 * 8), (140.7, 24 * 6)):
        for _ in range(count):
            ticks.append(nearest(t))
            t += RATE * 60 / (24 * bpm)
    stop = ticks[-1] + 400
    again = [nearest(stop + 20000 + n * RATE * 60 / (24 * 140.7)) for n in range(48)]
    sends = ([(ticks[0] - 300, b"\xfa")] + [(f, b"\xf8") for f in ticks] +
             [(stop, b"\xfc"), (stop + 9000, bytes([0xF2, 12, 0])), (again[0] - 300, b"\xfb")] +
             [(f, b"\xf8") for f in again])

    def setup(probe):
        probe.timed = sends

    probe = session(cli, work, "clockin", ["--clock-in", "--notes-out"], again[-1] // 256 + 40,
                    setup, transport="off",
                    song_args={"steps": 12, "tempo": 100, "shuffle": SHUFFLE, "name": "click12"})
    # The probe both feeds Q.Tam and listens to it: JACK breaks the loop with one period.
    base = probe.periods[0][0] + 256 if probe.periods else 0
    heard = [f - base for f, _ in probe.onsets(by_time=True)]

    def wanted(frames, first_tick):
        """Each step's frame from the ticks it falls between (the first at first_tick)."""
        out, k = [], first_tick // 6
        while (at := 12 * (k // 2) + (7.2 if k % 2 else 0) - first_tick) < len(frames) - 1:
            n = int(at)
            out.append(frames[n] + (at - n) * (frames[n + 1] - frames[n]))
            k += 1
        return out

    want = wanted(ticks, 0) + wanted(again, 72)
    off = [abs(h - w) for h, w in zip(heard, want)]
    check(len(heard) == len(want) and max(off) <= 1 and
          all(o == 0 for o, w in zip(off, want) if w == int(w)),
          f"clock in: {len(heard)} steps for {len(want)} on their ticks through the tempo change "
          f"and after Stop, Song Position Pointer and Continue (the worst {max(off, default=-1)} "
          f"frames off)")
    notes = [(t - base, raw[1]) for _, t, raw in probe.events(rolling_only=False)
             if raw[0] == 0x99]
    check(not [f for f, _ in notes if stop < f < again[0]] and
          (again[0], MEASURE2_NOTE) in notes,
          "clock in: nothing between Stop and Continue, which plays measure 2's step 1 first")
    tempos = re.findall(r"tempo (\d+) from the MIDI clock \(([\d.]+) BPM", probe.err)
    check(len(tempos) >= 2 and tempos[0][0] == "127" and abs(float(tempos[0][1]) - 127.3) < 0.1
          and tempos[-1][0] == "141" and abs(float(tempos[-1][1]) - 140.7) < 0.1,
          f"clock in: the song's tempo follows the clock's, rounded ({tempos})")
    print(f"measured: clock in: {len(heard)} steps at 127.3 and 140.7 BPM, each on its tick (the "
          f"worst {max(off, default=-1):.1f} frames off, shuffled steps between ticks included), "
          f"tempo reported {tempos} (python3 tests/engine/audio/jack_midi_check.py clock-in "
          f"QTAM_CLI /tmp/qtam-midi)")


def pads(cli, work):
    """A note-on plays its channel's sound one period after it came in, whether the transport
    rolls or not, at its velocity; a note no channel has plays nothing."""
    hits = {30: [(100, bytes([0x99, CLICK_NOTE, 100]))],
            60: [(7, bytes([0x90, CLICK_NOTE, 50]))],
            90: [(200, bytes([0x99, 99, 100]))],
            120: [(0, bytes([0x99, CLICK_NOTE, 100]))],
            130: [(0, bytes([0x99, CLICK_NOTE | 0x80, 100])), (9, bytes([0x99, CLICK_NOTE, 0xE4]))],
            140: [(10, bytes([0xC9, 2])), (20, bytes([0xC9, 9]))]}

    def setup(probe):
        probe.sends = hits

    probe = session(cli, work, "pads", ["--program-change", "both"], 160, setup)
    start = probe.periods[0][0] if probe.periods else 0
    sent = [start + 256 * p + o for p in sorted(hits) for o, raw in hits[p]
            if raw[0] & 0xF0 == 0x90 and raw[1] != 99 and max(raw[1:]) < 0x80]
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
    saved with the song; when it cannot be saved (its folder gone), they are printed as text."""
    folder = os.path.join(work, "pads")
    os.makedirs(folder, exist_ok=True)
    out = os.path.join(folder, "recorded.sng")
    hits = [(grid(RATE, BPM, SHUFFLE, 4) + 900, 38, 90),  # late: measure 1, step 5
            (grid(RATE, BPM, SHUFFLE, 10) - 1200, 38, 70),  # early: measure 1, step 11
            (grid(RATE, BPM, SHUFFLE, 16 + 7) + 300, 60, 30)]  # measure 2, step 8

    def setup(probe):
        probe.actions = {10: lambda c: c.transport_locate(0), 12: lambda c: c.transport_start(),
                         580: lambda c: shutil.rmtree(folder)}
        probe.at_frames = [(f, bytes([0x99, note, v])) for f, note, v in hits]

    probe = session(cli, work, "record", ["--record-pads", out], 600, setup, rc_wanted=1)
    check("No such file or directory; the recorded song follows as text" in probe.err,
          f"record: a song that cannot be saved is said so ({probe.err.strip()[-200:]})")
    rebuilt = os.path.join(work, "rebuilt.sng")
    subprocess.run([cli, "build", "-", "-o", rebuilt, "-f"], input=probe.out.split("Played ")[0],
                   text=True, capture_output=True)
    text = subprocess.run([cli, "info", rebuilt], capture_output=True, text=True).stdout
    cells = {tuple(map(int, c.groups())) for c in re.finditer(
        r"cell (\d+):(\d+) velocity (\d+)", text)}
    notes = [line for line in probe.err.splitlines() if "recorded channel" in line]
    wanted = ["channel 2 at pattern 1 measure 1 step 5", "channel 2 at pattern 1 measure 1 step 11",
              "channel 1 at pattern 1 measure 2 step 8"]
    check(len(notes) == 3 and all(w in n for w, n in zip(wanted, notes)),
          f"record: three hits in the nearest steps ({notes})")
    check(cells == {(2, 5, 90), (2, 11, 70), (1, 8, 30)},
          f"record: kept with the song, as text, each at its velocity ({sorted(cells)})")


def main():
    scenario, cli, work = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3]
    os.makedirs(work, exist_ok=True)
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20
    if scenario == "clock":
        clock_out(cli, work, seconds)
    elif scenario.startswith("clock-") and scenario != "clock-in":
        clock_against_audio(cli, work, scenario[6:], seconds)
    else:
        {"notes": notes_out, "pads": pads, "record": record, "clock-in": clock_in}[scenario](
            cli, work)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", flush=True)
        sys.exit(1)


if __name__ == "__main__":
    main()
