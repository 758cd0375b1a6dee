#!/usr/bin/env python3
"""The browser page's sound in headless Chromium, against the native mixer.

    python3 tests/web/web_audio_test.py BUILD_WEB BUILD [--wav OUT.wav]

BUILD is the native build: its data.pak and tests/storm_replay_mix.

- in Chromium the page plays through an AudioWorklet (a page on 127.0.0.1 is
  a secure context), and through a ScriptProcessorNode where the browser
  offers none; either way nothing is mixed while the context is suspended,
  which it stays until a click;
- after a click, what the worklet plays (recorded from its node's output) is
  what the page mixed, in order, with nothing in between but silence where
  the processor ran dry, and the mix keeps at most its queue ahead; the
  ScriptProcessorNode plays nothing that was not mixed (Chromium's plays a
  block again, or drops one, when the page is late with it);
- the committed flight replayed in the page and paused at two frames holds
  the mix the native program holds there (storm_replay_mix), bit for bit:
  the page's mix is read through the same storm_web_audio_fill the page's
  audio path calls, in the threaded program and in the one on the page's
  thread;
- the worklet's processor, fed blocks by hand, plays them in order across
  its render quanta, says how much it played, and plays silence (not what
  its output held) once it runs dry.

With --wav the threaded page's mix is also written as 16-bit stereo.
"""

import argparse
import base64
import os
import struct
import subprocess
import sys
import tempfile
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402
import serve  # noqa: E402
from checks import check, page_errors, summary  # noqa: E402

FLIGHT = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "flight.rec")
# (frame, seconds of mix read there): early in the rain, and later, with the
# thunder the flight has brought by then.
STOPS = ((100, 1.0), (300, 6.0))
# Pauses the page's main loop once the frames shown reach each stop; the
# program draws one frame per iteration of it.
PAUSE_AT_STOPS = """(() => {
  const stops = %s;
  window.mixPausedAt = 0;
  Module.postMainLoop = () => {
    const shown = Module.framesShown | 0;
    if (stops.includes(shown) && window.mixPausedAt != shown) {
      Module.pauseMainLoop();
      window.mixPausedAt = shown;
    }
  };
  return Module.framesShown | 0;
})()"""

# The next `frames` frames of the page's mix, base64 float32, drained in
# blocks of 1024 as storm_replay_mix does.
READ_MIX = """(() => {
  const frames = %d, block = Module._malloc(1024 * 8);
  const out = new Float32Array(frames * 2);
  for (let done = 0; done < frames; done += 1024) {
    const count = Math.min(1024, frames - done);
    Module._storm_web_audio_fill(block, count);
    out.set(HEAPF32.subarray(block >> 2, (block >> 2) + count * 2), done * 2);
  }
  Module._free(block);
  const bytes = new Uint8Array(out.buffer);
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000)
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
})()"""

AUDIO_STATE = """(() => {
  const a = Module.stormAudio;
  return a && {kind: a.kind, ready: a.ready, failed: a.failed, state: a.context.state,
               mixed: a.mixed, rate: a.rate, target: a.target};
})()"""


def wait_for_audio(page):
    page.wait_for("Module.stormAudio && Module.stormAudio.ready", timeout=60)
    return page.evaluate(AUDIO_STATE)


def page_mix(url, variant):
    """The rate the page's audio runs at and its mix at the stops."""
    with browser.Browser(800, 600, timeout=60) as page:
        page.goto(url + "storm.html?size=320x200&seed=6&replay&renderer=soft" + variant)
        shown = page.evaluate(PAUSE_AT_STOPS % [frame for frame, _ in STOPS])
        check(shown < STOPS[0][0], f"the page is stopped before frame {STOPS[0][0]} ({shown})")
        audio = wait_for_audio(page)
        name = variant or "threaded"
        check(audio["kind"] == "worklet" and not audio["failed"],
              f"the page ({name}) plays through an AudioWorklet: {audio}")
        mixed = []
        for frame, seconds in STOPS:
            page.wait_for(f"window.mixPausedAt == {frame}", timeout=120)
            audio = page.evaluate(AUDIO_STATE)
            check(audio["state"] == "suspended" and audio["mixed"] == 0,
                  f"nothing is mixed while the context is suspended (frame {frame}): {audio}")
            frames = int(seconds * audio["rate"])
            mixed.append(base64.b64decode(page.evaluate(READ_MIX % frames, timeout=60)))
            page.evaluate("Module.resumeMainLoop()")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")
        return audio["rate"], b"".join(mixed)


def native_mix(build, rate, folder):
    out = os.path.join(folder, f"native-{rate}.f32")
    stops = [f"{frame}:{int(seconds * rate)}" for frame, seconds in STOPS]
    subprocess.run([os.path.join(build, "tests", "storm_replay_mix"), str(rate), out, *stops,
                    "--", "--headless", "--renderer", "soft", "-x", "320", "-y", "200",
                    "--seed", "6", "--replay", os.path.abspath(FLIGHT), "--data", build],
                   cwd=folder, check=True, stdout=subprocess.DEVNULL, timeout=300)
    with open(out, "rb") as f:
        return f.read()


