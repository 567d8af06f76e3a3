#!/usr/bin/env python3
# Stand-in FDSN data centre reached as wget's proxy. Args: PORT_FILE LOG_FILE LIFETIME DAY_FILE.
# Logs each decoded request; any station gets DAY_FILE except EMPTY (204), TINY (300 bytes),
# NODATA (404), FAIL (500), NOTSEED (not miniSEED), CUT/CHUNKED/CLOSE (100 bytes short: below its
# Content-Length, without the last chunk, without a length) and WHOLECHUNKED (all of it, chunked).
import http.server, pathlib, re, sys, threading, urllib.parse

PORT_FILE, LOG_FILE, LIFETIME, DAY_PATH = sys.argv[1:5]
DAY = pathlib.Path(DAY_PATH).read_bytes()
REPLIES = {"EMPTY": (204, b""), "TINY": (200, b"x" * 300), "NODATA": (404, b""),
           "FAIL": (500, b""), "NOTSEED": (200, b"m" * 1000)}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # for chunked answers; every connection still ends after one

    def do_GET(self):
        url = urllib.parse.unquote(self.path)
        with open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(url + "\n")
        station = (re.findall(r"[?&]sta=([^&]*)", url) or [""])[0]
        cut = station in ("CUT", "CHUNKED", "CLOSE")
        code, body = REPLIES.get(station, (200, DAY[:-100] if cut else DAY))
        self.close_connection = True
        self.send_response(code)
        self.send_header("Connection", "close")
        if station.endswith("CHUNKED"):
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for start in range(0, len(body), 1000):
                piece = body[start:start + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            if not cut:
                self.wfile.write(b"0\r\n\r\n")
            return
        if code != 204 and station != "CLOSE":
            self.send_header("Content-Length", str(len(DAY) if cut else len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
threading.Timer(float(LIFETIME), server.shutdown).start()
pathlib.Path(PORT_FILE).write_text(str(server.server_address[1]))  # one write: seen whole
server.serve_forever()
