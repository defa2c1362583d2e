#!/usr/bin/env python3
"""The overlay served by the stand-in player under Wine, tested from Linux with real clients over loopback.

usage: overlay_clients.py PROGRAM_DIR [CASE...]

Four runs of velmora-host: one that plays a playlist while clients take every route and every refusal, one that
switches the overlay on and changes its port while it plays, one with the port already taken, and one whose second
output sends large texts every second to a client that stops reading
and past one that never stops sending, beside one that reads.
"""

import json
import os
import random
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zlib

PROGRAM_DIR = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, flush=True)


def wine_server(program_dir=None):
    """The process id of the Wine server of the program folder's prefix, or None: one that ends under a run ends the
    run's player with it, and the case then says nothing of the overlay."""
    prefix = os.stat(os.path.join(os.path.dirname(program_dir or PROGRAM_DIR), "wineprefix"))
    folder = "server-%x-%x" % (prefix.st_dev, prefix.st_ino)
    for process in filter(str.isdigit, os.listdir("/proc")):
        try:
            if "wineserver" in os.readlink("/proc/%s/exe" % process) and \
                    os.path.basename(os.readlink("/proc/%s/cwd" % process)) == folder:
                return process
        except OSError:
            pass
    return None


def run_once_more_if_wine_failed(case):
    """Runs the case, and once more when it failed while the Wine server it began with went away."""
    server, before = wine_server(), len(failures)
    case()
    if len(failures) > before and wine_server() != server:
        print("  the Wine server went away during the case; running it once more", flush=True)
        del failures[before:]
        case()


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class host_run:
    """velmora-host playing a playlist, its console written to a file (a pipe would outlive it under Wine)."""

    def __init__(self, folder, playlist, speed, settings, program_dir=None):
        program_dir = program_dir or PROGRAM_DIR
        self.console = os.path.join(folder, "console.txt")
        playlist_file = os.path.join(folder, "playlist.txt")
        with open(playlist_file, "w") as written:
            written.write(playlist)
        environment = dict(os.environ, WINEPREFIX=os.path.join(os.path.dirname(program_dir), "wineprefix"),
                           WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d",
                           QEMU_RESERVED_VA="0x84000000")
        arguments = ["wine", os.path.join(program_dir, "velmora-host.exe"), "--playlist", wine_path(playlist_file),
                     "--speed", str(speed), "--output", wine_path(os.path.join(folder, "now playing.txt"))]
        for setting in settings:
            arguments += ["--set", setting]
        with open(self.console, "wb") as console:
            self.process = subprocess.Popen(arguments, stdout=console, stderr=subprocess.STDOUT, env=environment,
                                            cwd=program_dir)

    def text(self):
        with open(self.console, encoding="utf-8", errors="replace") as console:
            return console.read()

    def wait_for(self, line_part, limit):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if line_part in self.text():
                return True
            if self.process.poll() is not None:
                return line_part in self.text()
            time.sleep(0.1)
        return False

    def end(self, limit=120):
        try:
            return self.process.wait(limit)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


def png(width, height, top=(128, 128, 128), bottom=(128, 128, 128)):
    """A PNG of the size, shaded from the top colour to the bottom one, as a picture beside a track."""
    def chunk(kind, data):
        return (len(data).to_bytes(4, "big") + kind + data
                + zlib.crc32(kind + data).to_bytes(4, "big"))
    rows = b""
    for row in range(height):
        shade = bytes(round(a + (b - a) * row / max(height - 1, 1)) for a, b in zip(top, bottom))
        rows += b"\0" + shade * width
    header = width.to_bytes(4, "big") + height.to_bytes(4, "big") + bytes([8, 2, 0, 0, 0])
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def track_with_picture(folder, name, picture):
    """A track file (no audio: its art is the picture beside it) in a folder of its own."""
    os.makedirs(os.path.join(folder, name))
    open(os.path.join(folder, name, "track.mp3"), "wb").close()
    with open(os.path.join(folder, name, "cover.png"), "wb") as written:
        written.write(picture)
    return name + "/track.mp3"


def read_to_end(client):
    """What the server sends until it closes the connection, and whether the client's wait ran out first."""
    received = b""
    try:
        while True:
            piece = client.recv(65536)
            if not piece:
                return received, False
            received += piece
    except ConnectionResetError:
        return received, False
    except socket.timeout:
        return received, True


