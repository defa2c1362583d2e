#!/usr/bin/env python3
"""The overlay in a real browser: headless Chromium, driven over the DevTools protocol, loads the page from the
stand-in player under Wine, shows the text and the track's art, and shows the next track's text and art within a
second of the event without a reload; its progress bar moves smoothly, stands still while paused and starts again at
0; a long title is marked as overflowing.

usage: overlay_browser.py PROGRAM_DIR [SCREENSHOT.png]
"""

import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from overlay_clients import free_port, host_run, png, track_with_picture, wine_server  # noqa: E402


LONG = ("(live at the Plugged Nickel, Chicago, December 1965, second set, with every take of the session that the "
        "label kept and a title far too long for any box)")
# The page's idea of where the track is, in seconds; its two times; whether each output overflows.
PLACE = ("parseFloat(getComputedStyle(document.getElementById('progress')).getPropertyValue('--progress') || 0) * "
         "(document.documentElement.getAttribute('data-length') == 'none' ? 0 : "
         "document.getElementById('length').textContent.split(':')"
         ".reduce(function (a, b) { return a * 60 + +b; }, 0))")
TIMES = "document.getElementById('elapsed').textContent + ' / ' + document.getElementById('length').textContent"
OVERFLOWING = "[1, 2].map(function (n) { return document.getElementById('output-' + n).classList.contains('overflowing') })"
# Samples the bar in every frame while paused (true when it never moved), and whether a track without a length
# hid it.
WATCH = """(function () {
  window.velmoraWatch = { paused: [], noLength: false };
  (function look() {
    var root = document.documentElement, bar = document.getElementById('progress');
    if (root.getAttribute('data-state') == 'paused')
      velmoraWatch.paused.push(getComputedStyle(bar).getPropertyValue('--progress'));
    if (root.getAttribute('data-state') == 'playing' && root.getAttribute('data-length') == 'none' &&
        getComputedStyle(bar).display == 'none')
      velmoraWatch.noLength = true;
    requestAnimationFrame(look);
  })();
})()"""
PAUSED = ("[velmoraWatch.paused.length > 30, velmoraWatch.paused.every(function (value) { "
          "return value == velmoraWatch.paused[0]; })]")
NO_LENGTH = "velmoraWatch.noLength"


