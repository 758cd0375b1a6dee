#!/usr/bin/env python3
"""Serve a folder of the web build on 127.0.0.1, cross-origin isolated.

    python3 tests/web/serve.py DIR [--port N]

The build uses threads, which need SharedArrayBuffer, which browsers only
grant to cross-origin isolated pages; so every response carries the
isolation headers, and the files carry the MIME types the loader expects
(WebAssembly streaming compilation refuses anything but application/wasm).
"""

import argparse
import functools
import http.server
import os
import sys
import threading

ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
    "Cross-Origin-Resource-Policy": "same-origin",
}

MIME_TYPES = {
    ".wasm": "application/wasm",
    ".js": "text/javascript",
    ".mjs": "text/javascript",
    ".html": "text/html; charset=utf-8",
    ".data": "application/octet-stream",
    ".json": "application/json",
    ".png": "image/png",
}


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, **MIME_TYPES}

    def __init__(self, *args, quiet=False, **kwargs):
        self.quiet = quiet  # the base class answers the request in __init__
        super().__init__(*args, **kwargs)

    def end_headers(self):
        for name, value in ISOLATION_HEADERS.items():
            self.send_header(name, value)
        # A rebuilt page must never be answered from the browser's cache.
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, format, *args):
        if not self.quiet:
            super().log_message(format, *args)


def make_server(directory, port=0, quiet=False):
    """An HTTP server for directory on 127.0.0.1 (port 0: any free port)."""
    if not os.path.isdir(directory):
        raise FileNotFoundError(f"no such folder: {directory}")
    handler = functools.partial(Handler, directory=os.path.abspath(directory),
                                quiet=quiet)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    # Request threads must not keep a finished test alive.
    server.daemon_threads = True
    return server


def url_of(server):
    host, port = server.server_address[:2]
    return f"http://{host}:{port}/"


def start(directory, port=0):
    """Serve directory from a background thread; returns (server, url).

    Stop it with server.shutdown() and server.server_close().
    """
    server = make_server(directory, port, quiet=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, url_of(server)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Serve a folder cross-origin isolated.")
    parser.add_argument("dir")
    parser.add_argument("--port", type=int, default=8000, help="0 picks a free port")
    args = parser.parse_args(argv)
    try:
        server = make_server(args.dir, args.port)
    except (OSError, FileNotFoundError) as error:
        print(f"serve.py: {error}", file=sys.stderr)
        return 1
    print(f"serving {args.dir} at {url_of(server)}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