def exchange(port, request, family=socket.AF_INET, address="127.0.0.1", limit=10):
    """Sends the raw request and reads until the server closes: (status, headers, body), status 0 if none came."""
    with socket.socket(family, socket.SOCK_STREAM) as client:
        client.settimeout(limit)
        client.connect((address, port))
        client.sendall(request)
        received, _ = read_to_end(client)
    head, _, body = received.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    if not lines[0].startswith("HTTP/1.1 "):
        return 0, {}, received
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return int(lines[0].split(" ")[1]), headers, body


def get(port, path, host=None, extra="", method="GET", **where):
    host = host if host is not None else "127.0.0.1:%d" % port
    request = "%s %s HTTP/1.1\r\nHost: %s\r\n%s\r\n" % (method, path, host, extra)
    return exchange(port, request.encode("latin-1"), **where)


class event_reader(threading.Thread):
    """An EventSource-style client of /events: every event's JSON, with its arrival, until the stream ends."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.events, self.ended_at, self.raw = port, [], None, b""
        self.connected = threading.Event()

    def run(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=300) as client:
            client.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAccept: text/event-stream\r\n\r\n"
                           % self.port)
            self.connected.set()
            pending = b""
            try:
                while True:
                    piece = client.recv(65536)
                    if not piece:
                        break
                    self.raw += piece
                    pending += piece
                    while b"\n\n" in pending:
                        block, pending = pending.split(b"\n\n", 1)
                        for line in block.split(b"\n"):
                            if line.startswith(b"data: "):
                                self.events.append((time.monotonic(), json.loads(line[6:].decode("utf-8"))))
            except (socket.timeout, ConnectionResetError):
                pass
        self.ended_at = time.monotonic()


def texts_of(events, number):
    """The output's texts in the order the events brought them, each change once."""
    texts = []
    for _, document in events:
        for output in document["outputs"]:
            if output["number"] == number and (not texts or texts[-1] != output["text"]):
                texts.append(output["text"])
    return texts


