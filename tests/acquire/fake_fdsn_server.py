#!/usr/bin/env python3
"""A stand-in for an FDSN dataselect service, reached by wget as its HTTP proxy.

Usage: fake_fdsn_server.py BASE_URL DAY_FILE PORT_FILE LOG_FILE [LIFETIME_SECONDS]

Listens on a free port of 127.0.0.1 and writes the port number to PORT_FILE. Every request
line's URL is appended to LOG_FILE with the verdict of the checks below. A request must ask for
BASE_URL + "fdsnws/dataselect/1/query" with exactly the parameters net, sta, loc, cha,
starttime and endtime, in this order, covering one whole UTC day (the end time carries one trailing blank). The answer depends on the
station code: one beginning with "EMPTY" gets an empty 204 reply, "TINY" 300 bytes, "FAIL" a
500 error, any other the bytes of DAY_FILE. A malformed request gets 400. The server stops by
itself after LIFETIME_SECONDS (default 60).
"""
import http.server
import os
import re
import sys
import threading
import urllib.parse

BASE_URL, DAY_FILE, PORT_FILE, LOG_FILE = sys.argv[1:5]
LIFETIME = float(sys.argv[5]) if len(sys.argv) > 5 else 60.0
KEYS = ["net", "sta", "loc", "cha", "starttime", "endtime"]


def check(url):
    """Returns (problem or None, station code)."""
    if not url.startswith(BASE_URL):
        return "wrong base address", ""
    rest = url[len(BASE_URL):]
    path, _, query = rest.partition("?")
    if path != "fdsnws/dataselect/1/query":
        return "wrong path " + path, ""
    pairs = [p.partition("=") for p in query.split("&")]
    keys = [k for k, _, _ in pairs]
    if keys != KEYS:
        return "wrong parameters " + ",".join(keys), ""
    values = {k: urllib.parse.unquote(v) for k, _, v in pairs}
    day = re.fullmatch(r"(\d{4}-\d{2}-\d{2})T00:00:00", values["starttime"])
    if not day:
        return "wrong start time", values["sta"]
    if values["endtime"] != day.group(1) + "T23:59:59.999 ":
        return "wrong end time", values["sta"]
    return None, values["sta"]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        problem, station = check(self.path)
        with open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(f"{self.path}\t{problem or 'ok'}\n")
        if problem:
            self.reply(400, b"")
        elif station.startswith("EMPTY"):
            self.reply(204, None)
        elif station.startswith("TINY"):
            self.reply(200, b"x" * 300)
        elif station.startswith("FAIL"):
            self.reply(500, b"")
        else:
            with open(DAY_FILE, "rb") as day:
                self.reply(200, day.read())

    def reply(self, code, body):
        self.send_response(code)
        if body is not None:
            self.send_header("Content-Type", "application/vnd.fdsn.mseed")
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body:
            self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
threading.Timer(LIFETIME, server.shutdown).start()
with open(PORT_FILE + ".tmp", "w") as port:
    port.write(str(server.server_address[1]))
os.replace(PORT_FILE + ".tmp", PORT_FILE)
server.serve_forever()
