#!/usr/bin/env python3
"""The browser build in headless Chromium, against the native program.

    python3 tests/web/web_test.py BUILD_WEB NATIVE_STORM

- the committed flight replayed in the page, by the threaded program (the
  test's server makes the page cross-origin isolated) and by the one that
  renders on the page's thread, gives the native reference
  renderer's frames 1, 98 (the lightning), 280 (where the C libraries' sines
  once parted) and 300, byte for byte, with no console error on the way;
- a free run shows the scene; the first click hides the overlay and takes
  the pointer; Escape lets it go and the storm goes on;
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

SHOTS = (1, 98, 280, 300)
FLIGHT = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "flight.rec")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def shot_name(frame):
    return f"frame-{frame:06d}.png"


def native_frames(storm, folder):
    """The native reference renderer's frames of the flight, 320 x 200, seed 6."""
    subprocess.run([storm, "--headless", "--renderer", "ref", "-x", "320", "-y", "200",
                    "--replay", FLIGHT, "--seed", "6",
                    "--shots", ",".join(map(str, SHOTS)), "--shot-dir", folder],
                   cwd=folder, check=True, stdout=subprocess.DEVNULL, timeout=300)
    return {f: open(os.path.join(folder, shot_name(f)), "rb").read() for f in SHOTS}


def page_errors(page):
    """Console errors and exceptions: a page that works logs none."""
    return page.errors + [text for kind, text in page.console if kind == "error"]


def replay_matches_native(url, expected, variant):
    """The flight in the program the page runs: `threads=1` asks for the
    single-threaded one; otherwise this cross-origin isolated page runs the
    threaded one."""
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(url + "storm.html?size=320x200&seed=6&replay&shots="
                  + ",".join(map(str, SHOTS)) + variant)
        code = page.wait_for("window.stormEnded !== undefined ? String(window.stormEnded) : ''",
                             timeout=240)
        threaded, threads = page.evaluate("[threaded, threads]")
        check(threaded != bool(variant),
              f"the page runs the program it should: {threads} threads ({variant or 'isolated'})")
        check(code == "0", f"the replayed flight ends cleanly (exit {code})")
        for frame in SHOTS:
            data = page.evaluate(
                "(() => { const b = FS.readFile('/shots/" + shot_name(frame) + "');"
                " let s = ''; for (const x of b) s += String.fromCharCode(x);"
                " return btoa(s); })()")
            same = base64.b64decode(data) == expected[frame]
            check(same, f"frame {frame} equals the native reference renderer's")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")


def free_run_shows_the_storm(url, folder):
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(url + "storm.html?seed=3")
        page.wait_for("(Module.framesShown | 0) > 20", timeout=120)
        shot = browser.Png(page.screenshot(os.path.join(folder, "page.png")))
        lit = sum(1 for y in range(0, shot.height, 8) for x in range(0, shot.width, 8)
                  if sum(shot.pixel(x, y)[:3]) > 90)
        check(lit > 200, f"the page shows the scene ({lit} lit samples)")
        status = page.evaluate("document.getElementById('status').textContent")
        check("software renderer" in status, f"the page names its renderer: {status!r}")
        page.click(400, 300)
        locked = page.wait_for("document.pointerLockElement === Module.canvas", timeout=10)
        check(bool(locked), "the first click takes the pointer")
        check(page.evaluate("document.getElementById('overlay').classList.contains('hidden')"),
              "and hides the overlay")
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
            free_run_shows_the_storm(url, folder)
            missing_data_is_said_in_words(build_web, folder)
    finally:
        server.shutdown()
        server.server_close()
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