def routes_and_refusals(folder):
    port = free_port()
    playlist = ("track Artist One / Title One\nplay 8\ntrack Artist Two / Title Two\nplay 3\npause 2\nplay 25\n"
                "stop\n")
    run = host_run(folder, playlist, 1, ["overlay_port=%d" % port, "2.now_playing_script=%title% <&> \"\u00e9\"",
                                         "2.save_to_file=0", "2.output_path=unused.txt"])
    check(run.wait_for("overlay: http://127.0.0.1:%d/" % port, 120), "the address is printed: " + run.text())
    reader = event_reader(port)
    reader.start()
    reader.connected.wait(10)

    # Every route; every answer says no-store and never opens itself to other sites.
    answers = {path: get(port, path) for path in ["/", "/now-playing.json", "/1.txt", "/2.txt", "/3.txt", "/x",
                                                   "/01.txt", "/?hold=3"]}
    for path, (status, headers, _) in answers.items():
        check(headers.get("cache-control") == "no-store", path + " says no-store")
        check(not any(name.startswith("access-control") for name in headers), path + " sends no CORS header")
    status, headers, body = answers["/"]
    check(status == 200 and headers["content-type"].startswith("text/html"), "/ is the page")
    page = body.decode("utf-8")
    check('<div class="output" id="output-1">' in page and 'id="output-2">' in page, "/ has an element per output")
    check("&lt;&amp;&gt; &quot;\u00e9&quot;" in page, "/ escapes the texts for HTML")
    check("EventSource" in page and "http" not in page.split("<script>")[1], "/ loads nothing from outside")
    status, headers, body = answers["/now-playing.json"]
    document = json.loads(body.decode("utf-8"))
    check(status == 200 and document["state"] in ("playing", "paused", "stopped"), "/now-playing.json: state")
    check([output["number"] for output in document["outputs"]] == [1, 2], "/now-playing.json: both outputs")
    check(document["outputs"][1]["text"].endswith(' <&> "\u00e9"'), "/now-playing.json: an overlay-only output")
    check(b"<" not in body and b"&" not in body, "the JSON escapes <, > and &")
    status, headers, body = answers["/2.txt"]
    check(status == 200 and body.decode("utf-8").endswith('<&> "\u00e9"'), "/2.txt is output 2's text")
    check(answers["/1.txt"][0] == 200, "/1.txt is served")
    for path in ["/3.txt", "/x", "/01.txt"]:
        check(answers[path][0] == 404, path + " is not found")
    check(answers["/?hold=3"][0] == 200, "the page takes a query")
    status, headers, body = get(port, "/", method="HEAD")
    check(status == 200 and body == b"" and int(headers["content-length"]) > 0, "HEAD gives the head alone")

    # The refusals.
    check(get(port, "/1.txt", host="evil.example:%d" % port)[0] == 403, "a foreign Host is refused")
    check(get(port, "/1.txt", host="127.0.0.1:%d" % (port + 1))[0] == 403, "another port's Host is refused")
    check(get(port, "/1.txt", host="LocalHost:%d" % port)[0] == 200, "localhost is this computer")
    check(get(port, "/1.txt", extra="Origin: http://evil.example\r\n")[0] == 403, "a foreign Origin is refused")
    check(get(port, "/1.txt", extra="Origin: http://127.0.0.1:%d\r\n" % port)[0] == 200, "the own Origin is not")
    check(exchange(port, b"GET /1.txt HTTP/1.1\r\n\r\n")[0] == 400, "no Host is malformed")
    check(exchange(port, b"GARBAGE\r\n\r\n")[0] == 400, "a malformed request line")
    check(get(port, "/1.txt", method="POST")[0] == 405, "POST is not allowed")
    check(get(port, "/1.txt", method="OPTIONS")[1].get("allow") == "GET, HEAD", "405 names what is")
    check(get(port, "/1.txt", extra="X-Padding: " + "p" * 9000 + "\r\n")[0] == 431, "a head over 8 KB")
    try:
        check(get(port, "/1.txt", family=socket.AF_INET6, address="::1", host="[::1]:%d" % port)[0] == 200,
              "::1 is served")
    except OSError as error:
        print("  ::1 not tried: %s" % error)

    # A request half sent is closed within the 5 s, and others are served meanwhile.
    half = socket.create_connection(("127.0.0.1", port))
    half.sendall(b"GET /1.txt HTTP/1.1\r\nHost: 127.0.0.1")
    started = time.monotonic()
    check(get(port, "/1.txt")[0] == 200, "others are served beside a half-sent request")
    half.settimeout(15)
    try:
        closed = half.recv(100) == b""
    except (socket.timeout, ConnectionResetError):
        closed = False
    waited = time.monotonic() - started
    print("  a half-sent request was closed after %.1f s" % waited)
    check(closed and 4 <= waited < 9, "a half-sent request is closed after 5 s")
    half.close()

    # 32 connections at once: the reader and 31 more streams; the next one gets 503.
    streams = []
    for _ in range(31):
        stream = socket.create_connection(("127.0.0.1", port))
        stream.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
        streams.append(stream)
    for stream in streams:
        stream.settimeout(10)
        stream.recv(100)
    check(get(port, "/1.txt")[0] == 503, "the 33rd connection gets 503")
    for stream in streams:
        stream.close()
    time.sleep(1)
    check(get(port, "/1.txt")[0] == 200, "served again once connections closed")

    # The stream across the playlist, and its end at shut-down with the client connected.
    check(run.wait_for("shut-down", 120), "the run reaches shut-down")
    shut_down_seen = time.monotonic()
    reader.join(30)
    check(reader.ended_at is not None and reader.ended_at - shut_down_seen < 5, "shut-down ends the stream")
    check(run.end() == 0, "the run ends well: " + run.text())
    check(reader.raw.partition(b"\r\n\r\n")[2].startswith(b"retry: "), "the stream starts with retry")
    first = texts_of(reader.events, 1)
    # The exit text reaches the stream before it ends.
    expected = ["playing: Artist One - Title One", "playing: Artist Two - Title Two",
                "paused: Artist Two - Title Two", "playing: Artist Two - Title Two", "stopped", "not running"]
    check(first[-len(expected):] == expected, "output 1 across the events: %r" % first)
    second = texts_of(reader.events, 2)
    check(second[-4:] == ['Title One <&> "\u00e9"', 'Title Two <&> "\u00e9"', '? <&> "\u00e9"', "not running"],
          "output 2 across the events: %r" % second)
    states = [document["state"] for _, document in reader.events]
    check("paused" in states and states[-1] == "stopped", "the state follows: %r" % states)


