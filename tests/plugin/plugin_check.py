#!/usr/bin/python3
"""The plugin in hosts: lilv's tools, jalv against a private JACK server, a small CLAP host.

    plugin_check.py SCENARIO QTAM_CLI LV2_DIR CLAP_FILE CLAP_HOST WORKDIR

The main pair the plugin plays is compared with `qtam-cli render` step by step: every step
of the first four measures must start within one frame of the render's and sound the same
(the same waveform at the same level, see compare_notes).
"""

import array
import base64
import math
import os
import re
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "engine",
                                "audio"))
import jack_check  # noqa: E402
from jack_check import check, grid, Server, Probe  # noqa: E402

URI = "https://qtam.example.org/plugins/qtam"
RATE, BPM, SHUFFLE, STEPS = 44100, 122, 12, 16  # the demo song's tempo, shuffle and steps


def read_left(path):
    with wave.open(path, "rb") as w:
        words = array.array("h", w.readframes(w.getnframes()))
    return [words[i] for i in range(0, len(words), 2)]


def render(cli, work, song, name, *args):
    """The render's left sides by channel (1..8, those that sound), from its stems."""
    folder = os.path.join(work, name)
    subprocess.run([cli, "render", song, "--stems", folder, "-f", *args], check=True,
                   stdout=subprocess.DEVNULL)
    return {int(f[:2]): read_left(os.path.join(folder, f)) for f in os.listdir(folder)
            if f[:2].isdigit()}


def notes(cli, song, pattern=1):
    """(step, channel) of every note of a pattern, steps counted from its measure 1."""
    text = subprocess.run([cli, "info", song], check=True, capture_output=True,
                          text=True).stdout
    found, measure, inside = [], 0, False
    for line in text.splitlines():
        words = line.split()
        if words[:1] == ["pattern"]:
            inside = words[1] == str(pattern)
        elif inside and words[:1] == ["measure"]:
            measure = int(words[1])
        elif inside and measure and len(words) == 5 and words[0].isdigit():
            cells = "".join(words[1:])
            found += [((measure - 1) * STEPS + i, int(words[0])) for i, c in enumerate(cells)
                      if c != "."]
    return found


def render_starts(first, count):
    """Where the render begins steps first..first+count-1 (from 0 at `first`, the first step of
    a measure). It renders a measure at a time, each the measure's length rounded to whole
    frames; within one its play clock rounds each step's length to whole frames, and every step
    but the measure's first lasts one frame less than that (the clock counts a step from 1). A
    transport's grid rounds nothing, so within a measure the two part: at the demo's 122 BPM by
    about a frame a step, up to fifteen frames before the next measure joins them again."""
    x = RATE * 60.0 / (4.0 * BPM)
    share = 100 + SHUFFLE / 2
    length = [round(x * (share if k % 2 == 0 else 200 - share) / 100) for k in range(2)]
    measure = round(x * STEPS)
    starts = {}
    for k in range(first, first + count + 1):
        step = k % STEPS
        within = 0 if step == 0 else length[0] + sum(length[i % 2] - 1 for i in range(1, step))
        starts[k] = (k - first) // STEPS * measure + within
    return starts


def likeness(got, want):
    """How alike two runs of samples are: their correlation, and the ratio of their levels."""
    energy_got, energy_want = sum(g * g for g in got), sum(w * w for w in want)
    if energy_want < len(want) or energy_got < len(got):  # both all but silent
        return (1.0, 1.0) if max(energy_got, energy_want) < 4 * len(want) else (0.0, 0.0)
    dot = sum(g * w for g, w in zip(got, want))
    return dot / math.sqrt(energy_got * energy_want), math.sqrt(energy_got / energy_want)


