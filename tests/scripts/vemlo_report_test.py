# vemlo-report on small results directories: the catalogue, the pictures, refused input.

import csv, datetime, math, os, pathlib, random, struct, subprocess, tempfile, unittest

REPORT = os.environ["VEMLO_REPORT"]
PNG = b"\x89PNG\r\n\x1a\n"
HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA = os.path.join(HERE, "..", "data", "quakeml", "QuakeML-1.2.rng")
EXAMPLE = os.path.join(HERE, "..", "..", "examples", "example.txt")
CHANNELS = ("detection_epoch_s,network,station,location,channel,cc,lag_s,pick_time_utc,"
            "amplitude_ratio\n")


def run(*args, cwd=None):
    return subprocess.run([REPORT, *args], capture_output=True, text=True, timeout=120, cwd=cwd)


def read_csv(directory, name):
    with open(os.path.join(directory, name), newline="") as f:
        return list(csv.reader(f))


def rows(*lines):  # expected CSV rows written as lines
    return [line.split(",") for line in lines]


def write_mseed(path, codes, start, rate, counts):  # 512-byte records of 32-bit integers
    net, sta, loc, cha = [code.encode() for code in codes]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for number, first in enumerate(range(0, len(counts), 112)):  # 448 bytes of data each
            chunk = counts[first:first + 112]
            t = datetime.datetime.fromtimestamp(start + first / rate, datetime.timezone.utc)
            f.write(struct.pack(
                ">6scc5s2s3s2sHHBBBBHHhhBBBBiHH", b"%06d" % (number + 1), b"D", b" ",
                sta.ljust(5), loc.ljust(2), cha.ljust(3), net.ljust(2), t.year,
                t.timetuple().tm_yday, t.hour, t.minute, t.second, 0, t.microsecond // 100,
                len(chunk), rate, 1, 0, 0, 0, 1, 0, 64, 48))
            f.write(struct.pack(">HHBBBB", 1000, 0, 3, 1, 9, 0) + bytes(8))
            f.write(struct.pack(">%di" % len(chunk), *chunk).ljust(512 - 64, b"\0"))


def assert_pngs(test, directory, names):
    for name in names:
        with open(os.path.join(os.fsencode(directory), os.fsencode(name)), "rb") as f:
            test.assertEqual(f.read(8), PNG, name)


def make_dir(files):
    directory = tempfile.TemporaryDirectory()
    for name, text in files.items():
        with open(os.path.join(os.fsencode(directory.name), os.fsencode(name)), "wb") as f:
            f.write(text if isinstance(text, bytes) else text.encode())
    return directory


