#!/usr/bin/python3
"""A mock session manager drives qtam through the NSM protocol: announce, open (a new session,
then one with a song), save (the song lands in the client's folder, the changed state is
reported), and quit by SIGTERM without a question. Then what a hostile or unlucky session
meets: a unix socket, opens that fail, messages of the wrong types, and a stranger's commands.

    nsm_check.py QTAM QTAM_CLI SONGS WORK
"""
import os
import glob
import shutil
import signal
import subprocess
import sys
import time
import wave

import liblo

qtam, cli, songs, work = sys.argv[1:5]
shutil.rmtree(work, ignore_errors=True)
runtime = os.path.join(work, "runtime")
os.makedirs(runtime)


apps = []


def fail(what):
    print("FAILED: " + what, file=sys.stderr)
    for app in apps:
        app.kill()
    sys.exit(1)


class Manager:
    def __init__(self, server):
        self.server, self.received = server, []
        server.add_method(None, None, lambda p, a, t, src: self.received.append((p, a, src)))

    def wait_for(self, path, seconds=15):
        """The first message to `path`; "/reply X" and "/error X" wait for the answer to X."""
        end = time.time() + seconds
        while time.time() < end:
            self.server.recv(100)
            for message in self.received:
                kind, _, request = path.partition(" ")
                if message[0] == kind and (not request or message[1][0] == request):
                    self.received.remove(message)
                    return message
        fail("no " + path + " within %d s; got %r" % (seconds, self.received))

    def run(self, session, *words):
        env = dict(os.environ, NSM_URL=self.server.url, QT_QPA_PLATFORM="offscreen",
                   SDL_AUDIODRIVER="dummy", QTAM_CONFIG=os.path.join(work, os.path.basename(session) + ".ini"),
                   HOME=work, XDG_RUNTIME_DIR=runtime)
        log = open(os.path.join(work, "qtam.log"), "w")
        app = subprocess.Popen([qtam, *words], env=env, stdout=subprocess.DEVNULL, stderr=log)
        apps.append(app)
        _, args, client = self.wait_for("/nsm/server/announce")
        if client.protocol == liblo.UNIX:  # liblo gives no source of unix datagrams
            client = liblo.Address("osc.unix://" + glob.glob(runtime + "/qtam-nsm-*/socket")[0])
        name, capabilities, executable, major, minor, pid = args
        if name != "Q.Tam" or ":dirty:" not in capabilities or pid != app.pid or major != 1:
            fail("announce %r" % (args,))
        self.server.send(client, "/reply", "/nsm/server/announce", "Welcome", "mock", ":server-control:")
        self.server.send(client, "/nsm/client/open", session, "Q.Tam", "nQTAM")
        self.wait_for("/reply /nsm/client/open")
        return app, client


def stop(app):
    app.send_signal(signal.SIGTERM)
    try:
        app.wait(10)
    except subprocess.TimeoutExpired:
        fail("SIGTERM did not end the program")
    if app.returncode != 0:
        fail("exit %d: %s" % (app.returncode, open(os.path.join(work, "qtam.log")).read()))


nsm = Manager(liblo.Server())
# A new session: the folder is made, nothing is changed, a save writes the song there.
session = os.path.join(work, "session-a")
app, client = nsm.run(session)
nsm.server.send(client, "/nsm/client/save")
nsm.wait_for("/reply /nsm/client/save")
song = os.path.join(session, "song.sng")
if not os.path.isfile(song) or os.path.getsize(song) != 103450:
    fail("no song saved in the session folder")
stop(app)

# A session holding a song: it is opened, reported clean, and saved back unchanged.
demo = os.path.join(work, "session-b")
os.makedirs(demo, exist_ok=True)
subprocess.run([cli, "build", os.path.join(songs, "demo.txt"), "-o",
                os.path.join(demo, "song.sng"), "-f"], check=True, stdout=subprocess.DEVNULL)