def compare_notes(played, rendered, song_notes, first_step, steps, tag=""):
    """Every note of steps [first_step, first_step + steps) on its channel's port, against the
    render's stem of that channel (rendered from `first_step`). A channel plays one voice, so
    from a note to the channel's next it is that note's sound alone. The note must begin within
    a frame of its step on the transport's grid, and sound as the render's note (where the
    render's clock began that step): the same waveform (correlation 0.99 or more) at the same
    level within 5 % (the render's disk mixer rounds a little otherwise than the live mixer),
    its best alignment within eight frames."""
    starts = render_starts(first_step, steps)
    mine = sorted((k, c) for k, c in song_notes if first_step <= k < first_step + steps)
    bad = []
    for k, c in mine:
        later = [j for j, d in song_notes if d == c and j > k] + [first_step + steps]
        length = min(starts[min(later)] - starts[k], 1500)
        begin = starts[k]
        want = rendered[c][begin:begin + length]
        at = grid(RATE, BPM, SHUFFLE, k)
        tried = []
        for shift in range(-8, 9):
            got = [played[c].get(at + shift + n, 0.0) * 32768 for n in range(length)]
            tried.append((likeness(got, want), -abs(shift), shift))  # ties: the nearest
        (corr, level), _, shift = max(tried)
        if abs(shift) > 1 or corr < 0.99 or abs(level - 1) > 0.05:
            bad.append((k, c, shift, round(corr, 4), round(level, 3)))
    check(bool(mine) and not bad,
          f"{tag}: {len(mine)} notes of {steps} steps from step {first_step + 1} start within "
          f"a frame of their steps and sound as the render's ({bad[:3]})")


PORTS = ["main_l"] + [f"channel{c}_l" for c in range(1, 9)]


def by_channel(probe):
    """Channel (0 for main) -> transport frame -> sample, while rolling."""
    return {c: {f: x for f, x in probe.rolling(port)} for c, port in enumerate(PORTS)}


def check_main(played, tag):
    """The main pair is the sum of the channel pairs (the main volume at unity)."""
    worst = max((abs(x - sum(played[c].get(f, 0.0) for c in range(1, 9)))
                 for f, x in played[0].items()), default=1)
    check(len(played[0]) > 1000 and worst * 32768 <= 2,
          f"{tag}: the main pair carries the channels ({worst * 32768:.1f} LSB)")


def start_jalv(server, lv2_dir, state_dir=None):
    env = dict(server.env, LV2_PATH=lv2_dir)
    cmd = ["jalv", "-n", "qtamlv2", "-x"] + (["-l", state_dir] if state_dir else []) + [URI]
    return subprocess.Popen(cmd, env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)


def roll_jalv(lv2_dir, periods, actions, state_dir=None):
    server = Server(f"qtam-lv2-{os.getpid()}", rate=RATE)
    try:
        probe = Probe(server, PORTS, keep_silence=False)
        jalv = start_jalv(server, lv2_dir, state_dir)
        # jalv registers its ports one by one, and activates after the last.
        for _ in range(200):
            if probe.client.get_ports("qtamlv2:events_out"):
                break
            time.sleep(0.05)
        time.sleep(0.5)
        probe.connect("qtamlv2")
        probe.actions = actions
        probe.arm()
        probe.wait(periods, timeout=periods * 256 / RATE * 4 + 30)
        jalv.terminate()
        try:
            jalv.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            jalv.kill()
        probe.close()
        return probe
    finally:
        server.stop()


def measures(n):
    return grid(RATE, BPM, SHUFFLE, n * STEPS)


def periods_for(frames):
    return frames // 256 + 40


# ---- The scenarios ----

def lv2info(cli, lv2_dir, clap, host, work):
    r = subprocess.run(["lv2info", URI], env=dict(os.environ, LV2_PATH=lv2_dir),
                       capture_output=True, text=True, timeout=60)
    out = r.stdout
    check(r.returncode == 0 and "Q.Tam" in out, "lv2info: reads the bundle")
    required = re.search(r"Required Features:(.*?)\n\s*Optional", out, re.S)
    check(required and required.group(1).split() == ["http://lv2plug.in/ns/ext/urid#map"],
          "lv2info: URID map is the one feature required")
    check(out.count("#AudioPort") == 18 and out.count("#AtomPort") == 2,
          "lv2info: the main pair, eight channel pairs, MIDI in and out")
    check(out.count("connectionOptional") == 2, "lv2info: the MIDI ports may stay unconnected")
    for symbol in ("main_volume", "play", "song_mode", "pattern", "volume8", "mute8"):
        check(f"Symbol:      {symbol}\n" in out, f"lv2info: the parameter {symbol}")
    check("state#interface" in out, "lv2info: it keeps a state")
    check("ui#X11UI" in out and "external-ui#Widget" in out and out.count("qtam_ui.so") == 2,
          "lv2info: the window as an X11 UI and an external UI")
    r = subprocess.run(["lv2bench", "-b", "64", "-n", "48000", URI],
                       env=dict(os.environ, LV2_PATH=lv2_dir), capture_output=True, text=True,
                       timeout=120)
    check(r.returncode == 0 and URI in r.stdout and "skipping" not in r.stderr,
          f"lv2bench: runs it ({r.stdout.strip()} {r.stderr.strip()})")