def floats(data):
    return struct.unpack(f"<{len(data) // 4}f", data)


# The mixer computes alike in every build (its limiter's curve included, with
# a tanh of its own): the page's mix must be the native one to the last bit.
TOLERANCE = 0.0


def compare(page, native, name):
    if len(page) != len(native):
        check(False, f"the page's mix ({name}) has {len(page) // 8} frames, "
                     f"the native one {len(native) // 8}")
        return
    a, b = floats(page), floats(native)
    differ = [abs(x - y) for x, y in zip(a, b) if x != y]
    largest = max(differ, default=0.0)
    steps = sum(1 for x, y in zip(a, b) if round(x * 32767) != round(y * 32767))
    check(largest <= TOLERANCE,
          f"the page's mix ({name}) is the native one: {len(a) - len(differ)} of {len(a)} "
          f"samples bit for bit, the rest within {largest * 32768:.4f} of a 16-bit step "
          f"({steps} differ once made 16-bit)")


def write_wav(path, data, rate):
    samples = [max(-32768, min(32767, round(x * 32767))) for x in floats(data)]
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(struct.pack(f"<{len(samples)}h", *samples))


# The processor's source run with stand-ins for the worklet's globals, fed
# blocks of 100 and 300 frames (left i, right -i) and played quantum by
# quantum into outputs that start out holding NaN.
PROCESSOR_BY_HAND = """(() => {
  let Processor = null;
  const reports = [];
  class Base { constructor() { this.port = {postMessage: (m) => reports.push(m)}; } }
  new Function('AudioWorkletProcessor', 'registerProcessor', Module.stormAudio.processorSource)(
      Base, (name, type) => { Processor = type; });
  const p = new Processor({processorOptions: {report: 256}});
  const quantum = () => {
    const left = new Float32Array(128).fill(NaN), right = new Float32Array(128).fill(NaN);
    p.process([], [[left, right]]);
    return [Array.from(left), Array.from(right)];
  };
  const block = (from, frames) => {
    const b = new Float32Array(frames * 2);
    for (let i = 0; i < frames; ++i) { b[2 * i] = from + i; b[2 * i + 1] = -(from + i); }
    return b;
  };
  const before = quantum();
  const reportsBefore = reports.length;
  p.port.onmessage({data: block(1, 100)});
  p.port.onmessage({data: block(101, 300)});
  const played = [quantum(), quantum(), quantum(), quantum()];
  return {before: before, reportsBefore: reportsBefore, played: played, reports: reports};
})()"""


def processor_by_hand(page):
    result = page.evaluate(PROCESSOR_BY_HAND)
    before = result["before"]
    check(before[0] == [0] * 128 and before[1] == [0] * 128 and result["reportsBefore"] == 0,
          "a processor not fed yet plays silence and reports nothing")
    left = sum((q[0] for q in result["played"]), [])
    right = sum((q[1] for q in result["played"]), [])
    expected = list(range(1, 401)) + [0] * 112
    check(left == expected and right == [-x if x else 0 for x in expected],
          "the processor plays its blocks in order across render quanta, then silence")
    reports = result["reports"]
    check(sum(r["played"] for r in reports) == 400 and sum(r["starved"] for r in reports) == 1
          and reports[0] == {"played": 256, "starved": 0},
          f"it reports what it played and the quantum it ran dry in: {reports}")


# Records every block the page mixes (storm_web_audio_fill is looked up on
# Module at each call; a first call of nothing makes the loader put the
# function itself there) and, through a recording worklet of the test's own
# connected to the page's node, what that node puts out.
RECORD = """(() => {
  const audio = Module.stormAudio, Node = window.testAudioWorkletNode || AudioWorkletNode;
  window.mixedBlocks = [];
  window.heardBlocks = [];
  Module._storm_web_audio_fill(0, 0);
  const fill = Module._storm_web_audio_fill;
  Module._storm_web_audio_fill = (block, frames) => {
    fill(block, frames);
    window.mixedBlocks.push(HEAPF32.slice(block >> 2, (block >> 2) + frames * 2));
  };
  const source = "registerProcessor('storm-test-recorder', class extends AudioWorkletProcessor {" +
    " process(inputs) { const i = inputs[0];" +
    " this.port.postMessage(i.length == 2 ? [i[0].slice(), i[1].slice()]" +
    " : [new Float32Array(128), new Float32Array(128)]); return true; } });";
  const url = URL.createObjectURL(new Blob([source], {type: 'text/javascript'}));
  return audio.context.audioWorklet.addModule(url).then(() => {
    const recorder = new Node(audio.context, 'storm-test-recorder',
                              {numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [1]});
    recorder.port.onmessage = (event) => window.heardBlocks.push(event.data);
    audio.node.connect(recorder);
    recorder.connect(audio.context.destination);
    return true;
  });
})()"""