class Report(unittest.TestCase):
    def test_catalogue_and_pictures(self):
        # Out of time order; day 101 of 2024 is 2024-04-10; an event without detections.
        with make_dir({"quake_b.txt": "1712751132.121 0.68900996 0.04246030 3\n"
                                      "1712632520.000 0.99999648 0.04240876 2\n",
                       "quake_a.txt": "0.999 0.50000000 0.10000000 1\n", "quiet.txt": ""}) as d:
            result = run(d, "--mad-multiple", "9")
            self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)
            # Results without channels files (an older vemlo): one line for each such event.
            self.assertEqual(result.stderr.count("channels.csv"), 3)
            self.assertEqual(read_csv(d, "detections.csv"), rows(
                "event,time_utc,epoch_s,mean_cc,mad,templates,threshold,delta_magnitude",
                "quake_a,1970-01-01T00:00:00.999Z,0.999,0.50000000,0.10000000,1,0.90000000,",
                "quake_b,2024-04-09T03:15:20.000Z,1712632520.000,0.99999648,0.04240876,2,"
                "0.38167884,", "quake_b,2024-04-10T12:12:12.121Z,1712751132.121,0.68900996,"
                "0.04246030,3,0.38214270,"))
            assert_pngs(self, d, ["quake_a.png", "quake_b.png", "quiet.png", "overview.png"])
            self.assertEqual(len(os.listdir(d)), 9)  # and detections.xml; no temporaries
            self.assertEqual(run(d).returncode, 0)  # no MAD multiple: no threshold column
            self.assertEqual(read_csv(d, "detections.csv")[0][5:], ["templates", "delta_magnitude"])

    def test_names_that_are_not_utf8_or_hold_math_signs(self):
        # vemlo writes a name from a Latin-1 control file as it is; '$' would start math text.
        line = b"1712632520.000 0.99999648 0.04240876 3\n"
        with make_dir({"cost$^$x.txt": line, "a_$\\alpha$.txt": line, b"caf\xe9.txt": line}) as d:
            result = run(d)
            self.assertEqual((result.returncode, "Traceback" in result.stderr), (0, False),
                             result.stderr)
            names = pathlib.Path(d, "detections.csv").read_bytes().splitlines()[1:]
            self.assertEqual([row.split(b",")[0] for row in names],
                             [b"a_$\\alpha$", b"caf\xe9", b"cost$^$x"])
            assert_pngs(self, d, [b"caf\xe9.png", b"cost$^$x.png", b"a_$\\alpha$.png",
                                  b"overview.png"])

    def test_passes_over_what_is_known_not_to_be_results_and_takes_the_runs_mad_multiple(self):
        control = pathlib.Path(EXAMPLE).read_text()
        with make_dir({
                "quake.txt": "1712632520.000 0.99999648 0.04240876 2\n",
                "vemlo-run.txt": "vemlo run record\nvemlo version: 0.2\ncontrol file: /x/c.txt\n"
                                 "scan period: 2024-04-09 (2024 100) to 2024-04-09 (2024 100), 1 "
                                 "day(s)\nMAD multiple: 8.5\ncontrol file text follows (10 "
                                 "bytes):\nMAD multiple: 1\n",
                "example.txt": control, "crlf copy.txt": control.replace("\n", "\r\n"),
                "detections.csv": "old catalogue\n", "stations.channels.csv": "net,sta\n",
                "earthquakes.csv": "x\n", "detections.xml": "<x/>\n"}) as d:
            result = run(d)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual([r[::6] for r in read_csv(d, "detections.csv")[1:]],
                             [["quake", "%.8f" % (8.5 * 0.04240876)]])
            self.assertEqual(sorted(n for n in os.listdir(d) if n.endswith(".png")),
                             ["overview.png", "quake.png"])  # no vemlo-run.png, example.png
            self.assertEqual(run(d, "--mad-multiple", "2").returncode, 0)  # the option wins
            self.assertEqual(read_csv(d, "detections.csv")[1][6], "%.8f" % (2 * 0.04240876))
            # A control file that lost a settings line is no control file, and no results file.
            pathlib.Path(d, "example.txt").write_text(control.replace("\n8\n", "\neight\n", 1))
            result = run(d)
            self.assertEqual(result.returncode, 1)
            self.assertIn(os.path.join(d, "example.txt"), result.stderr)
        with make_dir({"quake.txt": "", "vemlo-run.txt": "MAD multiple: -1\n"}) as d:
            self.assertIn("vemlo-run.txt: the MAD multiple '-1' is not a positive number",
                          run(d).stderr)

    def test_refuses_what_is_not_a_results_directory(self):
        good = "1712632520.000 0.99999648 0.04240876 3\n"
        for text in ["Writing results to file...done.\n", good.replace(" 3", " 3 3"),
                     good.replace(".000", ".00"), good.replace(" 3", " 0"),
                     good.replace("0.99999648", "7.00000000"), b"\x89PNG\r\n\x1a\n\x00\xff"]:
            with self.subTest(text), make_dir({"a.txt": good, "notes.txt": text}) as d:
                result = run(d)
                self.assertEqual(result.returncode, 1)
                self.assertIn(os.path.join(d, "notes.txt"), result.stderr)
                self.assertEqual(sorted(os.listdir(d)), ["a.txt", "notes.txt"])
        with make_dir({}) as d:
            self.assertIn("no results files", run(d).stderr)
            self.assertNotEqual(run(os.path.join(d, "missing")).returncode, 0)
            self.assertNotEqual(run(d, "--mad-multiple", "-2").returncode, 0)


