#!/usr/bin/env python3
"""The page's address options that bench/web_bench.py relies on.

    python3 tests/web/page_options_test.py BUILD_WEB

- `?threads=N` runs the threaded program on N threads where the page is
  cross-origin isolated, held to the workers it is built with; `?threads=1`
  runs the single-threaded one; a page that is not isolated runs that one
  whatever it asks for;
- `?bench` ends the flight with the program's --bench line in the console,
  naming the renderer, the size and the frames asked for.
"""

import functools
import http.server
import os
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402
import serve  # noqa: E402
from checks import check, summary  # noqa: E402

def program_of(page, url):
    """(threads, the program's script) the page runs for url, once it shows
    frames (and has stopped downloading)."""
    page.goto(url)
    page.wait_for("Module.framesShown > 0", timeout=60)
    return tuple(page.evaluate("[threads, program.src.split('/').pop()]"))


def threads_as_asked(url):
    with browser.Browser(320, 200, timeout=60) as page:
        for query, expected in (("threads=3", (3, "storm-mt.js")),
                                ("threads=2", (2, "storm-mt.js")),
                                ("threads=64", (4, "storm-mt.js")),
                                ("threads=1", (1, "storm.js"))):
            got = program_of(page, url + "storm.html?renderer=soft&size=320x200&" + query)
            check(got == expected, f"isolated, ?{query}: {got}, expected {expected}")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        pass


def not_isolated_runs_one_thread(folder):
    """A plain server (no isolation headers): no shared memory, one thread."""
    handler = functools.partial(QuietHandler, directory=os.path.abspath(folder))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        with browser.Browser(320, 200, timeout=60) as page:
            got = program_of(page, serve.url_of(server) + "storm.html?renderer=soft&threads=2")
            check(got == (1, "storm.js"), f"not isolated, ?threads=2: {got}")
    finally:
        server.shutdown()
        server.server_close()


def bench_line_in_console(url):
    with browser.Browser(320, 200, timeout=60) as page:
        page.goto(url + "storm.html?renderer=soft&size=320x200&seed=6&replay&frames=20"
                  "&threads=2&bench")
        code = page.wait_for("window.stormEnded !== undefined ? String(window.stormEnded) : ''",
                             timeout=120)
        lines = [m.text for m in page.console if m.text.startswith("bench:")]
        check(code == "0", f"the benched flight ends cleanly (exit {code})")
        # Twenty frames are shorter than the warm-up second: all are counted.
        check(len(lines) == 1 and lines[0].startswith("bench: renderer soft, 320x200, 20 frames,"),
              f"one --bench line for the run: {lines}")
        problems = page.errors + [m.text for m in page.console if m.type == "error"]
        check(not problems, f"no console errors: {problems}")


def main():
    build_web = sys.argv[1]
    server, url = serve.start(build_web)
    try:
        threads_as_asked(url)
        bench_line_in_console(url)
    finally:
        server.shutdown()
        server.server_close()
    not_isolated_runs_one_thread(build_web)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