# Walks what was heard along what was mixed: each frame heard should be the
# next one mixed, or silence (before the first, or where the processor ran
# dry). Counted apart: frames heard again (`repeated`, the walk goes back),
# frames never heard (`skipped`, it goes forward) and the first frame heard
# that was never mixed at all (`wrong`).
HEARD_AGAINST_MIXED = """(() => {
  const mixed = [], heard = window.heardBlocks.slice(), where = new Map();
  for (const b of window.mixedBlocks) for (const x of b) mixed.push(x);
  const frames = mixed.length / 2;
  for (let k = frames - 1; k >= 0; --k) where.set(mixed[2 * k] + ',' + mixed[2 * k + 1], k);
  let next = 0, count = 0, lead = 0, gaps = 0, skipped = 0, repeated = 0, wrong = -1;
  for (const [left, right] of heard) {
    for (let i = 0; i < left.length; ++i, ++count) {
      const l = left[i], r = right[i];
      if (next < frames && l == mixed[2 * next] && r == mixed[2 * next + 1]) {
        ++next;
      } else if (l == 0 && r == 0) {
        next ? ++gaps : ++lead;
      } else if (where.has(l + ',' + r)) {
        let k = where.get(l + ',' + r);
        while (k < next && k + 1 < frames &&
               !(l == mixed[2 * (k + 1)] && r == mixed[2 * (k + 1) + 1]))
          ++k;
        if (k >= next) {
          skipped += k - next;
        } else {
          ++repeated;
        }
        next = k + 1;
      } else if (wrong < 0) {
        wrong = count;
      }
    }
  }
  const a = Module.stormAudio;
  return {heard: count, mixed: frames, matched: next, lead: lead, gaps: gaps, skipped: skipped,
          repeated: repeated, wrong: wrong, queued: a.queued, target: a.target, most: a.most,
          starved: a.starved, kind: a.kind, state: a.context.state};
})()"""


def live(url, hide_worklet):
    """A click starts the context; what the page's node plays is its mix."""
    with browser.Browser(800, 600, timeout=60) as page:
        if hide_worklet:
            # The test's recorder keeps the constructor the page no longer sees.
            page.call("Page.addScriptToEvaluateOnNewDocument", {"source":
                      "window.testAudioWorkletNode = AudioWorkletNode;"
                      " window.AudioWorkletNode = undefined;"})
        page.goto(url + "storm.html?size=320x200&seed=6&renderer=soft")
        audio = wait_for_audio(page)
        said = " ".join(text for _, text in page.console if text.startswith("storm: sound"))
        if hide_worklet:
            check(audio["kind"] == "script-processor" and "ScriptProcessorNode" in said,
                  f"without AudioWorklet the page plays through a ScriptProcessorNode: {said!r}")
        else:
            check(audio["kind"] == "worklet" and "through an AudioWorklet" in said,
                  f"the page says it plays through an AudioWorklet: {said!r}")
            processor_by_hand(page)
        page.evaluate(RECORD)
        page.click(400, 300)
        rate = audio["rate"]
        page.wait_for(f"Module.stormAudio.played >= {2 * rate}", timeout=60)
        result = page.evaluate(HEARD_AGAINST_MIXED, timeout=60)
        name = result["kind"]
        check(result["state"] == "running" and result["wrong"] < 0 and result["matched"] >= rate,
              f"{name}: nothing is heard that was not mixed: {result}")
        # Chromium's ScriptProcessorNode plays a block again, or drops one,
        # when the page is late with it; the processor never does either.
        if name == "worklet":
            check(not (result["skipped"] or result["repeated"]),
                  f"{name}: what is heard is what was mixed, in order, with silence where the "
                  f"processor ran dry ({result['gaps']} frames)")
            ahead = result["mixed"] - result["matched"]
            check(result["queued"] <= result["most"] and ahead <= result["most"] + rate // 10,
                  f"{name}: the mix runs at most its queue ahead of what is heard "
                  f"({ahead} frames, {1000 * ahead / rate:.0f} ms)")
        check(not page_errors(page), f"no console errors: {page_errors(page)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_web")
    parser.add_argument("build")
    parser.add_argument("--wav", help="write the threaded page's mix here")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    server, url = serve.start(args.build_web)
    try:
        with tempfile.TemporaryDirectory() as folder:
            native = {}
            for variant in ("", "&threads=1"):
                rate, mixed = page_mix(url, variant)
                if rate not in native:
                    native[rate] = native_mix(build, rate, folder)
                compare(mixed, native[rate], variant or "threaded")
                if args.wav and not variant:
                    write_wav(args.wav, mixed, rate)
            live(url, hide_worklet=False)
            live(url, hide_worklet=True)
    finally:
        server.shutdown()
        server.server_close()
    return summary()


if __name__ == "__main__":
    sys.exit(main())