class Catalogue(unittest.TestCase):  # earthquakes.csv, magnitudes and detections.xml
    # Template event "t" (three channels) finds itself, a repeat at half its amplitude and one
    # at twice; "u" finds the first two as well, 2 s later and weaker.
    RESULTS = {
        "t.txt": "1712632520.000 0.99000000 0.04 3\n1712655667.500 0.80000000 0.04 3\n"
                 "1712682165.250 0.70000000 0.04 3\n",
        "u.txt": "1712632522.000 0.60000000 0.04 1\n1712655669.500 0.80000000 0.04 1\n",
        "t.channels.csv": CHANNELS +
        "1712632520.000,VM,VM01,00,HHZ,0.99,0.0,2024-04-09T03:15:20.000000Z,1.0\n"
        "1712632520.000,VM,VM02,,HHZ,0.98,0.004,2024-04-09T03:15:21.254000Z,1\n"
        "1712632520.000,VM,VM03,00,HHZ,,,,\n"  # no data at VM03 that day
        "1712655667.500,VM,VM01,00,HHZ,0.81,0.0,2024-04-09T09:41:07.500000Z,0.5\n"
        "1712655667.500,VM,VM02,,HHZ,0.79,-0.01,2024-04-09T09:41:08.740000Z,0.5\n"
        "1712655667.500,VM,VM03,00,HHZ,0.3,0.2,2024-04-09T09:41:10.500000Z,40\n"
        "1712682165.250,VM,VM01,00,HHZ,0.72,0.0,2024-04-09T17:02:45.250000Z,2.0\n"
        "1712682165.250,VM,VM02,,HHZ,0.68,0.0,2024-04-09T17:02:46.500000Z,2.0\n"
        "1712682165.250,VM,VM03,00,HHZ,0.7,0.0,2024-04-09T17:02:48.050000Z,0\n",
        "mags.csv": "event,magnitude\nt,2.1\nother,1\n"}

    def test_earthquakes_group_chains_ties_and_single_events(self):
        # A chain a-b-c 4 s apart, then a 6 s later; equal correlations at b and c.
        last = "1970-01-01T00:16:40.000Z,1000.000,b,0.50000000,1,b"
        with make_dir({"a.txt": "100.000 0.70000000 0.1 1\n114.000 0.90000000 0.1 1\n",
                       "b.txt": "104.000 0.80000000 0.1 1\n1000.000 0.50000000 0.1 1\n",
                       "c.txt": "108.000 0.80000000 0.1 1\n", "d.txt": ""}) as d:
            self.assertEqual(run(d, "--decluster", "4").returncode, 0)
            self.assertEqual(read_csv(d, "earthquakes.csv"), rows(
                "time_utc,epoch_s,event,mean_cc,n_events,events",
                "1970-01-01T00:01:44.000Z,104.000,b,0.80000000,3,a;b;c",
                "1970-01-01T00:01:54.000Z,114.000,a,0.90000000,1,a", last))
            self.assertEqual(run(d, "--decluster", "6").returncode, 0)  # one event twice
            self.assertEqual(read_csv(d, "earthquakes.csv")[1:], rows(
                "1970-01-01T00:01:54.000Z,114.000,a,0.90000000,3,a;b;c", last))
            self.assertEqual(run(d, "--decluster", "3.999").returncode, 0)
            self.assertEqual(len(read_csv(d, "earthquakes.csv")), 6)

    def test_relative_magnitudes_against_hand_computed_values(self):
        with make_dir(self.RESULTS) as d:
            result = run(d, "--magnitudes", os.path.join(d, "mags.csv"))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stderr.strip(), "vemlo-report: no u.channels.csv beside "
                             "u.txt: its magnitude fields and picks stay empty\n"
                             "vemlo-report: %s gives no magnitude for event u: its magnitude "
                             "fields stay empty" % os.path.join(d, "mags.csv"))
            got = read_csv(d, "detections.csv")
            self.assertEqual(got[0][-2:], ["delta_magnitude", "magnitude"])
            # log10 of 1, 0.5 and 2: VM03 does not vote (no data, cc 0.3 below 0.5, ratio 0).
            self.assertEqual([row[-2:] for row in got[1:]], rows(
                "0.00,2.10", "-0.30,1.80", "0.30,2.40", ",", ","))
            # --min-cc 0.2 lets VM03 vote at the half repeat: the median of -0.30, -0.30, 1.60;
            # above every channel's correlation no channel is left; at 0.75 one channel each.
            for min_cc, expected in [("0.2", ["0.00", "-0.30", "0.30", "", ""]),
                                     ("0.995", [""] * 5), ("0.75", ["0.00", "-0.30"])]:
                self.assertEqual(run(d, "--min-cc", min_cc).returncode, 0)
                self.assertEqual([row[-1] for row in read_csv(d, "detections.csv")[1:]]
                                 [:len(expected)], expected, min_cc)

    def test_quakeml_is_valid_stable_and_carries_picks_and_magnitudes(self):
        try:
            from lxml import etree
        except ImportError:
            self.skipTest("python3-lxml is not installed: detections.xml is not checked")
        schema = etree.RelaxNG(etree.parse(SCHEMA))
        ns = {"b": "http://quakeml.org/xmlns/bed/1.2"}
        files = {**self.RESULTS, "we ird;&<name>.txt": "1712632520.000 0.50000000 0.04 1\n",
                 b"caf\xe9.txt": "1712632523.000 0.40000000 0.04 1\n"}
        with make_dir(files) as d:
            for options in [["--magnitudes", os.path.join(d, "mags.csv")], ["--decluster", "5"]]:
                with self.subTest(options=options):
                    xml = []
                    for _ in range(2):  # the same file again
                        self.assertEqual(run(d, *options).returncode, 0)
                        xml.append(pathlib.Path(d, "detections.xml").read_bytes())
                    self.assertEqual(xml[1], xml[0])
                    document = etree.fromstring(xml[0])
                    self.assertTrue(schema.validate(etree.ElementTree(document)),
                                    schema.error_log)
                    events = document.findall(".//b:event", ns)
                    ids = [i for i in (e.get("publicID") for e in document.iter()) if i is not None]
                    self.assertEqual(len(ids), len(set(ids)))
                    half = [e for e in events
                            if e.get("publicID").endswith("/t/1712655667.500")][0]
                    picks = half.findall("b:pick", ns)
                    self.assertEqual(len(picks), 3)
                    self.assertEqual(["|".join([p.find("b:time/b:value", ns).text] + [
                        p.find("b:waveformID", ns).get(code + "Code")
                        for code in ["network", "station", "location", "channel"]] + [
                        p.find(path, ns).text for path in ["b:evaluationMode", "b:comment/b:text"]])
                        for p in picks[:2]], [
                        "2024-04-09T09:41:07.500000Z|VM|VM01|00|HHZ|automatic|correlation 0.81",
                        "2024-04-09T09:41:08.740000Z|VM|VM02||HHZ|automatic|correlation 0.79"])
                    comments = " ".join(c.text for c in half.findall("b:comment/b:text", ns))
                    self.assertIn("template event t: mean correlation 0.80000000", comments)
                    if "--decluster" in options:  # 7 detections, 3 earthquakes
                        self.assertEqual((len(events), half.find("b:magnitude", ns)), (3, None))
                        self.assertIn("magnitude difference to template event t: -0.30",
                                      comments)
                        self.assertIn("found by 2 event(s): t;u", comments)
                        self.assertEqual(len(events[0].findall("b:pick", ns)), 2)  # t's
                        self.assertIn("found by 4 event(s): caf\\xe9;t;u;we ird;&<name>",
                                      events[0].find("b:comment/b:text", ns).text)
                    else:
                        self.assertEqual(len(events), 7)
                        magnitude = half.find("b:magnitude", ns)
                        self.assertEqual([magnitude.find("b:mag/b:value", ns).text,
                                          magnitude.find("b:type", ns).text,
                                          half.find("b:preferredMagnitudeID", ns).text],
                                         ["1.80", "Mrel", magnitude.get("publicID")])
                        quiet = [e for e in events if "/u/" in e.get("publicID")]
                        self.assertEqual([e.findall("b:pick", ns) for e in quiet], [[], []])

    def test_bad_options_and_inputs_are_refused_and_nothing_written(self):
        row = "1712632520.000,VM,VM01,00,HHZ,0.99,0.0,2024-04-09T03:15:20.000000Z,1.0\n"
        mags = ["--magnitudes", "mags.csv"]
        cases = [(o.split(), {}) for o in [
            "--decluster -1", "--decluster x", "--decluster nan", "--min-cc 1.5", "--min-cc abc",
            "--waveforms 0", "--waveforms 2.5", "--control c.txt", "--magnitudes missing.csv",
            "--unknown"]] + [(mags, {"t.channels.csv": text}) for text in [
                "net,sta\n" + row, CHANNELS + row.replace(",1.0", ",1.0,2"),  # header, fields
                CHANNELS + row.replace("20.000,", "21.000,"),  # another detection's rows
                CHANNELS, CHANNELS + row.replace("0.99", "1.99"),  # no rows; cc
                CHANNELS + row.replace(",1.0", ",-1"),  # ratio
                CHANNELS + row.replace("20.000000Z", "20Z"),  # pick time
                CHANNELS + row.replace("VM01", "VERYLONGCODE")]] + [
            (mags, {"mags.csv": text}) for text in [
                "event,magnitude\nt,big\n", "event,magnitude\nt,1\nt,2\n", "t,1\n"]]
        for options, changed in cases:
            files = dict({"t.txt": "1712632520.000 0.99000000 0.04 3\n",
                          "t.channels.csv": CHANNELS + row, "mags.csv": "event,magnitude\nt,1\n"},
                         **changed)
            with self.subTest(options=options, files=files), make_dir(files) as d:
                result = run(".", *options, cwd=d)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn("vemlo-report", result.stderr)
                self.assertEqual(sorted(os.listdir(d)), sorted(files))


