#!/usr/bin/env python3
"""Checks that the headless-browser driver and the server do their job on
this machine: isolation headers reach the page, logs, exceptions, pixels and
input all come back. Exit status 0 when they do."""

import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402
import serve  # noqa: E402

GOOD = """<!doctype html><body style="margin:0">
<canvas id="c" width="200" height="200"></canvas><script>
console.log("page says", 42);
// WebGL 2, as the program uses: the square is a scissored clear.
const gl = c.getContext("webgl2", {preserveDrawingBuffer: true});
gl.clearColor(1, 1, 1, 1); gl.clear(gl.COLOR_BUFFER_BIT);
gl.enable(gl.SCISSOR_TEST); gl.scissor(50, 50, 100, 100);
gl.clearColor(1, 0, 0, 1); gl.clear(gl.COLOR_BUFFER_BIT);
c.addEventListener("mousedown", e => { window.pressed = [e.clientX, e.clientY]; });
let ticks = 0;
(function tick() { if (++ticks < 5) requestAnimationFrame(tick);
                   else window.ready = {isolated: crossOriginIsolated}; })();
</script></body>"""

BAD = """<!doctype html><script>throw new Error("storm test failure");</script>"""


def check(what, ok):
    print(f"{'ok  ' if ok else 'FAIL'} {what}")
    return ok


def frame(op, data, fin=True):
    n = len(data)
    size = bytes([n]) if n < 126 else \
        bytes([126]) + n.to_bytes(2, "big") if n < 1 << 16 else bytes([127]) + n.to_bytes(8, "big")
    return bytes([fin << 7 | op]) + size + data


def websocket_frames():
    """What Chromium seldom sends: pings, fragments, 64-bit lengths, and a
    frame still arriving when a wait times out."""
    ours, theirs = socket.socketpair()
    with ours, theirs:
        ws, wait = browser.WebSocket(ours), browser._Deadline(5, "test")
        theirs.sendall(frame(9, b"hi") + frame(1, b"one ", fin=False) + frame(0, b"two"))
        ok = ws.recv_text(wait) == "one two"
        pong = theirs.recv(64)
        ok &= pong[0] == 0x8A and browser._xor(pong[6:], pong[2:6]) == b"hi"
        big = frame(1, b"x" * 70000)
        theirs.sendall(big[:1000])
        try:
            ws.recv_text(browser._Deadline(0.1, "cut frame"))
            ok = False
        except browser.BrowserTimeout:
            theirs.sendall(big[1000:])
            ok &= ws.recv_text(wait) == "x" * 70000
    return ok


def main():
    started = time.monotonic()
    with tempfile.TemporaryDirectory() as root:
        for name, page in (("good.html", GOOD), ("bad.html", BAD)):
            with open(os.path.join(root, name), "w") as f:
                f.write(page)
        server, url = serve.start(root)
        results = [check("WebSocket frames decoded", websocket_frames())]
        with browser.Browser(400, 300, timeout=20) as b:
            b.goto(url + "good.html")
            results.append(check("page is cross-origin isolated", b.wait_for("window.ready") == {"isolated": True}))
            results.append(check("console message collected",
                                 ("log", "page says 42") in b.console))
            shot = b.screenshot(os.path.join(root, "shot.png"))
            png = browser.Png(shot)
            results.append(check("screenshot is the page size", (png.width, png.height) == (400, 300)))
            results.append(check("WebGL red square in the screenshot", png.pixel(100, 100)[:3] == (255, 0, 0)))
            results.append(check("white outside it", png.pixel(20, 20)[:3] == (255, 255, 255)))
            b.click(120, 80)
            results.append(check("click reaches the page", b.wait_for("window.pressed", 5) == [120, 80]))
            results.append(check("no errors on a good page", b.errors == []))
            b.goto(url + "bad.html")
            b.idle(0.2)
            results.append(check("uncaught exception reported",
                                 any("storm test failure" in e for e in b.errors)))
        # The command line must fail on a broken page, and pass a good one.
        tool = [sys.executable, browser.__file__, "--timeout", "20"]
        bad = subprocess.run(tool + [url + "bad.html"], capture_output=True, text=True)
        results.append(check("command line fails on a throwing page",
                             bad.returncode == 1 and "storm test failure" in bad.stderr))
        good = subprocess.run(tool + [url + "good.html", "--wait-for", "window.ready"],
                              capture_output=True, text=True)
        results.append(check("command line passes a good page", good.returncode == 0))
        server.shutdown()
        server.server_close()
    print(f"{sum(results)}/{len(results)} passed in {time.monotonic() - started:.1f} s")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
