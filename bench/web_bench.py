#!/usr/bin/env python3
"""The browser build's frame rate beside the native program's.

    python3 bench/web_bench.py [--runs 5] [--sizes 640x480,1280x720]
                               [--frames N] [--gles-frames N] [--paced]
                               [--gpu-compositing]
                               [--only NAME,...] [--json FILE]
                               [--from-json FILE]
                               [--build build] [--web build-web]

Needs `make web` (build/ with storm and data.pak, build-web/ with both
programs). Flies the committed flight (seed 6, so every run draws the same
frames) in headless Chromium with:
  - WebGL 2 (`?renderer=gles`): SwiftShader here, so a software figure;
  - the WebAssembly software renderer (`?renderer=soft`) on one thread (the
    single-threaded program) and on two (the threaded one, cross-origin
    isolated through tests/web/serve.py);
and natively with `storm --headless --renderer soft --threads N` at the best
instruction set the processor has and held to SSE2 (STORM_SIMD=sse2), on the
same frames. Each figure is the program's own --bench line (frames over the
summed frame times, the first second left out), so both sides are measured
alike; configurations alternate within each run, and the table shows medians
of the runs and the ratio WebAssembly / native at equal threads.

Pacing: the program's frames run in requestAnimationFrame callbacks, which
headless Chromium paces at 60 Hz at most (and Chromium's
--disable-frame-rate-limit / --disable-gpu-vsync do not lift that in
headless mode). Under that pacing the --bench line stops being a frame rate
on two threads: the renderer's workers draw a frame while the program makes
the next, so they draw in the idle gap between callbacks and the program's
own frame time leaves their work out (a frame that takes 20 ms to draw
reads as 7 ms). So by default this script, in its own browser only, stands
in for requestAnimationFrame with a message the page posts to itself (what
emscripten's "set immediate" timing does): each frame starts as soon as the
page's thread is free, as natively under --bench. The product's pacing is
untouched; --paced measures with it instead.
Besides the --bench line, "wall fps" counts frames between the callbacks'
start times (again without the first second): what a player would see,
including the browser's own work between frames (compositing the canvas).
For WebGL 2 the --bench line times handing the commands over to the GPU
process, not SwiftShader's drawing; unpaced, the command buffer's flow
control makes the two agree, paced the wall figure is the one that counts.
Compositing: headless Chromium composites the page on the GPU process, which
here is SwiftShader on the processor: showing a software frame 100 times a
second took most of a core of the two, and the renderer's second thread
found none left (640 x 480, two threads: 130 fps with it, 180 without). So the
software renderer's runs start Chromium with --disable-gpu-compositing (a
plain software compositor, a few percent of a core), as a machine with a
GPU would not spend the processor on it; native runs show nothing at all.
WebGL 2 keeps the GPU process, which draws it. --gpu-compositing measures
the software renderer with it too.
The warm-up second is the program's rule: a faster configuration leaves out
more frames; with hundreds of frames counted the difference is small.

A run of everything at the defaults takes 11 minutes on two quiet cores (half
an hour when other work shares them: --json keeps every run's figures);
WebGL 2 on SwiftShader flies a shorter part of the flight (--gles-frames),
as it draws a few frames a second.
"""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))
import browser  # noqa: E402
import serve  # noqa: E402

FLIGHT = os.path.join(ROOT, "bench", "flight.rec")
SEED = 6
BENCH_LINE = re.compile(r"^bench: renderer (\S+), (\d+)x(\d+), (\d+) frames, "
                        r"[\d.]+ s, ([\d.]+) fps, p50 ([\d.]+) ms, p99 ([\d.]+) ms")
# Records when each animation frame starts; the program's main loop runs in
# them. Installed before the page's own scripts, so the runtime picks up the
# wrapped function.
RAF_PROBE = """
(() => {
  const times = [];
  window.benchFrameTimes = times;
  const raf = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) =>
      raf((t) => { times.push(performance.now()); callback(t); });
})();
"""

