#!/usr/bin/env python3
"""The program's sound through a real sound server, and over its loss.

Starts a private PulseAudio with one null sink, "speakers", runs the program
on it (SDL's offscreen video: a window nobody sees, but the program's real
audio path) and records what reaches the sink from its monitor. The rain must
be heard; then the sink is unloaded for three seconds and a new one loaded,
and then the server itself is killed and started again: each time the
program must keep running, say once that the sound was lost and once that it
is back, and the rain must be heard on the new sink.

usage: device_loss.py STORM DATA_DIR WORKDIR
"""
import array
import math
import os
import shutil
import signal
import subprocess
import sys
import time

RATE = 48000
HEARD_DBFS = -40.0  # the rain plays at about -24 dBFS
LOST = "sound: the audio device was lost; retrying"
BACK = "sound: audio device back"


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


class Server:
    """A PulseAudio of our own under WORKDIR: its socket, no autospawn, no
    other client's server."""

    def __init__(self, workdir):
        self.runtime = os.path.join(workdir, "run")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        home = os.path.join(workdir, "home")
        os.makedirs(home, exist_ok=True)
        client_conf = os.path.join(workdir, "client.conf")
        with open(client_conf, "w") as f:
            f.write("autospawn = no\n")
        self.env = dict(os.environ)
        self.env.update({
            "XDG_RUNTIME_DIR": self.runtime,
            "HOME": home,
            "PULSE_SERVER": "unix:" + os.path.join(self.runtime, "pulse", "native"),
            "PULSE_CLIENTCONFIG": client_conf,
        })
        for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(name, None)
        self.log = open(os.path.join(workdir, "pulseaudio.log"), "a")
        self.process = None

    def start(self):
        # As root (CI) pulseaudio only warns that it is meant for a user.
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
             "--system=false", "--use-pid-file=no", "--log-target=stderr",
             "--load=module-native-protocol-unix",
             "--load=module-null-sink sink_name=speakers"],
            env=self.env, stdout=self.log, stderr=self.log)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                fail("pulseaudio exited at start (see pulseaudio.log)")
            if self.pactl("list", "short", "sinks", check=False).find("speakers") >= 0:
                return
            time.sleep(0.1)
        fail("pulseaudio did not come up within 10 s")

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process = None

    def pactl(self, *args, check=True):
        result = subprocess.run(["pactl", *args], env=self.env, capture_output=True,
                                text=True, timeout=10)
        if check and result.returncode != 0:
            fail("pactl %s: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def sink_module(self):
        for line in self.pactl("list", "short", "modules").splitlines():
            fields = line.split("\t")
            if len(fields) > 2 and fields[1] == "module-null-sink":
                return fields[0]
        fail("no null sink is loaded")

    def record(self, seconds):
        """What the speakers play for `seconds`: (RMS dBFS, the quietest
        quarter second's RMS dBFS, peak dBFS, samples at full scale)."""
        parec = subprocess.Popen(
            ["parec", "-d", "speakers.monitor", "--raw", "--format=s16le",
             "--rate=%d" % RATE, "--channels=2", "--latency-msec=50"],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        data = bytearray()
        os.set_blocking(parec.stdout.fileno(), False)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            chunk = parec.stdout.read()
            if chunk:
                data += chunk
            time.sleep(0.05)
        parec.terminate()
        rest = parec.stdout.read()
        if rest:
            data += rest
        parec.wait()
        samples = array.array("h")
        samples.frombytes(bytes(data[:len(data) - len(data) % 4]))
        if sys.byteorder != "little":
            samples.byteswap()
        if not samples:
            return (-200.0, -200.0, -200.0, 0)
        rms = math.sqrt(sum(s * s for s in samples) / len(samples)) / 32768.0
        window = RATE // 2  # a quarter second of stereo samples
        quietest = min(
            math.sqrt(sum(s * s for s in samples[at:at + window]) / window) / 32768.0
            for at in range(0, max(len(samples) - window, 0) + 1, window))
        peak = max(abs(s) for s in samples) / 32768.0
        clipped = sum(1 for s in samples if s >= 32767 or s <= -32768)
        return (to_db(rms), to_db(quietest), to_db(peak), clipped)


def to_db(amplitude):
    return 20 * math.log10(amplitude) if amplitude > 0 else -200.0


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    storm, data_dir, workdir = (os.path.abspath(a) for a in sys.argv[1:])
    missing = [tool for tool in ("pulseaudio", "pactl", "parec") if not shutil.which(tool)]
    if missing:
        fail("%s not installed: run scripts/install-deps.sh test "
             "(packages pulseaudio, pulseaudio-utils)" % ", ".join(missing))
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    started = time.monotonic()

    server = Server(workdir)
    server.start()
    env = dict(server.env, SDL_VIDEODRIVER="offscreen", SDL_AUDIODRIVER="pulseaudio")
    stderr_path = os.path.join(workdir, "storm.stderr")
    stdout_path = os.path.join(workdir, "storm.stdout")
    # Unpaced: the offscreen window has no refresh to wait for, so the
    # frame rate (printed by --bench at the end) is whatever one core gives.
    with open(stderr_path, "w") as err, open(stdout_path, "w") as out:
        program = subprocess.Popen(
            [storm, "-w", "--renderer", "soft", "--threads", "1", "--seed", "1", "--bench",
             "--data", data_dir],
            cwd=workdir, env=env, stdout=out, stderr=err)
    levels = []
    try:
        def listen(when):
            if program.poll() is not None:
                fail("the program ended (exit code %d) %s" % (program.returncode, when))
            rms, quietest, peak, clipped = server.record(3.0)
            levels.append((when, rms, peak, clipped))
            print("%-27s %6.1f dBFS RMS, quietest 1/4 s %6.1f, peak %5.1f dBFS, "
                  "%d samples at full scale" % (when, rms, quietest, peak, clipped), flush=True)
            if rms < HEARD_DBFS:
                fail("the rain is not heard %s (%.1f dBFS)" % (when, rms))

        time.sleep(2.0)
        listen("at the start")

        server.pactl("unload-module", server.sink_module())
        time.sleep(3.0)
        if program.poll() is not None:
            fail("the program ended without a sink")
        server.pactl("load-module", "module-null-sink", "sink_name=speakers")
        time.sleep(1.5)  # the program tries again every half second
        listen("on a new sink")

        server.kill()
        time.sleep(2.0)
        if program.poll() is not None:
            fail("the program ended without a sound server")
        server.start()
        time.sleep(1.5)
        listen("after the server restarted")
    finally:
        if program.poll() is None:
            program.send_signal(signal.SIGTERM)  # SDL turns it into a quit
            try:
                program.wait(timeout=15)
            except subprocess.TimeoutExpired:
                program.kill()
                program.wait()
                print("the program did not quit on SIGTERM", flush=True)
        server.kill()

    with open(stdout_path) as f:
        for line in f:
            if line.startswith("bench:"):
                print("program " + line.strip(), flush=True)
    if program.returncode != 0:
        fail("the program exited with %d" % program.returncode)
    # Each loss and each return is told exactly once, in the log and on stderr.
    with open(os.path.join(workdir, "debug.log")) as f:
        log = f.read()
    with open(stderr_path) as f:
        err = f.read()
    for where, text in (("debug.log", log), ("stderr", err)):
        lost, back = text.count(LOST), text.count(BACK)
        if (lost, back) != (2, 2):
            fail("%s tells of %d losses and %d returns, not 2 and 2:\n%s" % (where, lost, back, text))
    for when, rms, peak, clipped in levels:
        if clipped > 8:
            fail("%d samples at full scale %s" % (clipped, when))
    print("passed in %.1f s" % (time.monotonic() - started), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
