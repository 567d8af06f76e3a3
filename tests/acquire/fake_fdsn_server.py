#!/usr/bin/env python3
# Stand-in FDSN data centre that wget reaches as its proxy. Args: PORT_FILE LOG_FILE LIFETIME.
# Writes its port, logs each decoded request URL, stops after LIFETIME seconds. Station EMPTY
# gets an empty 204 reply, TINY 300 bytes, FAIL a 500 error, CUT 400 of 1000 announced bytes
# and then a closed connection; FLAKY answers 503, then 204, then the day file; any other
# station gets a 301-byte day file.
import http.server, pathlib, re, sys, threading, urllib.parse

PORT_FILE, LOG_FILE, LIFETIME = sys.argv[1:4]
DAY_FILE = (200, b"m" * 301)
REPLIES = {"EMPTY": [(204, b"")], "TINY": [(200, b"x" * 300)], "FAIL": [(500, b"")],
           "FLAKY": [(503, b"busy"), (204, b""), DAY_FILE]}
served = {}  # requests answered so far, per station


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.unquote(self.path)
        with open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(url + "\n")
        match = re.search(r"[?&]sta=([^&]*)", url)
        station = match.group(1) if match else ""
        count = served.get(station, 0)
        served[station] = count + 1
        if station == "CUT":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"c" * 400)
            self.close_connection = True
            return
        replies = REPLIES.get(station, [DAY_FILE])
        code, body = replies[min(count, len(replies) - 1)]
        self.send_response(code)
        if code != 204:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
threading.Timer(float(LIFETIME), server.shutdown).start()
pathlib.Path(PORT_FILE).write_text(str(server.server_address[1]))  # one write: seen whole
server.serve_forever()