# vemlo on twenty minutes of two stations at 20 samples per second holding an earthquake and its
# repeat at half the amplitude, then the waveform pictures through vemlo-window.
class Waveforms(unittest.TestCase):
    MIDNIGHT = 1712620800  # 2024-04-09, day 100
    QUAKES = [(11100.0, 1.0), (11700.0, 0.5)]  # seconds of the day at ST1, amplitude
    STATIONS = [("ST1", 0.0), ("ST2", 2.0)]  # and moveout

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.dir.cleanup)
        cls.d = cls.dir.name
        rate, start = 20, 10800  # data from 03:00 for twenty minutes
        noise = random.Random(7)
        for station, moveout in cls.STATIONS:
            phase = 0.7 if station == "ST2" else 0
            counts = [round(sum((amplitude * 3000 * x * math.exp(-1.5 * x) * math.sin(
                2 * math.pi * (2.0 + 0.3 * x) * x + phase) for amplitude, x in (
                    (amplitude, start + n / rate - second - moveout)
                    for second, amplitude in cls.QUAKES) if 0 <= x < 6), noise.gauss(0, 30)))
                for n in range(20 * 60 * rate)]
            write_mseed(os.path.join(cls.d, "archive", station, "2024",
                                     station + ".XX.00.HHZ.2024.100"),
                        ["XX", station, "00", "HHZ"], cls.MIDNIGHT + start, rate, counts)
        lines = pathlib.Path(EXAMPLE).read_text().split("\n")[:37]
        lines[4:20:3] = ["2024 100 0", "2024 100 0", "4", "1 5", "8", "20"]  # lines 5 to 20
        pathlib.Path(cls.d, "control.txt").write_text("".join(line + "\n" for line in lines + [
            "quake"] + ["2024 100 %.2f XX %s 00 HHZ 0" % (cls.QUAKES[0][0] + moveout, sta)
                        for sta, moveout in cls.STATIONS]))
        vemlo = subprocess.run([os.environ["VEMLO"], "control.txt"], cwd=cls.d,
                               capture_output=True, text=True, timeout=600)
        assert vemlo.returncode == 0, vemlo.stdout + vemlo.stderr
        cls.results = os.path.join(cls.d, "results")

    def window(self, requests):
        return subprocess.run([os.path.join(os.path.dirname(REPORT), "vemlo-window"),
                               "control.txt"], cwd=self.d, input=requests, capture_output=True,
                              text=True, timeout=600)

    def test_pictures_of_the_strongest_detections(self):  # from vemlo's own channels file
        folder = os.path.join(self.results, "quake-waveforms")
        pictures = ["2024-04-09T03:05:00.000Z.png", "2024-04-09T03:15:00.000Z.png"]
        self.assertEqual(run(self.results, "--waveforms").returncode, 0)
        self.assertEqual(sorted(os.listdir(folder)), pictures)
        assert_pngs(self, folder, pictures)
        # The strongest alone replaces the earlier pictures; the control file given.
        control = os.path.join(self.d, "control.txt")
        self.assertEqual(run(self.results, "--waveforms", "1", "--control", control).returncode, 0)
        self.assertEqual(os.listdir(folder), pictures[:1])
        self.assertFalse([n for n in os.listdir(self.results) if n.startswith(".")])
        # Refused with nothing written: no control file; a control file of other results.
        before = sorted(os.listdir(self.results))
        for control in ["missing.txt", EXAMPLE]:
            result = run(self.results, "--waveforms", "--control", control)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertEqual(sorted(os.listdir(self.results)), before)

    def test_window_program_answers_as_the_run_conditions_and_refuses_bad_requests(self):
        pick = self.MIDNIGHT + self.QUAKES[0][0] + self.STATIONS[1][1]
        answer = self.window("template\tquake\t2\tXX\tST2\t00\tHHZ\n"
                             "window\tXX\tST2\t00\tHHZ\t%.2f\t4\n"
                             "window\tXX\tST2\t00\tHHZ\t%.2f\t4\n" % (pick, pick + 86400))
        self.assertEqual(answer.returncode, 0, answer.stderr)
        template, window, missing = [line.split("\t") for line in answer.stdout.splitlines()]
        self.assertEqual([template[:3], window[:3], missing[0]],
                         [["data", "%.6f" % pick, "20"]] * 2 + ["none"])
        a, b = [[float(x) for x in fields[3].split()] for fields in (template, window)]
        self.assertEqual((len(a), len(b)), (80, 80))
        # The template at its own pick in the day trace: the same waveform (the filter's edges
        # aside), one sample off would not be.
        dot = sum(x * y for x, y in zip(a, b))
        self.assertGreater(dot / math.sqrt(sum(x * x for x in a) * sum(y * y for y in b)), 0.99)
        for request, message in [
                ("template\tquake\t3\tXX\tST2\t00\tHHZ", "event 'quake' has 2 template(s)"),
                ("template\tquake\t1\tXX\tST2\t00\tHHZ",
                 "template 1 of event 'quake' is XX.ST1.00.HHZ, not XX.ST2.00.HHZ"),
                ("template\tother\t1\tXX\tST2\t00\tHHZ", "no event 'other'"),
                ("window\tXX\tST9\t00\tHHZ\t1712631900\t4",
                 "no template of the control file is of channel XX.ST9.00.HHZ"),
                ("window\tXX\tST1\t00\tHHZ\tnoon\t4", "'noon' is not a time"),
                ("window\tXX\tST1\t00\tHHZ\t1712631900\t0", "'0' is not a length"),
                ("window XX ST1 00 HHZ 1712631900 4", "fields separated by tabs")]:
            answer = self.window("template\tquake\t1\tXX\tST1\t00\tHHZ\n" + request + "\n")
            self.assertEqual((answer.returncode, answer.stdout), (1, ""), request)
            self.assertIn("vemlo-window: line 2: ", answer.stderr)
            self.assertIn(message, answer.stderr)


if __name__ == "__main__":
    unittest.main()
