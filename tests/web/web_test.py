#!/usr/bin/env python3
"""The browser build in headless Chromium, against the native program.

    python3 tests/web/web_test.py BUILD_WEB NATIVE_STORM

- the committed flight replayed in the page by the WebAssembly software
  renderer, in the threaded program (the test's server makes the page
  cross-origin isolated) and in the one that renders on the page's thread,
  gives the native reference renderer's frames 1, 98 (the lightning), 280
  (where the C libraries' sines once parted) and 300, byte for byte, with no
  console error on the way;
- on WebGL 2 (SwiftShader here) the same frames agree with the reference
  within 8 levels on at least 99 % of the pixels; a context lost mid-flight
  and given back leaves the later frames as an undisturbed run's; one never
  given back moves the storm to the software renderer, which goes on;
- a browser without WebGL 2 runs the software renderer and says why;
- a free run shows the scene; the first click hides the overlay and takes
  the pointer; mouse moves steer, and the recorded input is what was sent;
  Escape lets the pointer go and the storm goes on;
- a page whose data cannot be downloaded says so in words.
"""

import base64
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402
import serve  # noqa: E402
from checks import check, page_errors, summary  # noqa: E402

SHOTS = (1, 98, 280, 300)
FLIGHT = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "flight.rec")
def shot_name(frame):
    return f"frame-{frame:06d}.png"


def native_frames(storm, folder):
    """The native reference renderer's frames of the flight, 320 x 200, seed 6."""
    subprocess.run([storm, "--headless", "--renderer", "ref", "-x", "320", "-y", "200",
                    "--replay", FLIGHT, "--seed", "6",
                    "--shots", ",".join(map(str, SHOTS)), "--shot-dir", folder],
                   cwd=folder, check=True, stdout=subprocess.DEVNULL, timeout=300)
    return {f: open(os.path.join(folder, shot_name(f)), "rb").read() for f in SHOTS}


def page_shots(page):
    """The frames the page wrote with ?shots, as PNG bytes."""
    shots = {}
    for frame in SHOTS:
        data = page.evaluate(
            "(() => { const b = FS.readFile('/shots/" + shot_name(frame) + "');"
            " let s = ''; for (const x of b) s += String.fromCharCode(x);"
            " return btoa(s); })()")
        shots[frame] = base64.b64decode(data)
    return shots


def png_pixels(data, folder):
    path = os.path.join(folder, "decode.png")
    with open(path, "wb") as f:
        f.write(data)
    return browser.Png(path)


def share_beyond(a, b, tolerance):
    """The share of pixels where a channel differs by more than `tolerance`."""
    bad = 0
    for y in range(a.height):
        ra, rb = a.rows[y], b.rows[y]
        step = a.channels
        for x in range(0, len(ra), step):
            if any(abs(ra[x + c] - rb[x + c]) > tolerance for c in range(3)):
                bad += 1
    return bad / (a.width * a.height)


def replay_url(url, extra):
    return (url + "storm.html?size=320x200&seed=6&replay&threads=1&shots="
            + ",".join(map(str, SHOTS)) + extra)


def replay_matches_native(url, expected, variant):
    """The flight in the program the page runs: `threads=1` asks for the
    single-threaded one; otherwise this cross-origin isolated page runs the
    threaded one."""
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(url + "storm.html?size=320x200&seed=6&replay&renderer=soft&shots="
                  + ",".join(map(str, SHOTS)) + variant)
        code = page.wait_for("window.stormEnded !== undefined ? String(window.stormEnded) : ''",
                             timeout=240)
        threaded, threads = page.evaluate("[threaded, threads]")
        check(threaded != bool(variant),
              f"the page runs the program it should: {threads} threads ({variant or 'isolated'})")
        check(code == "0", f"the replayed flight ends cleanly (exit {code})")
        shots = page_shots(page)
        for frame in SHOTS:
            check(shots[frame] == expected[frame],
                  f"frame {frame} equals the native reference renderer's")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")


def webgl_replay(url, expected, folder):
    """The flight on WebGL 2 against the reference; its frames, for the
    context-loss run."""
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(replay_url(url, "&renderer=gles"))
        code = page.wait_for("window.stormEnded !== undefined ? String(window.stormEnded) : ''",
                             timeout=240)
        check(code == "0" and page.evaluate("window.stormRenderer") == "gles",
              f"the flight runs on WebGL 2 (exit {code})")
        shots = page_shots(page)
        for frame in SHOTS:
            bad = share_beyond(png_pixels(shots[frame], folder),
                               png_pixels(expected[frame], folder), 8)
            check(bad <= 0.01, f"WebGL 2 frame {frame}: {100 * bad:.3f} % of the pixels "
                  "beyond 8 levels of the reference (at most 1 %)")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")
        return shots


LOSE = ("(() => { window.stormLoser = document.getElementById('canvas')"
        ".getContext('webgl2').getExtension('WEBGL_lose_context');"
        " window.stormLoser.loseContext(); return 1; })()")


def context_lost_and_given_back(url, undisturbed):
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(replay_url(url, "&renderer=gles"))
        page.wait_for("(Module.framesShown | 0) >= 40", timeout=120)
        page.evaluate(LOSE)
        page.idle(0.5)
        paused_at = page.evaluate("Module.framesShown | 0")
        page.idle(1.0)
        check(page.evaluate("Module.framesShown | 0") == paused_at,
              f"the storm pauses while its context is lost (at frame {paused_at})")
        page.evaluate("window.stormLoser.restoreContext()")
        code = page.wait_for("window.stormEnded !== undefined ? String(window.stormEnded) : ''",
                             timeout=240)
        check(code == "0", f"the flight ends cleanly after the context came back (exit {code})")
        shots = page_shots(page)
        for frame in SHOTS:
            if frame > paused_at:
                check(shots[frame] == undisturbed[frame],
                      f"frame {frame}, after the loss, equals the undisturbed run's")
        check(page.evaluate("window.stormRenderer") == "gles", "and stays on WebGL 2")


