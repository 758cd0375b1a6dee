#!/usr/bin/env python3
"""Drive headless Chromium over the DevTools protocol to check the web build.

Used as a library by the web tests, and from the command line to load a page,
wait for it to come up, print what it logged and save a screenshot:

    python3 tests/web/browser.py URL [--screenshot out.png] [--wait-for EXPR]
                                     [--timeout S] [--size WxH]

The exit status is non-zero when the page threw, logged an error, or the wait
timed out, so a broken build cannot pass for a working one.

Only the Python standard library is used; Python has no WebSocket client, so a
minimal one (RFC 6455, client side) lives here.
"""

import argparse
import base64
import hashlib
import itertools
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import weakref
import zlib
from collections import namedtuple

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
DEFAULT_TIMEOUT = 30.0

# Flags for an unattended browser that can still run WebGL 2 without a GPU.
CHROMIUM_FLAGS = [
    # The new headless mode is the real browser without a window, so WebGL,
    # requestAnimationFrame and input behave as they would for a player.
    "--headless=new",
    # Chromium refuses to start as root with its sandbox, and the test
    # machines run as root. Pages served here are our own build.
    "--no-sandbox",
    # WebGL on SwiftShader (software, through ANGLE) whether or not the
    # machine has a GPU, so screenshots come out the same everywhere.
    "--use-angle=swiftshader",
    # Chromium is withdrawing software WebGL unless this is given; the
    # installed version still allows it without, a later one may not.
    "--enable-unsafe-swiftshader",
    # A fresh profile each run: no first-run pages, sync or update pings that
    # would slow start-up or reach the network.
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
]

ConsoleMessage = namedtuple("ConsoleMessage", "type text")


class BrowserError(Exception):
    """The browser could not do what was asked (start, navigate, answer)."""


class PageError(BrowserError):
    """Script run in the page threw."""


class BrowserTimeout(BrowserError, TimeoutError):
    """A step did not finish in time; the message says which."""


class _Deadline:
    def __init__(self, seconds, what):
        self.end = time.monotonic() + seconds
        self.seconds = seconds
        self.what = what

    def left(self):
        """Seconds left, raising once they have run out."""
        left = self.end - time.monotonic()
        if left <= 0:
            raise BrowserTimeout(f"{self.what}: no answer within {self.seconds:.1f} s")
        return left


# --- WebSocket client (RFC 6455), just what DevTools needs ---------------

class WebSocketClosed(BrowserError):
    pass


