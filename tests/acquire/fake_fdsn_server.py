#!/usr/bin/env python3
# Stand-in FDSN data centre that wget reaches as its proxy. Args: PORT_FILE LOG_FILE LIFETIME
# DAY_FILE. Writes its port, logs each decoded request URL, stops after LIFETIME seconds. Any
# station gets DAY_FILE (a miniSEED day file), except: EMPTY an empty 204 reply, TINY 300 bytes,
# NODATA a 404 (as services answer with nodata=404), FAIL a 500 error, FLAKY 503, then 204, then the day file; NOTSEED 1000 bytes that are not
# miniSEED; answers cut off 100 bytes before the day file's end, the connection then closed:
# CUT (fewer bytes than its Content-Length), CHUNKED (chunked, without the last chunk) and CLOSE
# (no length: the end of the connection ends it); WHOLECHUNKED the whole day file, chunked.
import http.server, pathlib, re, sys, threading, urllib.parse

PORT_FILE, LOG_FILE, LIFETIME, DAY_PATH = sys.argv[1:5]
DAY = pathlib.Path(DAY_PATH).read_bytes()
REPLIES = {"EMPTY": [(204, b"")], "TINY": [(200, b"x" * 300)], "FAIL": [(500, b"")],
           "NODATA": [(404, b"")],
           "FLAKY": [(503, b"busy"), (204, b""), (200, DAY)], "NOTSEED": [(200, b"m" * 1000)]}
served = {}  # requests answered so far, per station


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # for chunked answers; every connection still ends after one

    def chunked(self, body, last_chunk):
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for start in range(0, len(body), 1000):
            piece = body[start:start + 1000]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        if last_chunk:
            self.wfile.write(b"0\r\n\r\n")

    def do_GET(self):
        url = urllib.parse.unquote(self.path)
        with open(LOG_FILE, "a", encoding="utf-8") as log:
            log.write(url + "\n")
        match = re.search(r"[?&]sta=([^&]*)", url)
        station = match.group(1) if match else ""
        count = served.get(station, 0)
        served[station] = count + 1
        self.close_connection = True
        if station in ("CUT", "CHUNKED", "CLOSE", "WHOLECHUNKED"):
            self.send_response(200)
            self.send_header("Connection", "close")
            cut = DAY[:-100]
            if station == "CUT":
                self.send_header("Content-Length", str(len(DAY)))
                self.end_headers()
                self.wfile.write(cut)
            elif station == "CLOSE":
                self.end_headers()
                self.wfile.write(cut)
            else:
                self.chunked(DAY if station == "WHOLECHUNKED" else cut, station == "WHOLECHUNKED")
            return
        replies = REPLIES.get(station, [(200, DAY)])
        code, body = replies[min(count, len(replies) - 1)]
        self.send_response(code)
        self.send_header("Connection", "close")
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