def switched_on_while_playing(folder):
    """The overlay switched on, and its port changed, while a track plays: each server serves the current texts and
    state at once. Output 2's text escapes to more than the unread limit. With the delay on, every pushed state is
    the one its text was made in, and the exit texts reach the stream before it ends. The track's art is served
    from the start too, at an address that changes with the art and names no older one."""
    first, second = free_port(), free_port()
    pictures = png(3, 2), png(5, 4)
    playlist = ("track A / B\nfile %s\nplay 4\nset overlay_port=%d\nplay 6\npause 4\nplay 4\nset overlay_port=%d\n"
                "play 6\ntrack C / D\nfile %s\nplay 12\n"
                % (track_with_picture(folder, "a", pictures[0]), first, second,
                   track_with_picture(folder, "c", pictures[1])))
    large = "<&" * 8000
    run = host_run(folder, playlist, 2, ["2.now_playing_script=" + large, "2.save_to_file=0", "delay_enabled=1",
                                         "delay_ms=700"])
    check(run.wait_for("overlay: http://127.0.0.1:%d/" % first, 120), "switched on: " + run.text())
    reader = event_reader(first)
    reader.start()
    status, _, body = get(first, "/now-playing.json")
    document = json.loads(body.decode("utf-8")) if status == 200 else {}
    check(document.get("state") == "playing" and [output["text"] for output in document.get("outputs", [])]
          == ["playing: A - B", large], "switched on while playing: the JSON at once: %r" % body[:200])
    check(get(first, "/1.txt")[2] == b"playing: A - B", "and /1.txt")
    # The art is read off the player's thread, so it may follow the text by a moment.
    for _ in range(50):
        cover = json.loads(get(first, "/now-playing.json")[2].decode("utf-8")).get("cover")
        if cover:
            break
        time.sleep(0.2)
    status, headers, body = get(first, cover or "/cover/1")
    check(status == 200 and headers.get("content-type") == "image/png" and body == pictures[0]
          and headers.get("cache-control") == "no-store", "the track's art is served: %r %r" % (cover, status))
    status, _, body = get(first, "/")
    check(status == 200 and body.count(b"&lt;&amp;") == 8000, "the page, longer than the unread limit, comes whole")
    check(run.wait_for("overlay: http://127.0.0.1:%d/" % second, 120), "the port changes")
    check(get(second, "/1.txt")[2].startswith(b"playing: A - B"), "the new port serves the text at once")
    check(get(second, cover or "/cover/1")[2] == pictures[0], "and the art, at the same address")
    check(run.wait_for("playing: C - D", 120), "the next track plays")
    for _ in range(50):
        next_cover = json.loads(get(second, "/now-playing.json")[2].decode("utf-8")).get("cover")
        if next_cover != cover:
            break
        time.sleep(0.2)
    check(next_cover and get(second, next_cover)[2] == pictures[1], "the next track's art: %r" % next_cover)
    check(get(second, cover or "/cover/1")[0] == 404, "the older art's address is not found")
    last = event_reader(second)
    last.start()
    reader.join(30)
    check(reader.events and reader.events[0][1]["outputs"][0]["text"] == "playing: A - B",
          "the stream's first event has the texts")
    check(any(document["outputs"][1]["text"] == large for _, document in reader.events),
          "an event longer than the unread limit reaches a reading client")
    prefix = {"playing": "playing: ", "paused": "paused: ", "stopped": "stopped"}
    states = [(document["state"], document["outputs"][0]["text"]) for _, document in reader.events]
    check("paused" in [state for state, _ in states] and all(text.startswith(prefix[state]) for state, text in states),
          "each state is the one its text was made in: %r" % states)
    check(run.end() == 0, "the run ends well")
    last.join(30)
    check(last.events and last.events[-1][1]["state"] == "stopped"
          and last.events[-1][1]["outputs"][0]["text"] == "not running", "the exit text reaches the stream")
    covers = [document["cover"] for _, document in reader.events + last.events]
    check(cover in covers and next_cover in covers and covers[-1] is None,
          "the streams carry each art, and none once the player is gone: %r" % covers)


def port_in_use(folder):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen(1)
        port = taken.getsockname()[1]
        run = host_run(folder, "track A / B\nplay 40\nstop\n", 4, ["overlay_port=%d" % port])
        check(run.wait_for("Can't serve the overlay", 120), "a port in use is said")
    # Once the other program lets the port go, the overlay is served without a restart.
    served, end = None, time.monotonic() + 10
    while time.monotonic() < end and served != 200:
        try:
            served = get(port, "/1.txt", limit=2)[0]
        except OSError:
            time.sleep(0.2)
    status = run.end()
    text = run.text()
    check(("Error: Can't serve the overlay on port %d: " % port) in text, "a port in use is said: " + text)
    check(text.count("Can't serve the overlay") == 1, "once")
    check(served == 200, "served once the port is free")
    check("playing: A - B" in text and status == 0, "and everything else goes on")


