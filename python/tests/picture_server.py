"""A small picture server on 127.0.0.1 for the hosts' tests: red.png, green.png and blue.png,
made here. Bounded: it stops by itself after a number of requests or seconds."""
import http.server
import struct
import threading
import zlib


def png(rgb, size=8):
    """A size x size PNG of one colour."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + bytes(rgb) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


PICTURES = {
    "/red.png": png((255, 0, 0)),
    "/green.png": png((0, 160, 0)),
    "/blue.png": png((0, 0, 255)),
}


class PictureServer:
    """Serves PICTURES until stop(), max_requests or max_seconds, whichever comes first."""

    def __init__(self, max_requests=100, max_seconds=120):
        self.requests = 0
        self.max_requests = max_requests
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                outer.requests += 1
                body = PICTURES.get(self.path.split("?")[0])
                if body is None:
                    self.send_error(404)
                else:
                    self.send_response(200)
                    self.send_header("Content-Type", "image/png")
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                if outer.requests >= outer.max_requests:
                    threading.Thread(target=outer.stop, daemon=True).start()

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.timer = threading.Timer(max_seconds, self.stop)
        self.timer.daemon = True
        self._stopped = False

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.httpd.server_address[1]

    def start(self):
        self.thread.start()
        self.timer.start()
        return self

    def stop(self):
        if self._stopped:
            return
        self._stopped = True
        self.timer.cancel()
        self.httpd.shutdown()
        self.httpd.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
