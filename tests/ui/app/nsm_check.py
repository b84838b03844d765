#!/usr/bin/python3
"""A mock session manager drives qtam through the NSM protocol: announce, open (a new session,
then one with a song), save (the song lands in the client's folder, the changed state is
reported), and quit by SIGTERM without a question.

    nsm_check.py QTAM QTAM_CLI SONGS WORK
"""
import os
import signal
import subprocess
import sys
import time

import liblo

qtam, cli, songs, work = sys.argv[1:5]
os.makedirs(work, exist_ok=True)
received = []
server = liblo.Server()
server.add_method(None, None, lambda path, args, types, src: received.append((path, args, src)))


def fail(what):
    print("FAILED: " + what, file=sys.stderr)
    sys.exit(1)


def wait_for(path, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        server.recv(100)
        for message in received:
            if message[0] == path or (path.startswith("/reply ") and message[0] == "/reply"
                                      and message[1][0] == path[7:]):
                received.remove(message)
                return message
    fail("no " + path + " within %d s; got %r" % (seconds, received))


def run(session):
    env = dict(os.environ, NSM_URL=server.url, QT_QPA_PLATFORM="offscreen",
               SDL_AUDIODRIVER="dummy", QTAM_CONFIG=os.path.join(work, "QTam.ini"),
               HOME=work)
    log = open(os.path.join(work, "qtam.log"), "w")
    app = subprocess.Popen([qtam], env=env, stdout=subprocess.DEVNULL, stderr=log)
    _, args, client = wait_for("/nsm/server/announce")
    name, capabilities, executable, major, minor, pid = args
    if name != "Q.Tam" or ":dirty:" not in capabilities or pid != app.pid or major != 1:
        fail("announce %r" % (args,))
    liblo.send(client, "/reply", "/nsm/server/announce", "Welcome", "mock", ":server-control:")
    liblo.send(client, "/nsm/client/open", session, "Q.Tam", "nQTAM")
    _, args, _ = wait_for("/reply /nsm/client/open")
    return app, client


# A new session: the folder is made, nothing is changed, a save writes the song there.
session = os.path.join(work, "session-a")
app, client = run(session)
liblo.send(client, "/nsm/client/save")
wait_for("/reply /nsm/client/save")
song = os.path.join(session, "song.sng")
if not os.path.isfile(song) or os.path.getsize(song) != 103450:
    fail("no song saved in the session folder")
app.send_signal(signal.SIGTERM)
try:
    app.wait(10)
except subprocess.TimeoutExpired:
    fail("SIGTERM did not end the program")
if app.returncode != 0:
    fail("exit %d: %s" % (app.returncode, open(os.path.join(work, "qtam.log")).read()))

# A session holding a song: it is opened, reported clean, and saved back unchanged.
demo = os.path.join(work, "session-b")
os.makedirs(demo, exist_ok=True)
subprocess.run([cli, "build", os.path.join(songs, "demo.txt"), "-o",
                os.path.join(demo, "song.sng"), "-f"], check=True, stdout=subprocess.DEVNULL)
before = open(os.path.join(demo, "song.sng"), "rb").read()
app, client = run(demo)
wait_for("/nsm/client/is_clean")
liblo.send(client, "/nsm/client/save")
wait_for("/reply /nsm/client/save")
if open(os.path.join(demo, "song.sng"), "rb").read() != before:
    fail("the session's song changed on a save without edits")
app.send_signal(signal.SIGTERM)
app.wait(10)
print("nsm: ok")