# The same, but the next frame starts as soon as the page's thread is free,
# through a message to itself (as emscripten's own "set immediate" timing
# does): no display clock between frames.
IMMEDIATE_PROBE = """
(() => {
  const times = [], waiting = [], channel = new MessageChannel();
  window.benchFrameTimes = times;
  channel.port1.onmessage = () => {
    const callback = waiting.shift();
    times.push(performance.now());
    callback(performance.now());
  };
  window.requestAnimationFrame = (callback) => {
    waiting.push(callback);
    channel.port2.postMessage(0);
    return waiting.length;
  };
})();
"""

# Configurations in the order they run within a round: native and browser
# alternate. (name, where, renderer, threads, instruction set)
CONFIGS = [
    ("native soft 1t", "native", "soft", 1, "best"),
    ("wasm soft 1t", "browser", "soft", 1, None),
    ("native sse2 1t", "native", "soft", 1, "sse2"),
    ("webgl2 (swiftshader)", "browser", "gles", None, None),
    ("native soft 2t", "native", "soft", 2, "best"),
    ("wasm soft 2t", "browser", "soft", 2, None),
    ("native sse2 2t", "native", "soft", 2, "sse2"),
]


class Measure:
    def __init__(self, fps, p99, wall=None, interval=None, ran=""):
        self.fps, self.p99, self.wall, self.interval, self.ran = fps, p99, wall, interval, ran


def parse_bench(text):
    for line in text.splitlines():
        found = BENCH_LINE.match(line.strip())
        if found:
            return found
    return None


def run_native(storm, size, threads, simd, frames):
    env = {**os.environ, "SDL_VIDEODRIVER": "offscreen", "SDL_AUDIODRIVER": "dummy"}
    env.pop("STORM_SIMD", None)
    if simd != "best":
        env["STORM_SIMD"] = simd
    command = [storm, "--headless", "--renderer", "soft", "--threads", str(threads),
               "-x", str(size[0]), "-y", str(size[1]), "--replay", FLIGHT,
               "--seed", str(SEED), "--frames", str(frames), "--bench"]
    result = subprocess.run(command, cwd=os.path.dirname(storm), env=env,
                            capture_output=True, text=True, timeout=900)
    found = parse_bench(result.stdout)
    if result.returncode != 0 or not found:
        raise RuntimeError(f"{' '.join(command)} failed ({result.returncode}):\n"
                           f"{result.stdout}{result.stderr}")
    return Measure(float(found[5]), float(found[7]), ran=found[1])


def wall_rate(times, warmup_ms=1000.0):
    """Frames a second between animation frames, and the median interval."""
    counted = [t for t in times if t - times[0] >= warmup_ms] if times else []
    if len(counted) < 2:
        counted = times
    if len(counted) < 2:
        return 0.0, 0.0
    gaps = [b - a for a, b in zip(counted, counted[1:])]
    return (len(counted) - 1) * 1000.0 / (counted[-1] - counted[0]), statistics.median(gaps)


def run_browser(url, size, renderer, threads, frames, paced, flags=()):
    query = f"storm.html?renderer={renderer}&size={size[0]}x{size[1]}&seed={SEED}" \
            f"&replay&frames={frames}&bench"
    if threads:
        query += f"&threads={threads}"
    with browser.Browser(size[0], size[1], timeout=60, extra_flags=flags) as page:
        page.call("Page.addScriptToEvaluateOnNewDocument", {"source": RAF_PROBE if paced else IMMEDIATE_PROBE})
        page.goto(url + query)
        code = page.wait_for("window.stormEnded !== undefined ? String(window.stormEnded) : ''",
                             timeout=1200)
        ran_threads, ran_renderer, times = page.evaluate(
            "[threads, window.stormRenderer, window.benchFrameTimes]")
        problems = page.errors + [m.text for m in page.console if m.type == "error"]
        text = "\n".join(m.text for m in page.console)
    found = parse_bench(text)
    if code != "0" or not found or problems:
        raise RuntimeError(f"{query}: exit {code}, {problems}\n{text[-2000:]}")
    if threads and ran_threads != threads:
        raise RuntimeError(f"{query}: the page ran {ran_threads} threads, not {threads}")
    if found[1] != renderer or ran_renderer != renderer:
        raise RuntimeError(f"{query}: ran {found[1]} / {ran_renderer}, not {renderer}")
    wall, interval = wall_rate(times or [])
    return Measure(float(found[5]), float(found[7]), wall, interval, found[1])


