"""Reads a MIDI file written by qtam-cli midi with mido and checks it against groove.txt."""
import sys

import mido

midi = mido.MidiFile(sys.argv[1])
assert midi.type == 1, midi.type
assert midi.ticks_per_beat == 96, midi.ticks_per_beat
# The tempo track and channels 1, 3, 4 and 5 (channel 2 is muted, 6 to 8 hold no notes).
assert len(midi.tracks) == 5, len(midi.tracks)

tempos = [m.tempo for m in midi.tracks[0] if m.type == "set_tempo"]
assert tempos == [500000], tempos  # 120 BPM


def notes(track):
    """(tick, note, velocity) of every note-on, and the note-offs' ticks."""
    now, ons, offs = 0, [], []
    for m in track:
        now += m.time
        if m.type == "note_on" and m.velocity > 0:
            assert m.channel == 9, m.channel  # MIDI channel 10
            ons.append((now, m.note, m.velocity))
        elif m.type == "note_off" or (m.type == "note_on" and m.velocity == 0):
            offs.append(now)
    assert len(ons) == len(offs), (ons, offs)
    return ons


names = [next(m.name for m in t if m.type == "track_name") for t in midi.tracks[1:]]
assert names[0] == "Channel 1: Kick Punch", names
assert names[1] == "Channel 3: openhat.wav", names

# Shuffle 50 at 120 BPM: odd steps 6891 frames, even steps 4134, so even steps start 6 ticks
# after their straight place (24 ticks a step), as the mixer plays them.
kick = notes(midi.tracks[1])
ticks = [t for t, _, _ in kick]
straight = [24 * i for i in range(16)]
want = [t + (6 if i % 2 else 0) for i, t in enumerate(straight)]
want[3] = None  # step 4 of measure 1 is empty
want = [t for t in want if t is not None] + [384]  # measure 2 starts at 88200 frames = 384 ticks
assert ticks == want, ticks
assert {n for _, n, _ in kick} == {36}, kick  # Kick Punch: Bass Drum 1
assert [v for _, _, v in kick[:3]] == [127, 99, 100], kick  # X, 7 (99) and x

hat = notes(midi.tracks[2])
assert {n for _, n, _ in hat} == {46}, hat  # "openhat.wav": Open Hi-Hat
assert [t for t, _, _ in hat] == [48, 144, 240, 336], hat
snare = notes(midi.tracks[3])
assert {n for _, n, _ in snare} == {38}, snare  # "snare.raw": Acoustic Snare
# Channel 5 plays "zap.raw", a name that says no drum: the note of channel 5 (Hand Clap). Its
# silent note of velocity 0 is left out.
fifth = notes(midi.tracks[4])
assert fifth == [(96, 39, 100)], fifth
end = sum(m.time for m in midi.tracks[1])
assert end >= 768, end  # two measures of 384 ticks
print("midi file checks passed")