def lv2_state(work, name, song):
    """A host's state folder of the plugin holding `song`, as lilv writes one."""
    folder = os.path.join(work, name)
    os.makedirs(folder, exist_ok=True)
    data = base64.b64encode(open(song, "rb").read()).decode()
    with open(os.path.join(folder, "state.ttl"), "w") as f:
        f.write(f"""@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix state: <http://lv2plug.in/ns/ext/state#> .
@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .
<> a pset:Preset ; lv2:appliesTo <{URI}> ;
    state:state [ <{URI}#song> "{data}"^^xsd:base64Binary ] .
""")
    with open(os.path.join(folder, "manifest.ttl"), "w") as f:
        f.write(f"""@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .
<state.ttl> a pset:Preset ; lv2:appliesTo <{URI}> ; rdfs:seeAlso <state.ttl> .
""")
    return folder


def jalv_render(cli, lv2_dir, clap, host, work):
    """A new instance holds the demo song: it plays pattern 1 as the render does."""
    demo = os.path.join(os.path.dirname(cli), "demo.sng")
    rendered = render(cli, work, demo, "pattern1", "--pattern", "1")
    probe = roll_jalv(lv2_dir, periods_for(measures(4)) + 10,
                      jack_check.locate_and_start(10))
    check(probe.first_rolling_frame() == 0, "jalv: the transport rolled from frame 0")
    played = by_channel(probe)
    compare_notes(played, rendered, notes(cli, demo), 0, 4 * STEPS, tag="jalv")
    check_main(played, "jalv")


def jalv_relocate(cli, lv2_dir, clap, host, work):
    demo = os.path.join(os.path.dirname(cli), "demo.sng")
    measure3 = render(cli, work, demo, "measure3", "--pattern", "1", "--measure", "3")
    target = measures(2)  # the first step of measure 3
    actions = jack_check.locate_and_start(10)
    actions[120] = lambda c: c.transport_locate(target)
    probe = roll_jalv(lv2_dir, 120 + periods_for(measures(1)), actions)
    # Only what came after the jump: transport frames from the target on.
    played = {c: {f: x for f, x in port.items() if f >= target}
              for c, port in by_channel(probe).items()}
    compare_notes(played, measure3, notes(cli, demo), 2 * STEPS, STEPS,
                  tag="jalv relocated")


def jalv_state(cli, lv2_dir, clap, host, work):
    """A state saved by the CLAP side, as a host's state folder: jalv restores the song."""
    song = os.path.join(work, "state.sng")
    subprocess.run([cli, "build", "-", "-o", song, "-f"], check=True, stdout=subprocess.DEVNULL,
                   input=b"tempo 122\nshuffle 12\npattern 1\n  measures 1\n"
                         b"  channel 1 sound 2 volume 127\n  channel 2 sound 4 volume 100\n"
                         b"  measure 1\n    1 X... x... X... x...\n    2 ..X. ..X. ..X. ..X.\n")
    # Through the CLAP state: saved, restored into a new instance, saved again.
    first, second = os.path.join(work, "first.state"), os.path.join(work, "second.state")
    for args in (["--song", song, "--save-state", first], ["--load-state", first,
                                                           "--save-state", second]):
        subprocess.run([host, clap, os.path.join(work, "x.f32"), "--frames", "4096", *args],
                       check=True, stdout=subprocess.DEVNULL)
    a, b = open(first, "rb").read(), open(second, "rb").read()
    song_bytes = open(song, "rb").read()
    check(a == b and song_bytes in a, "state: saved, restored and saved again, the same song")
    # Through the LV2 state as a host saves and loads it: the song saved is the song.
    saved = os.path.join(work, "lv2saved.sng")
    r = subprocess.run([os.path.join(os.path.dirname(host), "qtam_lv2_state_host"),
                        os.path.join(lv2_dir, "qtam.lv2", "qtam.so"), song, saved],
                       capture_output=True, text=True, timeout=60)
    check(r.returncode == 0 and open(saved, "rb").read() == song_bytes,
          f"state: LV2 saved, restored and saved again, the same song {r.stderr.strip()}")
    # What the LV2 state saved, as a host's state folder: jalv restores it and plays the song.
    folder = lv2_state(work, "lv2state", saved)
    rendered = render(cli, work, song, "state")
    probe = roll_jalv(lv2_dir, periods_for(measures(1)) + 10, jack_check.locate_and_start(10),
                      state_dir=folder)
    compare_notes(by_channel(probe), rendered, notes(cli, song), 0, STEPS, tag="jalv restored")