def native_best():
    """The instruction set the native program picks here (it does not say)."""
    try:
        with open("/proc/cpuinfo") as f:
            flags = set(next((l for l in f if l.startswith("flags")), "").split())
    except OSError:
        return "?"
    if {"avx512f", "avx512bw", "avx512dq", "avx512vl"} <= flags:
        return "avx512"
    return "avx2" if "avx2" in flags else "sse2"


def browser_details():
    """Chromium's version and what draws its WebGL."""
    with browser.Browser(320, 200) as page:
        version = page.call("Browser.getVersion").get("product", "?")
        page.goto("about:blank")
        gl = page.evaluate(
            "(() => { const gl = document.createElement('canvas').getContext('webgl2');"
            " if (!gl) return 'no WebGL 2';"
            " const info = gl.getExtension('WEBGL_debug_renderer_info');"
            " return info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL)"
            " : gl.getParameter(gl.RENDERER); })()")
        cores = page.evaluate("navigator.hardwareConcurrency")
        # The animation-frame rate of a page that does nothing else.
        rate = page.evaluate(
            "new Promise((done) => { let n = 0; const t0 = performance.now();"
            " const step = () => { if (performance.now() - t0 < 2000) {"
            " ++n; requestAnimationFrame(step); }"
            " else done(n * 1000 / (performance.now() - t0)); };"
            " requestAnimationFrame(step); })")
    return (f"{version}, WebGL 2 on {gl}, {cores} cores; an empty page's "
            f"requestAnimationFrame: {rate:.1f} Hz")


def size_arg(text):
    width, height = (int(n) for n in text.lower().split("x"))
    return width, height


def median(values):
    return statistics.median(values) if values else None


def print_table(sizes, results, runs):
    print()
    print(f"{'size':<9} {'configuration':<22} {'fps (med)':>9} {'p99 ms':>7} "
          f"{'wall fps':>8} {'gap ms':>6}   per run (fps)")
    for size in sizes:
        for name, *_ in CONFIGS:
            got = results.get((size, name), [])
            if not got:
                continue
            wall = median([m.wall for m in got if m.wall is not None])
            interval = median([m.interval for m in got if m.interval is not None])
            print(f"{f'{size[0]}x{size[1]}':<9} {name:<22} {median([m.fps for m in got]):9.1f} "
                  f"{median([m.p99 for m in got]):7.2f} "
                  f"{'' if wall is None else f'{wall:.1f}':>8} "
                  f"{'' if interval is None else f'{interval:.2f}':>6}   "
                  + " ".join(f"{m.fps:.1f}" for m in got))
    print()
    # Both ratios: of the medians, and the median of each run's own ratio
    # (neighbours in time share the machine's load, which matters here).
    print("wasm / native at equal threads (native best set and SSE2):")
    for size in sizes:
        for threads in (1, 2):
            wasm = [m.fps for m in results.get((size, f"wasm soft {threads}t"), [])]
            for native, label in (("native soft", "best"), ("native sse2", "sse2")):
                other = [m.fps for m in results.get((size, f"{native} {threads}t"), [])]
                if not wasm or not other:
                    continue
                paired = median([w / o for w, o in zip(wasm, other)])
                print(f"  {f'{size[0]}x{size[1]}':<8} {threads} thread{'s' if threads > 1 else ' '}: "
                      f"wasm / {label} = {median(wasm) / median(other):.2f} of medians "
                      f"({median(wasm):.1f} / {median(other):.1f} fps), "
                      f"{paired:.2f} median of runs")
    print(f"({runs} runs each; fps is the --bench line's; wall fps and gap ms are "
          "frames between the browser's frame callbacks)")