def context_lost_for_good(url, folder):
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(url + "storm.html?seed=3&threads=1&renderer=gles")
        page.wait_for("(Module.framesShown | 0) > 20", timeout=120)
        page.evaluate(LOSE)
        moved = page.wait_for("window.stormRenderer == 'soft'", timeout=20)
        check(bool(moved), "a context never given back moves the storm to software")
        before = page.evaluate("Module.framesShown | 0")
        page.idle(1.0)
        check(page.evaluate("Module.framesShown | 0") > before
              and page.evaluate("window.stormEnded === undefined"), "which goes on drawing")
        shot = browser.Png(page.screenshot(os.path.join(folder, "moved.png")))
        lit = sum(1 for y in range(0, shot.height, 8) for x in range(0, shot.width, 8)
                  if sum(shot.pixel(x, y)[:3]) > 90)
        check(lit > 200, f"the software renderer shows the scene ({lit} lit samples)")
        status = page.evaluate("document.getElementById('status').textContent")
        check("software renderer" in status and "lost" in status,
              f"the page says so: {status!r}")


def no_webgl2_runs_software(url):
    with browser.Browser(800, 600, timeout=60, extra_flags=["--disable-webgl2"]) as page:
        page.goto(url + "storm.html?seed=3&threads=1")
        page.wait_for("(Module.framesShown | 0) > 5", timeout=120)
        status = page.evaluate("document.getElementById('status').textContent")
        check(page.evaluate("window.stormRenderer") == "soft" and "no WebGL 2" in status,
              f"without WebGL 2 the software renderer runs and the page says why: {status!r}")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")


def free_run_shows_the_storm(url, folder):
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(url + "storm.html?seed=3&record")
        page.wait_for("(Module.framesShown | 0) > 20", timeout=120)
        shot = browser.Png(page.screenshot(os.path.join(folder, "page.png")))
        lit = sum(1 for y in range(0, shot.height, 8) for x in range(0, shot.width, 8)
                  if sum(shot.pixel(x, y)[:3]) > 90)
        check(lit > 200, f"the page shows the scene ({lit} lit samples)")
        status = page.evaluate("document.getElementById('status').textContent")
        check("WebGL 2" in status, f"the page names its renderer: {status!r}")
        page.click(400, 300)
        locked = page.wait_for("document.pointerLockElement === Module.canvas", timeout=10)
        check(bool(locked), "the first click takes the pointer")
        check(page.evaluate("document.getElementById('overlay').classList.contains('hidden')"),
              "and hides the overlay")
        # Twenty moves of ten pixels right and four down, as on the desktop.
        for i in range(1, 21):
            page.call("Input.dispatchMouseEvent",
                      {"type": "mouseMoved", "x": 400 + 10 * i, "y": 300 + 4 * i})
            page.idle(0.02)
        page.idle(0.5)
        lines = page.evaluate("FS.readFile('/record.rec', {encoding: 'utf8'})").splitlines()
        moved = [line.split() for line in lines if line and not line.startswith("#")]
        dx = sum(int(m[1]) for m in moved)
        dy = sum(int(m[2]) for m in moved)
        check((dx, dy) == (200, 80), f"the recorded mouse is what was sent: {dx}, {dy} of 200, 80")
        page.key("Escape")
        before = page.evaluate("Module.framesShown | 0")
        page.idle(1.0)
        running = page.evaluate("window.stormEnded === undefined && (Module.framesShown | 0)")
        check(running and running > before, "Escape does not end the storm in a browser")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")


def missing_data_is_said_in_words(build_web, folder):
    """A page whose data cannot be fetched says so instead of staying blank."""
    site = os.path.join(folder, "site")
    os.mkdir(site)
    for name in ("storm.html", "storm.js", "storm.wasm", "storm-mt.js", "storm-mt.wasm",
                 "storm-mt.worker.js"):
        shutil.copy(os.path.join(build_web, name), site)
    server, url = serve.start(site)
    try:
        with browser.Browser(800, 600, timeout=60) as page:
            page.goto(url + "storm.html")
            said = page.wait_for("window.stormError || ''", timeout=30)
            shown = page.evaluate("getComputedStyle(document.getElementById('message')).display")
            check("storm.data" in said and shown == "block",
                  f"a missing data set is shown in words: {said!r}")
    finally:
        server.shutdown()
        server.server_close()


def main():
    build_web, storm = sys.argv[1], os.path.abspath(sys.argv[2])
    server, url = serve.start(build_web)
    try:
        with tempfile.TemporaryDirectory() as folder:
            expected = native_frames(storm, folder)
            replay_matches_native(url, expected, "")
            replay_matches_native(url, expected, "&threads=1")
            undisturbed = webgl_replay(url, expected, folder)
            context_lost_and_given_back(url, undisturbed)
            context_lost_for_good(url, folder)
            no_webgl2_runs_software(url)
            free_run_shows_the_storm(url, folder)
            missing_data_is_said_in_words(build_web, folder)
    finally:
        server.shutdown()
        server.server_close()
    return summary()


if __name__ == "__main__":
    sys.exit(main())
