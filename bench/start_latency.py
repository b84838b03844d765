#!/usr/bin/env python3
"""Time from a click on Start to the first sound at the sound server, for several starts.

Reads the null sink's monitor through parec as it arrives, so every frame has a wall-clock
time; clicks Start with xdotool, finds the first non-silent frame after the click, clicks
Stop, and repeats. Run by bench/start_latency.sh, which provides the X and sound servers.

    start_latency.py WINDOW_ID STARTS [OTHER_WINDOW_ID]

With OTHER_WINDOW_ID, that window gets the input focus before each start, so the panel starts
from inactive, as after the user worked in another window.
"""
import subprocess
import sys
import threading
import time

RATE = 44100
FRAME = 4  # bytes per stereo 16-bit frame
START = (393, 310)  # the Start button in the panel
STOP = (393, 336)


class Monitor:
    """Frames of the sink's monitor with the time each arrived."""

    def __init__(self):
        self.proc = subprocess.Popen(
            ['parec', '--device=null.monitor', '--format=s16le', '--rate=44100',
             '--channels=2', '--raw', '--latency-msec=5'], stdout=subprocess.PIPE)
        self.lock = threading.Lock()
        self.first_sound = None  # arrival time of the first non-silent frame since arming
        self.armed = False
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        pending = b''
        while True:
            chunk = self.proc.stdout.read1(4096)
            if not chunk:
                return
            now = time.monotonic()
            data = pending + chunk
            usable = len(data) - len(data) % FRAME
            pending = data[usable:]
            with self.lock:
                if not self.armed or self.first_sound is not None:
                    continue
                nonzero = next((i for i in range(0, usable, 2)
                                if data[i] or data[i + 1]), None)
                if nonzero is not None:
                    frames_after = (usable - nonzero) // FRAME
                    self.first_sound = now - frames_after / RATE

    def arm(self):
        with self.lock:
            self.armed = True
            self.first_sound = None

    def wait_sound(self, limit):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            with self.lock:
                if self.first_sound is not None:
                    self.armed = False
                    return self.first_sound
            time.sleep(0.005)
        return None


def click(window, at):
    subprocess.run(['xdotool', 'mousemove', '--window', window, str(at[0]), str(at[1]),
                    'click', '1'], check=True)


def main():
    window, starts = sys.argv[1], int(sys.argv[2])
    other = sys.argv[3] if len(sys.argv) > 3 else None
    monitor = Monitor()
    time.sleep(1)
    for n in range(1, starts + 1):
        if other:
            subprocess.run(['xdotool', 'windowfocus', window], check=True)
            time.sleep(0.5)
            subprocess.run(['xdotool', 'windowfocus', other], check=True)
            time.sleep(1)
        subprocess.run(['xdotool', 'windowraise', window], check=True)
        monitor.arm()
        clicked = time.monotonic()
        click(window, START)
        sound = monitor.wait_sound(10)
        if sound is None:
            print('start %d: no sound within 10 s' % n)
        else:
            print('start %d: %.3f s from the click to the first sound' % (n, sound - clicked))
        sys.stdout.flush()
        time.sleep(1.5)
        click(window, STOP)
        time.sleep(1.5)
    monitor.proc.terminate()


main()