def run_host(host, clap, work, name, *args):
    """What the CLAP host played: channel (0 for main) -> frame -> left sample; its output."""
    out = os.path.join(work, name + ".f32")
    r = subprocess.run([host, clap, out, *args], capture_output=True, text=True, timeout=120)
    check(r.returncode == 0, f"clap: {name} ran ({r.stderr.strip()})")
    samples = array.array("f", open(out, "rb").read() if r.returncode == 0 else b"")
    frames = len(samples) // 18
    return {c: {f: samples[18 * f + 2 * c] for f in range(frames)} for c in range(9)}, r.stdout


def clap(cli, lv2_dir, clap_file, host, work):
    demo = os.path.join(os.path.dirname(cli), "demo.sng")
    rendered = render(cli, work, demo, "pattern1", "--pattern", "1")
    song_notes = notes(cli, demo)
    frames = str(measures(4) + 4096)
    # A new instance holds the demo song.
    played, out = run_host(host, clap_file, work, "transport", "--frames", frames, "--bpm",
                           str(BPM))
    compare_notes(played, rendered, song_notes, 0, 4 * STEPS, tag="clap")
    check_main(played, "clap")
    check(int(out.split()[2]) > 100, f"clap: the notes played go out as MIDI ({out.strip()})")
    # Its window opened and destroyed before the first block leaves the sound as it was.
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    # The Qt application a plugin's window makes stays for the host process's life (Qt cannot
    # start twice in one process), and with it fontconfig's cache: not a leak of ours.
    os.environ["LSAN_OPTIONS"] = "suppressions=" + os.path.join(work, "lsan.supp")
    with open(os.path.join(work, "lsan.supp"), "w") as supp:
        supp.write("leak:libfontconfig\n")
    windowed, _ = run_host(host, clap_file, work, "window", "--frames", frames, "--bpm", str(BPM),
                           "--window")
    compare_notes(windowed, rendered, song_notes, 0, 4 * STEPS, tag="clap-window")
    # Without a transport, Play plays from the plugin's own clock: the same song.
    played, _ = run_host(host, clap_file, work, "own", "--song", demo, "--frames", frames,
                         "--no-transport")
    compare_notes(played, rendered, song_notes, 0, 4 * STEPS, tag="clap own clock")
    # A relocation to measure 3 lands on its first step.
    measure3 = render(cli, work, demo, "measure3", "--pattern", "1", "--measure", "3")
    target, at = measures(2), 40000 // 256 * 256
    played, _ = run_host(host, clap_file, work, "relocate", "--song", demo, "--frames",
                         str(at + measures(1)), "--bpm", str(BPM), "--relocate",
                         f"{target}@{at}")
    moved = {c: {target + f - at: x for f, x in port.items() if f >= at}
             for c, port in played.items()}
    compare_notes(moved, measure3, song_notes, 2 * STEPS, STEPS,
                  tag="clap relocated")
    # The parameters a state brings: pattern 2 plays, channel 1 muted (ids as params.h numbers
    # them: Pattern 3, the mutes from 13).
    pattern2 = render(cli, work, demo, "pattern2", "--pattern", "2")
    played, _ = run_host(host, clap_file, work, "params", "--song", demo, "--frames",
                         str(measures(1) + 4096), "--bpm", str(BPM), "--param", "3=2",
                         "--param", "13=1")
    loud = max(abs(x) for x in played[1].values())
    check(loud == 0, f"clap: Mute channel 1 silences it (peak {loud})")
    del played[1], pattern2[1]
    compare_notes(played, pattern2, [n for n in notes(cli, demo, 2) if n[1] != 1], 0, STEPS,
                  tag="clap pattern 2")


SCENARIOS = {"lv2info": lv2info, "jalv-render": jalv_render, "jalv-relocate": jalv_relocate,
             "jalv-state": jalv_state, "clap": clap}


def main():
    scenario, cli, lv2_dir, clap_file, host, work = sys.argv[1:7]
    os.makedirs(work, exist_ok=True)
    SCENARIOS[scenario](os.path.abspath(cli), lv2_dir, clap_file, host, work)
    if jack_check.FAILURES:
        print(f"{len(jack_check.FAILURES)} check(s) failed", flush=True)
        sys.exit(1)


if __name__ == "__main__":
    main()