def load_results(path):
    with open(path) as f:
        rows = json.load(f)
    results = {}
    for row in rows:
        results[(size_arg(row["size"]), row["config"])] = [Measure(**m) for m in row["runs"]]
    sizes = list(dict.fromkeys(size for size, _ in results))
    return sizes, results, max(len(m) for m in results.values())


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sizes", default="640x480,1280x720",
                        help="comma-separated WxH list")
    parser.add_argument("--frames", type=int, default=600,
                        help="frames of the flight flown each run (the flight has 1800)")
    parser.add_argument("--gles-frames", type=int, default=150,
                        help="frames flown by WebGL 2 (slow on SwiftShader)")
    parser.add_argument("--paced", action="store_true",
                        help="keep the browser's requestAnimationFrame pacing")
    parser.add_argument("--gpu-compositing", action="store_true",
                        help="let the software renderer's pages composite on the GPU "
                             "process (SwiftShader) too")
    parser.add_argument("--only", default="",
                        help="comma-separated substrings: run only configurations "
                             "whose name holds one (e.g. 'wasm,native soft')")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--web", default=os.path.join(ROOT, "build-web"))
    parser.add_argument("--json", metavar="FILE", help="also write every run's figures")
    parser.add_argument("--from-json", metavar="FILE",
                        help="print the table of an earlier run's --json file, run nothing")
    args = parser.parse_args(argv)
    if args.from_json:
        print_table(*load_results(args.from_json))
        return 0

    sizes = [size_arg(s) for s in args.sizes.split(",")]
    storm = os.path.abspath(os.path.join(args.build, "storm"))
    for needed in (storm, os.path.join(args.web, "storm.html"),
                   os.path.join(args.web, "storm-mt.js")):
        if not os.path.exists(needed):
            print(f"web_bench: {needed} is missing: run `make web` first", file=sys.stderr)
            return 2
    configs = [c for c in CONFIGS
               if not args.only or any(part in c[0] for part in args.only.split(","))]
    print(f"{browser_details()}; native best set: {native_best()}; "
          f"load average at start {os.getloadavg()[0]:.1f}", flush=True)
    flags = [] if args.gpu_compositing else ["--disable-gpu-compositing"]
    server, url = serve.start(args.web)
    results, started = {}, time.monotonic()
    try:
        for run in range(1, args.runs + 1):
            for size in sizes:
                for name, where, renderer, threads, simd in configs:
                    if where == "native":
                        got = run_native(storm, size, threads, simd, args.frames)
                    else:
                        frames = args.gles_frames if renderer == "gles" else args.frames
                        got = run_browser(url, size, renderer, threads, frames, args.paced,
                                          flags if renderer == "soft" else ())
                    results.setdefault((size, name), []).append(got)
                    wall = "" if got.wall is None else \
                        f", wall {got.wall:.1f} fps, a frame every {got.interval:.2f} ms"
                    print(f"run {run}, {size[0]}x{size[1]}, {name}: {got.fps:.1f} fps, "
                          f"p99 {got.p99:.2f} ms{wall} [{time.monotonic() - started:.0f} s]",
                          file=sys.stderr, flush=True)
    finally:
        server.shutdown()
        server.server_close()
    print(f"flight {os.path.relpath(FLIGHT, ROOT)}, seed {SEED}, {args.frames} frames "
          f"({args.gles_frames} for WebGL 2); browser frames "
          f"{'paced by requestAnimationFrame' if args.paced else 'back to back (unpaced)'}, "
          f"soft composited {'on the GPU process' if args.gpu_compositing else 'in software'}; "
          f"load average at the end {os.getloadavg()[0]:.1f}")
    print_table(sizes, results, args.runs)
    if args.json:
        with open(args.json, "w") as f:
            json.dump([{"size": f"{s[0]}x{s[1]}", "config": n, "runs": [vars(m) for m in ms]}
                       for (s, n), ms in results.items()], f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