class WebSocket:
    """One client connection. Reads survive timeouts: a frame is consumed
    only once it has fully arrived, so a wait that ends mid-frame leaves
    the stream intact for the next read."""

    OP_CONT, OP_TEXT, OP_BINARY, OP_CLOSE, OP_PING, OP_PONG = 0, 1, 2, 8, 9, 10

    def __init__(self, sock, buffered=b""):
        self.sock = sock
        self._buf = buffered
        self._parts = []  # fragments of a message still arriving

    @classmethod
    def connect(cls, url, timeout):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme != "ws":
            raise BrowserError(f"only plain ws:// is supported, not {url}")
        deadline = _Deadline(timeout, f"WebSocket connect to {url}")
        sock = socket.create_connection((parts.hostname, parts.port or 80),
                                        timeout=deadline.left())
        ws = cls(sock)
        try:
            ws._handshake(parts, deadline)
        except BaseException:
            sock.close()
            raise
        return ws

    def _handshake(self, parts, deadline):
        key = base64.b64encode(os.urandom(16)).decode()
        path = parts.path + (f"?{parts.query}" if parts.query else "")
        request = (f"GET {path} HTTP/1.1\r\nHost: {parts.netloc}\r\n"
                   "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                   f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
        self.sock.sendall(request.encode())
        while b"\r\n\r\n" not in self._buf:
            self._fill(deadline)
        head, self._buf = self._buf.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        if not lines[0].startswith("HTTP/1.1 101"):
            raise BrowserError(f"WebSocket handshake refused: {lines[0]}")
        headers = {k.strip().lower(): v.strip()
                   for k, _, v in (line.partition(":") for line in lines[1:])}
        expect = base64.b64encode(hashlib.sha1(
            (key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()).decode()
        if headers.get("sec-websocket-accept") != expect:
            raise BrowserError("WebSocket handshake: wrong Sec-WebSocket-Accept")

    def _fill(self, deadline):
        while True:
            self.sock.settimeout(deadline.left())  # raises once time is up
            try:
                chunk = self.sock.recv(1 << 16)
                break
            except socket.timeout:
                continue
        if not chunk:
            raise WebSocketClosed("DevTools connection closed by the browser")
        self._buf += chunk

    def _need(self, n, deadline):
        while len(self._buf) < n:
            self._fill(deadline)

    def _send_frame(self, opcode, payload):
        # Clients must mask every frame; servers reject unmasked ones.
        head = bytes([0x80 | opcode])
        n = len(payload)
        if n < 126:
            head += bytes([0x80 | n])
        elif n < 1 << 16:
            head += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        self.sock.sendall(head + mask + _xor(payload, mask))

    def send_text(self, text):
        self._send_frame(self.OP_TEXT, text.encode())

    def _read_frame(self, deadline):
        self._need(2, deadline)
        b0, b1 = self._buf[0], self._buf[1]
        n, at = b1 & 0x7F, 2
        if n == 126:
            self._need(4, deadline)
            n, at = struct.unpack_from(">H", self._buf, 2)[0], 4
        elif n == 127:
            self._need(10, deadline)
            n, at = struct.unpack_from(">Q", self._buf, 2)[0], 10
        masked = b1 & 0x80
        end = at + (4 if masked else 0) + n
        self._need(end, deadline)
        frame, self._buf = self._buf[:end], self._buf[end:]
        payload = frame[end - n:]
        if masked:
            payload = _xor(payload, frame[at:at + 4])
        return bool(b0 & 0x80), b0 & 0x0F, payload

    def recv_text(self, deadline):
        """The next whole message, answering pings and joining fragments."""
        while True:
            fin, opcode, payload = self._read_frame(deadline)
            if opcode == self.OP_PING:
                self._send_frame(self.OP_PONG, payload)
            elif opcode == self.OP_CLOSE:
                self._close_reply(payload)
                raise WebSocketClosed("DevTools connection closed by the browser")
            elif opcode in (self.OP_TEXT, self.OP_BINARY, self.OP_CONT):
                if (opcode == self.OP_CONT) != bool(self._parts):
                    raise BrowserError("WebSocket: fragments out of order")
                self._parts.append(payload)
                if fin:
                    message, self._parts = b"".join(self._parts), []
                    return message.decode("utf-8")
            # Pongs and reserved opcodes carry nothing for us.

    def _close_reply(self, payload):
        try:
            self._send_frame(self.OP_CLOSE, payload[:2])
        except OSError:
            pass

    def close(self):
        try:
            self._send_frame(self.OP_CLOSE, struct.pack(">H", 1000))
        except OSError:
            pass
        self.sock.close()


def _xor(data, mask):
    # Whole-buffer XOR through big integers: fast enough for multi-megabyte
    # screenshots, where a per-byte Python loop is not.
    n = len(data)
    if not n:
        return data
    key = (mask * (n // 4 + 1))[:n]
    return (int.from_bytes(data, "big") ^ int.from_bytes(key, "big")).to_bytes(n, "big")


# --- Chromium process ----------------------------------------------------

def _stop_process(proc, profile):
    """Kill Chromium and everything it started, then drop its profile."""
    if proc.poll() is None:
        for sig, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
            try:
                os.killpg(proc.pid, sig)
            except ProcessLookupError:
                break
            try:
                proc.wait(wait)
                break
            except subprocess.TimeoutExpired:
                continue
    # Helpers of a terminated browser may outlive it for a moment.
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    proc.wait()
    shutil.rmtree(profile, ignore_errors=True)


class Browser:
    """A headless Chromium showing one page, driven over DevTools.

    Console messages, uncaught exceptions and browser-reported errors
    (failed loads, CSP violations, ...) are collected while any call waits.
    """

    def __init__(self, width=800, height=600, timeout=DEFAULT_TIMEOUT,
                 chromium=CHROMIUM, extra_flags=()):
        self.timeout = timeout
        self._console = []
        self._errors = []
        self._ids = itertools.count(1)
        self._lifecycle = []      # (loaderId, name) of page lifecycle events
        self._ws = None
        self._profile = tempfile.mkdtemp(prefix="storm-chromium-")
        self._log = open(os.path.join(self._profile, "chromium.log"), "wb")
        try:
            self._proc = subprocess.Popen(
                [chromium, *CHROMIUM_FLAGS, *extra_flags,
                 f"--window-size={width},{height}",
                 # Port 0 lets the browser pick a free one; it writes it to
                 # DevToolsActivePort in the profile.
                 "--remote-debugging-port=0", f"--user-data-dir={self._profile}",
                 "about:blank"],
                stdin=subprocess.DEVNULL, stdout=self._log, stderr=self._log,
                # The crash reporter and GTK write under the user's config and
                # cache folders whatever --user-data-dir says; keep them in the
                # temporary profile too, so a run leaves nothing behind.
                env={**os.environ, "XDG_CONFIG_HOME": self._profile,
                     "XDG_CACHE_HOME": self._profile},
                # Its own process group, so closing kills every helper too.
                start_new_session=True)
        except OSError as error:
            self._log.close()
            shutil.rmtree(self._profile, ignore_errors=True)
            raise BrowserError(f"cannot run {chromium}: {error}") from error
        # Clean up even if the caller forgets close() or the interpreter exits.
        self._finalizer = weakref.finalize(self, _stop_process, self._proc, self._profile)
        try:
            self._connect(width, height, _Deadline(timeout, "starting Chromium"))
        except BaseException:
            self.close()
            raise

    def _connect(self, width, height, deadline):
        port = self._devtools_port(deadline)
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list",
                                    timeout=deadline.left()) as reply:
            targets = json.load(reply)
        pages = [t for t in targets if t.get("type") == "page"]
        if not pages:
            raise BrowserError(f"Chromium shows no page target: {targets}")
        self._ws = WebSocket.connect(pages[0]["webSocketDebuggerUrl"], deadline.left())
        # The window's frame takes part of --window-size, even headless; the
        # page itself gets exactly the size asked for, at one pixel per CSS
        # pixel, so screenshots and click coordinates match.
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1,
                   "mobile": False}, timeout=deadline.left())
        for domain in ("Runtime", "Page", "Log"):
            self.call(f"{domain}.enable", timeout=deadline.left())
        # A headless window has no focus until something is clicked, so
        # document.hasFocus() is false and a page that pauses on blur would
        # start paused; act as the foreground window from the start.
        self.call("Emulation.setFocusEmulationEnabled", {"enabled": True},
                  timeout=deadline.left())
        # Lifecycle events carry the navigation's loader id, so a load event
        # left over from an earlier page cannot end the wait for a new one.
        self.call("Page.setLifecycleEventsEnabled", {"enabled": True},
                  timeout=deadline.left())

    def _devtools_port(self, deadline):
        path = os.path.join(self._profile, "DevToolsActivePort")
        while True:
            if self._proc.poll() is not None:
                raise BrowserError(f"Chromium exited with status {self._proc.returncode}"
                                   f" while starting:\n{self.chromium_log()}")
            try:
                with open(path) as f:
                    first = f.readline()
                if first.endswith("\n"):  # the file is written in one go, but be sure
                    return int(first)
            except FileNotFoundError:
                pass
            if deadline.end - time.monotonic() <= 0:
                raise BrowserTimeout(f"{deadline.what}: no DevTools port after "
                                     f"{deadline.seconds:g} s\n{self.chromium_log()}")
            time.sleep(0.05)

    def chromium_log(self, lines=20):
        """The tail of Chromium's own output, for diagnosing start failures."""
        try:
            with open(os.path.join(self._profile, "chromium.log"), "rb") as f:
                text = f.read().decode("utf-8", "replace")
        except OSError:
            return ""
        return "\n".join(text.splitlines()[-lines:])

    def close(self):
        if self._ws:
            self._ws.close()
            self._ws = None
        self._log.close()
        self._finalizer()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- protocol ---

    def call(self, method, params=None, timeout=None):
        """Send one DevTools command and return its result."""
        if not self._ws:
            raise BrowserError("the browser is closed")
        deadline = _Deadline(timeout or self.timeout, method)
        ident = next(self._ids)
        self._ws.send_text(json.dumps({"id": ident, "method": method,
                                       "params": params or {}}))
        while True:
            message = self._receive(deadline)
            if message.get("id") == ident:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})
            # Answers to commands that timed out earlier arrive late; drop them.

    def _send_nowait(self, method, params):
        """Send a command whose answer nobody needs; call() drops it later."""
        if self._ws:
            self._ws.send_text(json.dumps({"id": next(self._ids), "method": method,
                                           "params": params}))

    def _receive(self, deadline):
        message = json.loads(self._ws.recv_text(deadline))
        if "method" in message:
            self._on_event(message["method"], message.get("params", {}))
        return message

    def idle(self, seconds):
        """Let the page run for a while, collecting what it logs."""
        deadline = _Deadline(seconds, "waiting for events")
        try:
            while True:
                self._receive(deadline)
        except BrowserTimeout:
            pass

    def _on_event(self, method, params):
        if method == "Runtime.consoleAPICalled":
            text = " ".join(_remote_text(arg) for arg in params.get("args", []))
            self._console.append(ConsoleMessage(params.get("type", "log"), text))
        elif method == "Runtime.exceptionThrown":
            self._errors.append(_exception_text(params.get("exceptionDetails", {})))
        elif method == "Log.entryAdded":
            entry = params.get("entry", {})
            # The browser asks every site for /favicon.ico on its own; its
            # absence says nothing about the page.
            favicon = entry.get("url", "").endswith("/favicon.ico")
            if entry.get("level") == "error" and not favicon:
                where = f" ({entry['url']})" if entry.get("url") else ""
                self._errors.append(f"{entry.get('source', 'browser')}: "
                                    f"{entry.get('text', '')}{where}")
        elif method == "Page.lifecycleEvent":
            self._lifecycle.append((params.get("loaderId"), params.get("name")))
        elif method == "Inspector.detached":
            raise BrowserError(f"DevTools detached: {params.get('reason')}")
        elif method == "Inspector.targetCrashed":
            raise BrowserError("the page crashed")

    @property
    def console(self):
        """Console messages so far, as (type, text) pairs."""
        return list(self._console)

    @property
    def errors(self):
        """Uncaught exceptions and errors the browser reported, as text."""
        return list(self._errors)

    # --- page actions ---

    def goto(self, url, timeout=None):
        """Open url and wait until it has loaded (the window load event)."""
        deadline = _Deadline(timeout or self.timeout, f"loading {url}")
        self._lifecycle.clear()
        result = self.call("Page.navigate", {"url": url}, timeout=deadline.left())
        if result.get("errorText"):
            raise BrowserError(f"loading {url}: {result['errorText']}")
        loader = result.get("loaderId")
        if loader is None:  # same-document navigation (only the #fragment changed)
            return
        while (loader, "load") not in self._lifecycle:
            self._receive(deadline)

    def evaluate(self, expression, timeout=None):
        """Value of a JavaScript expression in the page, promises awaited.

        Values come back as JSON would carry them; an object with no JSON
        form (window, a cyclic graph) comes back as its description.
        """
        deadline = _Deadline(timeout or self.timeout, f"evaluating {expression}")
        return self._evaluate(expression, deadline)[1]

    def _evaluate(self, expression, deadline):
        """(truthy in JavaScript's sense, value) of expression."""
        group = "evaluate"
        try:
            result = self.call("Runtime.evaluate",
                               {"expression": expression, "awaitPromise": True,
                                "objectGroup": group}, timeout=deadline.left())
            if "exceptionDetails" in result:
                raise PageError(_exception_text(result["exceptionDetails"]))
            obj = result["result"]
            if "objectId" not in obj:
                return _truthy(obj), _remote_value(obj)
            # Fetched by value in a second step, so an object that cannot be
            # serialised is still an answer rather than a protocol error.
            try:
                copy = self.call("Runtime.callFunctionOn",
                                 {"functionDeclaration": "function () { return this; }",
                                  "objectId": obj["objectId"], "returnByValue": True},
                                 timeout=deadline.left())
                return _truthy(obj), _remote_value(copy["result"])
            except BrowserTimeout:
                raise
            except BrowserError:
                return _truthy(obj), obj.get("description")
        finally:
            # Handles to page objects would otherwise pile up while polling.
            try:
                self._send_nowait("Runtime.releaseObjectGroup", {"objectGroup": group})
            except OSError:
                pass  # the browser is gone; the error on the way out says so

    def wait_for(self, expression, timeout=None, poll=0.1):
        """Poll until expression is truthy (in JavaScript's sense); return it.

        An expression that throws counts as not yet true (the module it reads
        may not exist yet); the last such error is reported on timeout.
        """
        timeout = timeout or self.timeout
        deadline = _Deadline(timeout, f"waiting for {expression}")
        last_error = None
        while True:
            try:
                truthy, value = self._evaluate(expression, deadline)
                if truthy:
                    return value
            except PageError as error:
                last_error = error
            except BrowserTimeout:
                pass  # the evaluation itself used up the time: reported below
            if deadline.end - time.monotonic() <= poll:
                break
            self.idle(poll)
        summary = f"{expression!r} was not true within {timeout:g} s"
        if last_error:
            summary += f"\nlast evaluation threw: {last_error}"
        error = BrowserTimeout(self._wait_report(summary))
        error.summary = summary  # without the log, for callers that print it anyway
        raise error

    def _wait_report(self, summary):
        lines = [summary]
        # The latest messages are the ones that tell why the page got stuck.
        lines += [f"console.{m.type}: {m.text}" for m in self._console[-30:]]
        lines += [f"error: {e}" for e in self._errors]
        return "\n".join(lines)

    def screenshot(self, path, timeout=None):
        """Save what the page shows as a PNG file; returns the path."""
        result = self.call("Page.captureScreenshot", {"format": "png"}, timeout=timeout)
        with open(path, "wb") as f:
            f.write(base64.b64decode(result["data"]))
        return path

    def click(self, x, y, button="left", timeout=None):
        """A real mouse click at page coordinates.

        Input events made this way count as user gestures, which browsers
        require before starting audio or locking the pointer.
        """
        common = {"x": x, "y": y, "button": button}
        self.call("Input.dispatchMouseEvent", {"type": "mouseMoved", "x": x, "y": y},
                  timeout=timeout)
        self.call("Input.dispatchMouseEvent",
                  {"type": "mousePressed", "clickCount": 1, **common}, timeout=timeout)
        self.call("Input.dispatchMouseEvent",
                  {"type": "mouseReleased", "clickCount": 1, **common}, timeout=timeout)

    def key_down(self, key, timeout=None):
        """Press and hold a key, named as KeyboardEvent.key does ('w', 'Enter')."""
        event = _key_event(key)
        # Printable keys need text, or the page sees no keypress/input.
        kind = "keyDown" if "text" in event else "rawKeyDown"
        self.call("Input.dispatchKeyEvent", {"type": kind, **event}, timeout=timeout)

    def key_up(self, key, timeout=None):
        event = _key_event(key)
        event.pop("text", None)
        self.call("Input.dispatchKeyEvent", {"type": "keyUp", **event}, timeout=timeout)

    def key(self, key, timeout=None):
        """Press and release a key: a user gesture, like click()."""
        self.key_down(key, timeout)
        self.key_up(key, timeout)