class devtools:
    """The DevTools protocol over the page's WebSocket, spoken by hand: a handshake, then masked text frames."""

    def __init__(self, url):
        host, _, path = url[len("ws://"):].partition("/")
        address, _, port = host.partition(":")
        self.connection = socket.create_connection((address, int(port)), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.connection.sendall(("GET /%s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
                                 % (path, host, key)).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += self.connection.recv(1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("no WebSocket: %r" % head)
        self.next_id = 0

    def _exactly(self, count):
        data = b""
        while len(data) < count:
            piece = self.connection.recv(count - len(data))
            if not piece:
                raise RuntimeError("the browser closed the connection")
            data += piece
        return data

    def call(self, method, **params):
        self.next_id += 1
        payload = json.dumps({"id": self.next_id, "method": method, "params": params}).encode()
        mask = os.urandom(4)
        header = bytes([0x81])
        if len(payload) < 126:
            header += bytes([0x80 | len(payload)])
        else:
            header += bytes([0x80 | 126]) + struct.pack(">H", len(payload))
        self.connection.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))
        while True:
            first, second = self._exactly(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._exactly(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._exactly(8))[0]
            message = self._exactly(length)
            if first & 0x0F != 1:
                continue
            answer = json.loads(message.decode())
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError("%s: %s" % (method, answer["error"]))
                return answer["result"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")


def main():
    program_dir = os.path.abspath(sys.argv[1])
    screenshot = sys.argv[2] if len(sys.argv) > 2 else None
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("not run: no chromium on this machine")
        return 1
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)
            print("FAILED: " + what, flush=True)

    # The browser's helper processes may still be writing its profile as they end.
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as folder:
        port, debugging = free_port(), free_port()
        first_art = track_with_picture(folder, "first", png(96, 96, (230, 120, 40), (120, 30, 90)))
        second_art = track_with_picture(folder, "second", png(96, 96, (40, 150, 200), (20, 40, 110)))
        run = host_run(folder, "track Nina Simone / Feeling Good\nfile %s\nlength 200\nplay 8\n"
                       "track Miles Davis / So What %s\nfile %s\nlength 4000\nplay 8\npause 3\nplay 1\n"
                       "track Radio / News\nplay 3\nstop\nplay 10\n" % (first_art, LONG, second_art),
                       1, ["overlay_port=%d" % port, "2.now_playing_script=%title%", "2.save_to_file=0"],
                       program_dir)
        chromium = subprocess.Popen([browser, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                     "--user-data-dir=" + os.path.join(folder, "profile"),
                                     "--remote-debugging-port=%d" % debugging, "about:blank"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            check(run.wait_for("overlay: http://127.0.0.1:%d/" % port, 120), "the player serves the overlay")
            check(run.wait_for("Feeling Good", 60), "the first track plays")
            targets = None
            for _ in range(100):
                try:
                    with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % debugging, timeout=5) as listed:
                        targets = [target for target in json.load(listed) if target["type"] == "page"]
                    if targets:
                        break
                except OSError:
                    pass
                time.sleep(0.2)
            page = devtools(targets[0]["webSocketDebuggerUrl"])
            page.call("Page.enable")
            page.call("Page.navigate", url="http://127.0.0.1:%d/?hold=2" % port)
            shown = lambda number: page.evaluate(  # noqa: E731
                "(document.getElementById('output-%d') || {}).textContent || ''" % number)
            start = time.monotonic()
            while "Feeling Good" not in shown(1) and time.monotonic() - start < 20:
                time.sleep(0.05)
            check("Feeling Good" in shown(1) and shown(2) == "Feeling Good", "the page shows the texts: %r %r"
                  % (shown(1), shown(2)))
            page.evaluate("window.velmoraLoaded = 1")
            art_shown = ("(document.documentElement.classList.contains('no-cover') ? 'none' : "
                         "document.getElementById('cover').naturalWidth + ' ' + "
                         "getComputedStyle(document.getElementById('cover')).display + ' ' + "
                         "document.getElementById('cover').getAttribute('src'))")
            start = time.monotonic()
            while page.evaluate(art_shown) == "none" and time.monotonic() - start < 10:
                time.sleep(0.05)
            first_shown = page.evaluate(art_shown)
            check(first_shown.startswith("96 block /cover/"), "the page shows the track's art: %r" % first_shown)

            # Opened in the middle of the track, the page shows where it is; the bar rises every few frames
            # between the once-a-second pushes, and never falls.
            with urllib.request.urlopen("http://127.0.0.1:%d/now-playing.json" % port, timeout=10) as answer:
                served = json.load(answer)["position"]
            check(abs(page.evaluate(PLACE) - served) < 1, "the position at once: %r against %r"
                  % (page.evaluate(PLACE), served))
            rises = falls = 0
            previous = page.evaluate(PLACE)
            start = time.monotonic()
            while time.monotonic() - start < 1.2:
                time.sleep(0.04)
                now = page.evaluate(PLACE)
                rises, falls = rises + (now > previous), falls + (now < previous)
                previous = now
            check(rises >= 5 and falls == 0, "the bar moves smoothly: %d rises, %d falls" % (rises, falls))
            check(re.match(r"0:0\d / 3:20$", page.evaluate(TIMES)), "the times: %r" % page.evaluate(TIMES))
            check(page.evaluate(OVERFLOWING) == [False, False], "short titles fit")
            if screenshot:
                page.call("Emulation.setDeviceMetricsOverride", width=760, height=170, deviceScaleFactor=1,
                          mobile=False)
                page.call("Emulation.setDefaultBackgroundColorOverride", color={"r": 40, "g": 44, "b": 52, "a": 1})
                picture = page.call("Page.captureScreenshot", format="png")["data"]
                with open(screenshot, "wb") as saved:
                    saved.write(base64.b64decode(picture))
                print("  saved " + screenshot)

            # The next track: from the moment the player's console shows its write to the page showing it.
            while "So What" not in run.text() and time.monotonic() - start < 60:
                time.sleep(0.01)
            event_seen = time.monotonic()
            while "So What" not in shown(1) and time.monotonic() - event_seen < 5:
                time.sleep(0.01)
            after = time.monotonic() - event_seen
            print("  the page showed the next track %.0f ms after the player's console did" % (after * 1000))
            check("So What" in shown(1) and after < 1.0, "the next track within 1 s: %r" % shown(1))
            check(page.evaluate(PLACE) < 1.5, "the bar starts again at 0: %r" % page.evaluate(PLACE))
            check(page.evaluate(OVERFLOWING) == [True, True], "a long title overflows")
            check(page.evaluate("window.velmoraLoaded") == 1, "without a reload")
            start = time.monotonic()
            while page.evaluate(art_shown) == first_shown and time.monotonic() - start < 5:
                time.sleep(0.05)
            second_shown = page.evaluate(art_shown)
            print("  the page showed the next track's art %.0f ms after the player's console showed its text"
                  % ((time.monotonic() - event_seen) * 1000))
            check(second_shown.startswith("96 block /cover/") and second_shown != first_shown,
                  "and the next track's art: %r" % second_shown)
            check(page.evaluate("document.getElementById('output-1').classList.contains('changed')"),
                  "the new text has the class changed")
            time.sleep(2.5)
            check(not page.evaluate("document.getElementById('output-1').classList.contains('changed')"),
                  "and loses it after ?hold=2 seconds")
            check(page.evaluate("getComputedStyle(document.body).backgroundColor") == "rgba(0, 0, 0, 0)",
                  "the background is transparent")
            # A hold past what a timer holds keeps the class for good rather than dropping it at once.
            page.call("Page.navigate", url="http://127.0.0.1:%d/?hold=Infinity" % port)
            held = "location.search == '?hold=Infinity' && document.getElementById('output-1') != null"
            start = time.monotonic()
            while not page.evaluate(held) and time.monotonic() - start < 10:
                time.sleep(0.05)
            time.sleep(1)
            check(page.evaluate(held + " && document.getElementById('output-1').classList.contains('changed')"),
                  "?hold=Infinity keeps the class changed")
            # The pause and the track without a length are watched from within the page, frame by frame.
            page.evaluate(WATCH)
            # Stopped, there is no art: the page says so with a class.
            while "] stop" not in run.text() and time.monotonic() - start < 60:
                time.sleep(0.05)
            start = time.monotonic()
            while page.evaluate(art_shown) != "none" and time.monotonic() - start < 5:
                time.sleep(0.05)
            check(page.evaluate(art_shown) == "none", "no art once stopped: the class no-cover")
            check(page.evaluate(PAUSED) == [True, True], "the bar stood still while paused")
            check(page.evaluate(NO_LENGTH), "a track without a length shows no bar")
            check(run.end() == 0, "the run ends well")
        finally:
            chromium.terminate()
            try:
                chromium.wait(30)
            except subprocess.TimeoutExpired:
                chromium.kill()
            run.end(5)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    server = wine_server(os.path.abspath(sys.argv[1]))
    status = main()
    if status != 0 and wine_server(os.path.abspath(sys.argv[1])) != server:
        print("the Wine server went away during the run; running it once more", flush=True)
        status = main()
    sys.exit(status)