def reader_that_stops(folder):
    port = free_port()
    run = host_run(folder, "track A / B\nplay 400\nstop\n", 20,
                   ["overlay_port=%d" % port, "2.now_playing_script=%playback_time% " + "x" * 6000,
                    "2.on_every_second=1", "2.save_to_file=0"])
    check(run.wait_for("overlay:", 120), "the address is printed")
    stalled = socket.socket()
    stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stalled.connect(("127.0.0.1", port))
    stalled.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
    # A client that sends without end after its request: reading it may not hold the server from the others.
    flooding = socket.create_connection(("127.0.0.1", port))
    flooding.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
    flooded = [0]

    def flood():
        try:
            while True:
                flooded[0] += flooding.send(b"x" * 65536)
        except OSError:
            pass

    threading.Thread(target=flood, daemon=True).start()
    reader = event_reader(port)
    reader.start()
    check(run.wait_for("shut-down", 180), "the run reaches shut-down")
    reader.join(30)
    flooding.close()
    # What the stalled client gets now ends well before its stream would have: it was dropped.
    stalled.settimeout(10)
    received = len(read_to_end(stalled)[0])
    stalled.close()
    seconds = texts_of(reader.events, 2)
    print("  a client that stopped reading got %d bytes; one sent %d MB without end; the one reading got %d texts "
          "of output 2" % (received, flooded[0] >> 20, len(seconds)))
    check(received < 1024 * 1024, "the client that stopped reading was dropped")
    # 400 simulated seconds, each a new text: a loaded machine may fold a few changes into one event.
    check(len(seconds) >= 200, "the reading client kept up: %d texts" % len(seconds))
    check(run.end() == 0, "the run ends well")


def mutate(request, chance):
    data = bytearray(request)
    choice = chance.randrange(6)
    if choice == 0:
        del data[chance.randrange(len(data)):]
    elif choice == 1:
        for _ in range(chance.randrange(1, 8)):
            data[chance.randrange(len(data))] = chance.randrange(256)
    elif choice == 2:
        at = chance.randrange(len(data))
        data[at:at] = bytes(chance.randrange(256) for _ in range(chance.randrange(1, 64)))
    elif choice == 3:
        at = chance.randrange(len(data))
        data[at:at] = b"X-Long: " + b"a" * chance.randrange(100, 12000) + b"\r\n"
    elif choice == 4:
        data = data.replace(b"\r\n", b"\n" if chance.randrange(2) else b"\r")
    else:
        data = data[:-2] + data[16:]
    return bytes(data)


def mutated_requests(folder):
    """Mutated requests, each sent whole and its sending side shut: the server answers or closes every one, never
    dies, and a steady client is served all along."""
    scale = int(os.environ.get("VELMORA_FUZZ_SCALE") or 1)
    chance = random.Random(31 + int(os.environ.get("VELMORA_FUZZ_SEED") or 0))
    port = free_port()
    run = host_run(folder, "track A / B\nplay 86400\n", 1, ["overlay_port=%d" % port])
    check(run.wait_for("overlay:", 120), "the address is printed")
    # Streams are left out: a mutated request that still asks for one would hold its connection open.
    valid = [b"GET /now-playing.json HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: http://127.0.0.1:%d\r\n\r\n"
             % (port, port), b"HEAD /1.txt HTTP/1.0\r\nHost: [::1]:%d\r\nAccept: */*\r\n\r\n" % port]
    rounds = 300 * scale
    unanswered = 0
    for round in range(rounds):
        request = mutate(chance.choice(valid), chance)
        with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
            client.sendall(request)
            client.shutdown(socket.SHUT_WR)
            received, timed_out = read_to_end(client)
            unanswered += timed_out
        if received and not received.startswith(b"HTTP/1.1 "):
            check(False, "round %d: %r gave %r" % (round, request[:80], received[:80]))
        if round % 25 == 0:
            check(get(port, "/1.txt")[0] == 200, "round %d: the steady client is served" % round)
    print("  %d mutated requests; %d neither answered nor closed within 10 s" % (rounds, unanswered))
    check(unanswered == 0, "every request is answered or closed")
    check(run.process.poll() is None, "the player still runs")
    run.process.kill()
    run.end(30)


if __name__ == "__main__":
    # The mutated requests run in the long runs (tools/fuzz), by name.
    chosen = sys.argv[2:] or ["routes_and_refusals", "switched_on_while_playing", "port_in_use", "reader_that_stops"]
    for case in [globals()[name] for name in chosen]:
        print("== " + case.__name__, flush=True)

        def run_in_scratch(case=case):
            with tempfile.TemporaryDirectory() as scratch:
                case(scratch)
        run_once_more_if_wine_failed(run_in_scratch)
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)