# Keys without a printable character: DOM code and Windows virtual key code.
_NAMED_KEYS = {
    "Enter": ("Enter", 13), "Escape": ("Escape", 27), "Tab": ("Tab", 9),
    "Backspace": ("Backspace", 8), "Delete": ("Delete", 46),
    "ArrowLeft": ("ArrowLeft", 37), "ArrowUp": ("ArrowUp", 38),
    "ArrowRight": ("ArrowRight", 39), "ArrowDown": ("ArrowDown", 40),
    "Shift": ("ShiftLeft", 16), "Control": ("ControlLeft", 17),
    "Alt": ("AltLeft", 18), "Home": ("Home", 36), "End": ("End", 35),
    "PageUp": ("PageUp", 33), "PageDown": ("PageDown", 34),
    **{f"F{n}": (f"F{n}", 111 + n) for n in range(1, 13)},
}


def _key_event(key):
    if key in _NAMED_KEYS:
        code, vk = _NAMED_KEYS[key]
        event = {"key": key, "code": code, "windowsVirtualKeyCode": vk}
        if key == "Enter":
            event["text"] = "\r"
        return event
    if key in (" ", "Space"):
        return {"key": " ", "code": "Space", "windowsVirtualKeyCode": 32, "text": " "}
    if len(key) == 1 and key.isascii() and key.isalnum():
        code = f"Key{key.upper()}" if key.isalpha() else f"Digit{key}"
        return {"key": key, "code": code, "windowsVirtualKeyCode": ord(key.upper()),
                "text": key}
    raise ValueError(f"unknown key name {key!r}")


