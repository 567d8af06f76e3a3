#!/usr/bin/env python3
# Stand-in FDSN data centre that wget reaches as its proxy. Args: PORT_FILE LOG_FILE LIFETIME.
# Writes its port, logs each decoded request URL, stops after LIFETIME seconds. Station EMPTY
# gets an empty 204 reply, TINY 300 bytes, FAIL a 500 error, any other a 301-byte day file.
import http.server, pathlib, re, sys, threading, urllib.parse

PORT_FILE, LOG_FILE, LIFETIME = sys.argv[1:4]
REPLIES = {"EMPTY": (204, b""), "TINY": (200, b"x" * 300), "FAIL": (500, b"")}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.unquote(self.path)
        with open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(url + "\n")
        station = re.search(r"[?&]sta=([^&]*)", url)
        code, body = REPLIES.get(station and station.group(1), (200, b"m" * 301))
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
