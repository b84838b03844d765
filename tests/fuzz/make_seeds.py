#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: a folder per target (song, userbank, wav,
song_text, config, sfz, drumkit) of small, valid and nearly valid inputs, built here byte by byte so that no binary
file lives in the repository.

usage: make_seeds.py OUTPUT_FOLDER SONGS_FOLDER
"""
import os
import shutil
import struct
import subprocess
import sys

SONG_SIZE = 103450
PATTERN_SIZE = 12864
MEASURE_SIZE = 804


def short_string(text, capacity):
    data = text.encode("latin-1")[:capacity]
    return bytes([len(data)]) + data + bytes(capacity - len(data))


def song(notes=(), tempo=145, shuffle=100, steps=16, humanize=0, measures=1,
         instruments=(1, 2, 3, 4, 5, 6, 7, 8), distortion=0, userbank=""):
    """A song record: every cell empty (velocity 255, pan 64) but the given notes
    (pattern, measure, channel, slot, velocity, pan, reversed)."""
    record = bytearray(SONG_SIZE)
    record[0:31] = short_string("Q.Tam format 1.0 Pattern-file\x1a", 30)
    for p in range(8):
        for m in range(16):
            base = 32 + p * PATTERN_SIZE + m * MEASURE_SIZE
            for cell in range(128):
                record[base + cell * 6] = 255
                record[base + cell * 6 + 1] = 64
            record[base + 768:base + 776] = bytes(instruments)
            record[base + 776:base + 784] = bytes([distortion] * 8)
            record[base + 784:base + 792] = bytes([100] * 8)
            struct.pack_into("<HH", record, base + 800, 10 if not distortion else 200, 3000)
    for (p, m, ch, slot, velocity, pan, reversed_) in notes:
        at = 32 + (p - 1) * PATTERN_SIZE + (m - 1) * MEASURE_SIZE + (ch - 1) * 96 + (slot - 1) * 6
        record[at:at + 3] = bytes([velocity, pan, reversed_])
    record[102944:102952] = bytes([measures] * 8)
    struct.pack_into("<HBBB", record, 102952, tempo, shuffle, humanize, steps)
    record[102957:103213] = short_string(userbank, 255)
    record[103213:103244] = short_string("Custom userbank", 30)
    record[103295:103346] = short_string("Seed", 50)
    return bytes(record)


def arrangement(entries, loop=0, version=1, count=None, length=None):
    """The arrangement block after the record: entries are (pattern, repeats, mutes)."""
    body = struct.pack("<HHH", version, len(entries) if count is None else count, loop)
    body += b"".join(bytes([p, r, mutes, 0]) for (p, r, mutes) in entries)
    return b"QTAR" + struct.pack("<I", len(body) if length is None else length) + body


def bank(slots, description="Seed bank"):
    """A userbank file; slots are (count, samples, stretch, name, hihat1, hihat2)."""
    out = bytearray(b"CUSTOM_BANK:")
    out += description.encode("latin-1")[:30].ljust(30, b" ") + b"Q"
    for i in range(20):
        count, samples, stretch, name, hh1, hh2 = slots[i] if i < len(slots) else (0, [], 0, "<empty>", 0, 0)
        out += struct.pack("<i", count)
        out += b"".join(struct.pack("<h", s) for s in samples)
        out += bytes([stretch]) + name.encode("latin-1")[:20].ljust(20, b" ") + b"HH" + bytes([hh1, hh2])
    return bytes(out)


def ramp(n, step=311):
    return [((i * step) % 65536) - 32768 for i in range(n)]


def chunk(tag, content):
    return tag + struct.pack("<I", len(content)) + content + (b"\0" if len(content) % 2 else b"")


def wav(samples=ramp(200), channels=1, rate=44100, bits=16, tag=1, extra=b"", between=b"",
        data_tag=b"data", declared=None, payload=None):
    if payload is None:
        payload = b"".join(struct.pack("<h", s) for s in samples)
    fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * channels * bits // 8,
                      channels * bits // 8, bits) + extra
    body = b"WAVE" + chunk(b"fmt ", fmt) + between
    body += data_tag + struct.pack("<I", len(payload) if declared is None else declared) + payload
    return b"RIFF" + struct.pack("<I", len(body)) + body


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    out, songs = sys.argv[1], sys.argv[2]
    shutil.rmtree(out, ignore_errors=True)

    d = os.path.join(out, "song")
    write(d, "new", song())
    busy = [(1, m, ch, s, 20 + (ch * 13 + s * 7) % 108, (s * 17) % 128, int(ch == 4))
            for m in (1, 2) for ch in range(1, 9) for s in range(1, 17) if (ch + s) % 3]
    write(d, "busy", song(busy, tempo=250, shuffle=150, measures=2, humanize=1,
                          instruments=(1, 5, 101, 120, 20, 7, 108, 3), distortion=1) + b"\x00")
    write(d, "twelve", song([(2, 1, 1, 1, 127, 255, 0), (2, 1, 2, 12, 90, 0, 1)], tempo=50,
                            steps=12, measures=16, instruments=(0, 99, 100, 121, 255, 1, 2, 3))
          + b"\x01")
    write(d, "short", song()[:-1])
    # Arrangements: played through, looping, and blocks that are damaged or unknown.
    two = song([(1, 1, 1, 1, 100, 64, 0), (2, 1, 2, 5, 90, 64, 0)], tempo=250, measures=2)
    entries = [(1, 2, 0), (2, 1, 0x0C), (1, 1, 0)]
    write(d, "arrangement", two + arrangement(entries))
    write(d, "arrangement-loop", two + arrangement(entries, loop=2))
    write(d, "arrangement-cut", two + arrangement(entries)[:-3])
    write(d, "arrangement-version", two + arrangement(entries, version=9))
    write(d, "arrangement-count", two + arrangement(entries, count=300))
    write(d, "arrangement-length", two + arrangement(entries, length=0xFFFFFFF0))
    write(d, "arrangement-loop-past", two + arrangement(entries, loop=4))
    write(d, "arrangement-pattern", two + arrangement([(9, 1, 0), (0, 0, 0)]))

    d = os.path.join(out, "userbank")
    write(d, "empty", bank([]))
    write(d, "sounds", bank([(300, ramp(300), 0, "Kick", 2, 0), (41, ramp(41, 7), 2, "Hat", 1, 3),
                             (0, [], 0, "<empty>", 0, 0), (-5, [], 1, "neg", 20, 21),
                             (2, [32767, -32768], 16, "tiny", 0, 4)]))
    write(d, "truncated", bank([(300, ramp(300), 0, "Kick", 2, 0)])[:400])

    d = os.path.join(out, "wav")
    write(d, "canonical", wav())
    info = chunk(b"LIST", b"INFO" + chunk(b"ICMT", b"Recorded data for test"))
    write(d, "list-with-data-text", wav(between=info + chunk(b"bext", b"METADATA odd")))
    write(d, "pad-4044", wav(between=chunk(b"PAD ", bytes(4044))))
    guid = bytes([1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
    write(d, "extensible", wav(tag=0xFFFE, extra=struct.pack("<HHI", 22, 16, 4) + guid))
    write(d, "eight-bit", wav(bits=8))
    write(d, "stereo", wav(channels=2))
    write(d, "low-rate", wav(rate=22050))
    write(d, "claims-too-much", wav(declared=0x7FFFFFF0))
    write(d, "empty-data", wav(samples=[]))
    write(d, "lower-case", wav(data_tag=b"DaTa").replace(b"RIFF", b"riff", 1))
    write(d, "cut", wav()[:40])
    # Kinds that are converted: float, 24-bit stereo at 48 kHz, and FLAC and AIFF made by sox.
    floats = b"".join(struct.pack("<f", s / 40000.0) for s in ramp(200))
    write(d, "float", wav(tag=3, bits=32, payload=floats + struct.pack("<f", float("nan"))))
    write(d, "stereo-24-48k", wav(channels=2, bits=24, rate=48000))
    for kind in ("flac", "aiff"):
        made = os.path.join(d, "made." + kind)
        subprocess.run(["sox", "-n", "-r", "22050", "-c", "2", "-b", "24", made,
                        "synth", "0.01", "sine", "300"], check=True)

    d = os.path.join(out, "song_text")
    os.makedirs(d)
    for name in sorted(os.listdir(songs)):
        if name.endswith(".txt"):
            shutil.copy(os.path.join(songs, name), os.path.join(d, name))
    write(d, "small", b'title "x"\ntempo 90\nsteps 12\npattern 2\n  measures 2\n'
                      b'  channel 3 sound 101 volume 50 pan 0\n  measure 2\n    3 x.X. o<9. 0123\n')
    write(d, "bad", b"pattern 9\nmeasure 1\n1 x..q\n")

    d = os.path.join(out, "config")
    write(d, "full", b"[General]\r\nProduct=Q.Tam\r\nTimes_Used=41\r\n[Paths]\r\n"
                     b"Songfolder=/home/me/songs\r\nBankfolder=\r\nSamplefolder= \"/s p\" \r\n"
                     b"Userbank=/home/me/kit.ubf\r\n[WaveDevice]\r\nDeviceNum=2\r\n"
                     b"DeviceSetup=1\r\nNumDevices=3\r\nBuffer_size=0x4\r\n[Window]\r\n"
                     b"PosX=-20\r\nPosY=0X10\r\nWidth=800\r\nHeight=600\r\nState=1\r\n")
    write(d, "foreign", b"; comment\n[Other]\nkey=value\n[general]\ntimes_used=zz\n"
                        b"[WaveDevice]\nBuffer_size=99\nBuffer_size=3\n[Window\nWidth\n=5\n")
    write(d, "long", b"[Paths]\nSongfolder=" + b"x" * 3000 + b"\n")
    # Found by fuzzing: a line ended by several carriage returns lost one at every writing.
    write(d, "carriage-returns", b"[General]\r\nTimes_Used=3\r\r\n[Other]\r\nkey=value\r\r\r\n")

    # Kits: the SFZ reader and drumkit.xml. The large ones hold a linear reader to its promise:
    # a quadratic one would not replay them within the test's time.
    d = os.path.join(out, "sfz")
    write(d, "small", b"// kit\n<control> default_path=s/\n<global> hivel=100\n<group> group=1\n"
                      b"<region> sample=hat closed.wav key=42 region_label=Hat\n"
                      b"<region> sample=open.wav key=a#2 off_by=1\n<master>\n"
                      b"<region> sample=kick.wav lokey=36 hivel=127\n<region> sample=soft.wav key=c2\n")
    write(d, "misleading", b"\xef\xbb\xbf#include \"x.sfz\"\n<region> sample=a.wav key=c2147483646\n"
                           b"/* <region> sample=b.wav key=1\n */ <region> sample= key=3 /* x */\n"
                           b"<region> sample=../../etc/passwd key=4 <region> sample=/abs key=5\n"
                           b"<region> key=-1 sample=a.wav hivel=99999999999 group=-5 off_by=x\n<unclosed\n")
    write(d, "utf16", "<region> sample=a.wav key=36\n".encode("utf-16"))
    write(d, "long-word", b"<region> sample=" + b"w" * 400000 + b" key=36\n" + b"x" * 400000 + b"\n")
    write(d, "one-choke-group", b"".join(b"<region> sample=s%d.wav key=%d group=1 off_by=1\n" % (i, i % 128)
                                         for i in range(20000)))

    d = os.path.join(out, "drumkit")
    layer = "<layer><filename>{}</filename><min>0</min><max>{}</max></layer>"
    write(d, "small", ("<drumkit_info><name>Seed</name><instrumentList>"
                       "<instrument><name>Kick</name><filename>kick.wav</filename></instrument>"
                       "<instrument><name>Hat</name><muteGroup>1</muteGroup><instrumentComponent/>"
                       "<instrumentComponent>" + layer.format("soft.wav", 0.5) + layer.format("loud.wav", 1) +
                       "</instrumentComponent></instrument>"
                       "<instrument><name>Open</name><muteGroup>1</muteGroup>" + layer.format("o.wav", 1) +
                       "</instrument><instrument><name>Gone</name><filename>../x.wav</filename></instrument>"
                       "<instrument><filename>/etc/shadow</filename></instrument><instrument/>"
                       "</instrumentList></drumkit_info>").encode())
    write(d, "broken", b"<drumkit_info><name>x</name><instrumentList><instrument><name>a")
    write(d, "one-mute-group", ("<drumkit_info><instrumentList>" + "".join(
        "<instrument><name>i%d</name><muteGroup>2</muteGroup><filename>s%d.wav</filename></instrument>" % (i, i)
        for i in range(20000)) + "</instrumentList></drumkit_info>").encode())


if __name__ == "__main__":
    main()