def _truthy(obj):
    """Whether a RemoteObject is true in JavaScript ([] and {} are)."""
    kind = obj.get("type")
    if kind == "undefined" or obj.get("subtype") == "null":
        return False
    if kind in ("boolean", "number", "string"):
        return "unserializableValue" not in obj and bool(obj.get("value")) \
            or obj.get("unserializableValue") in ("Infinity", "-Infinity")
    if kind == "bigint":
        return obj.get("unserializableValue") != "0n"
    return True


def _remote_value(obj):
    """A DevTools RemoteObject as a Python value."""
    if "value" in obj:
        return obj["value"]
    special = obj.get("unserializableValue")
    if special is None:
        return None  # undefined, or an object that has no JSON form
    if special.endswith("n"):  # BigInt
        return int(special[:-1])
    return float(special)  # NaN, Infinity, -Infinity, -0


def _remote_text(obj):
    """How the console would show one logged argument."""
    if obj.get("type") == "string":
        return obj.get("value", "")
    if "value" in obj:
        return json.dumps(obj["value"])
    return obj.get("unserializableValue") or obj.get("description") or obj.get("type", "")


def _exception_text(details):
    exception = details.get("exception") or {}
    text = exception.get("description") or details.get("text", "exception")
    if details.get("url"):
        text += f" ({details['url']}:{details.get('lineNumber', 0) + 1})"
    return text