before = open(os.path.join(demo, "song.sng"), "rb").read()
app, client = nsm.run(demo)
nsm.wait_for("/nsm/client/is_clean")
nsm.server.send(client, "/nsm/client/save")
nsm.wait_for("/reply /nsm/client/save")
if open(os.path.join(demo, "song.sng"), "rb").read() != before:
    fail("the session's song changed on a save without edits")

# The client listens on the loopback address only, and a stranger's commands are not obeyed.
local = [line.split()[1] for line in open("/proc/net/udp").readlines()[1:]]
if "0100007F:%04X" % client.port not in local:
    fail("port %d is not bound to 127.0.0.1 alone: %r" % (client.port, local))
stranger = Manager(liblo.Server())
elsewhere = os.path.join(work, "elsewhere")
stranger.server.send(client, "/nsm/client/open", elsewhere, "Q.Tam", "nQTAM")
stranger.server.send(client, "/nsm/client/save")
stranger.server.recv(1000)
if stranger.received or os.path.exists(elsewhere):
    fail("a stranger was obeyed: %r" % (stranger.received,))

# Wrong argument types are answered; an open that fails (a folder, or a damaged file, in the
# song's place) says why at once, and the session before it stays: its save writes its own song.
nsm.server.send(client, "/nsm/client/open", 5)
if nsm.wait_for("/error /nsm/client/open")[1][1] != -1:
    fail("wrong types")
os.makedirs(os.path.join(work, "session-folder", "song.sng"))
os.makedirs(os.path.join(work, "session-short"))
open(os.path.join(work, "session-short", "song.sng"), "wb").write(b"x" * 10)
for name in ("folder", "short"):
    bad = os.path.join(work, "session-" + name)
    nsm.server.send(client, "/nsm/client/open", bad, "Q.Tam", "nQTAM")
    _, args, _ = nsm.wait_for("/error /nsm/client/open", 5)
    if args[1] != -9 or "song.sng" not in args[2]:
        fail("the failed open of %s: %r" % (name, args))
os.remove(os.path.join(demo, "song.sng"))
nsm.server.send(client, "/nsm/client/save")
nsm.wait_for("/reply /nsm/client/save")
if open(os.path.join(demo, "song.sng"), "rb").read() != before:
    fail("the session's song is not the one it opened")
if os.path.getsize(os.path.join(work, "session-short", "song.sng")) != 10:
    fail("the session that failed to open was written")
stop(app)

# A userbank whose file is named song.sng is not written over the session's song.
bank = os.path.join(work, "bank", "song.sng")
os.makedirs(os.path.dirname(bank))
with wave.open(os.path.join(work, "bank", "s.wav"), "wb") as sound:
    sound.setnchannels(1), sound.setsampwidth(2), sound.setframerate(44100)
    sound.writeframes(bytes(2000))
subprocess.run([cli, "bank", "new", bank, "1=" + os.path.join(work, "bank", "s.wav")], check=True,
               stdout=subprocess.DEVNULL)
os.makedirs(os.path.join(work, "session-bank"))
open(os.path.join(work, "bank.txt"), "w").write('userbank "%s"\n' % bank)
subprocess.run([cli, "build", os.path.join(work, "bank.txt"), "-o",
                os.path.join(work, "session-bank", "song.sng")], check=True, stdout=subprocess.DEVNULL)
app, client = nsm.run(os.path.join(work, "session-bank"))
nsm.server.send(client, "/nsm/client/save")
_, args, _ = nsm.wait_for("/error /nsm/client/save")
if "userbank" not in args[2] or os.path.getsize(os.path.join(work, "session-bank", "song.sng")) != 103450:
    fail("a userbank named song.sng: %r" % (args,))
stop(app)

# A manager on a unix socket.
unix = Manager(liblo.Server(os.path.join(work, "nsm.socket"), liblo.UNIX))
app, client = unix.run(os.path.join(work, "session-unix"))
unix.server.send(client, "/nsm/client/save")
unix.wait_for("/reply /nsm/client/save")
if not os.path.isfile(os.path.join(work, "session-unix", "song.sng")):
    fail("no song saved through the unix socket")
stop(app)
if os.listdir(runtime):
    fail("the client's socket was left: %r" % os.listdir(runtime))
print("nsm: ok")