# --- PNG reading, for checking screenshots without extra packages ---------

class Png:
    """An 8-bit RGB or RGBA, non-interlaced PNG, decoded into rows of bytes."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            raise ValueError(f"{path}: not a PNG file")
        pos, idat = 8, []
        while pos < len(data):
            length, kind = struct.unpack(">I4s", data[pos:pos + 8])
            body = data[pos + 8:pos + 8 + length]
            if kind == b"IHDR":
                (self.width, self.height, depth, color, _, _,
                 interlace) = struct.unpack(">IIBBBBB", body)
                if depth != 8 or color not in (2, 6) or interlace:
                    raise ValueError(f"{path}: only 8-bit RGB/RGBA, non-interlaced")
                self.channels = 3 if color == 2 else 4
            elif kind == b"IDAT":
                idat.append(body)
            elif kind == b"IEND":
                break
            pos += 12 + length
        self.rows = _unfilter(zlib.decompress(b"".join(idat)),
                              self.width * self.channels, self.height, self.channels)

    def pixel(self, x, y):
        """(r, g, b, a) at x, y; alpha is 255 for RGB images."""
        at = x * self.channels
        px = tuple(self.rows[y][at:at + self.channels])
        return px if self.channels == 4 else px + (255,)


def _unfilter(raw, stride, height, bpp):
    rows, prev, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + pred) & 0xFF
            elif kind != 0:
                raise ValueError(f"bad PNG filter type {kind}")
        rows.append(line)
        prev = line
    return rows


# --- command line --------------------------------------------------------

def _size(text):
    try:
        width, height = (int(n) for n in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError(f"size must be WxH, not {text!r}")
    if width <= 0 or height <= 0:
        raise argparse.ArgumentTypeError(f"size must be positive, not {text!r}")
    return width, height


def main(argv=None):
    parser = argparse.ArgumentParser(description="Load a page in headless Chromium "
                                     "and report what it logged.")
    parser.add_argument("url")
    parser.add_argument("--screenshot", metavar="PNG")
    parser.add_argument("--wait-for", metavar="EXPR",
                        help="JavaScript expression to wait to become true")
    parser.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT, metavar="S")
    parser.add_argument("--size", type=_size, default=(800, 600), metavar="WxH")
    args = parser.parse_args(argv)

    failed = []
    try:
        with Browser(*args.size, timeout=args.timeout) as browser:
            try:
                browser.goto(args.url)
                if args.wait_for:
                    value = browser.wait_for(args.wait_for)
                    print(f"{args.wait_for} -> {json.dumps(value)}")
                else:
                    browser.idle(0.5)  # let start-up scripts log
            except BrowserError as error:
                failed.append(getattr(error, "summary", str(error)))
            for message in browser.console:
                print(f"console.{message.type}: {message.text}")
            if args.screenshot:
                try:
                    print(f"screenshot: {browser.screenshot(args.screenshot)}")
                except BrowserError as error:
                    failed.append(f"screenshot: {error}")
            failed += [f"console.{m.type}: {m.text}" for m in browser.console
                       if m.type in ("error", "assert")]
            failed += browser.errors
    except BrowserError as error:
        failed.append(str(error))
    for problem in failed:
        print(f"FAIL: {problem}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
