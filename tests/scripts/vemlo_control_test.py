# vemlo-control on small catalogues (QuakeML, CSV), refused input, and the round trip from the
# bundled example's picks to its detections, in vemlo's archive layout and in SDS.

import os, pathlib, shutil, subprocess, tempfile, unittest

CONTROL = os.environ["VEMLO_CONTROL"]
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data", "quakeml")
EXAMPLE = os.path.join(HERE, "..", "..", "examples", "example.txt")


def run(*args, cwd=None):
    return subprocess.run([CONTROL, *args], capture_output=True, text=True, timeout=120, cwd=cwd)


def data(name):
    return os.path.join(DATA, name)


def templates(text):  # the template section of a control file: the lines from line 38 on
    return text.split("\n")[37:]


def write(directory, name, text):
    pathlib.Path(directory, name).write_text(text, encoding="utf-8")
    return os.path.join(directory, name)


class Catalogues(unittest.TestCase):
    def test_quakeml_picks_phases_channels_and_names(self):
        result = run("--quakeml", data("catalogue.xml"))
        self.assertEqual(result.returncode, 0, result.stderr)
        # The preferred origin's arrivals give the phases of a4 (P, not the other origin's S)
        # and a5 (Pg); an empty location is "--"; two events at the same tenth of a second get
        # names that keep them apart; an event without origin is named after its publicID.
        self.assertEqual(templates(result.stdout), [
            "2013-09-01T04-11-15.7", "2013 244 15080.10 XX AAA 00 HHZ 0",
            "2013 244 15081.50 XX CCC -- HHZ 0", "2013 244 15082.00 XX DDD 10 EHZ 0", "",
            "2013-09-01T04-11-15.7_2", "2013 244 15080.40 XX AAA 00 HHZ 0",
            "2013 244 15081.20 XX BBB 00 HHZ 0", "", "2013c", "2013 245 86399.95 XX AAA 00 HHZ 0",
            ""])
        self.assertEqual(result.stdout.split("\n")[4:8:3], ["2013 244 0", "2013 245 0"])
        for said in [
                "pick smi:org.example/pick/a2 (XX.AAA.00.HHN at 2013-09-01T04:11:25.3Z): phase S "
                "not selected (--phases P)", "pick smi:org.example/pick/a3 (XX.BBB.--. at "
                "2013-09-01T04:11:21Z): no channel code", "pick smi:org.example/pick/a6 "
                "(XX.EEE.00.HHZ at 2013-09-01T04:11:23Z): no phase", "pick smi:org.example/pick/"
                "c10 (XX.BBB.00.HHZ at 2013-09-02T23:59:59.99Z): rejected",
                "1 pick(s) without a channel code left out",
                "Wrote 3 event(s) with 6 pick(s), scanning 2013-244 to 2013-245"]:
            self.assertIn(said, result.stderr)

        # Both phases, a channel for picks without one, at most three picks per event, two
        # stations or more, templates starting 0.1 s early; the settings on their lines.
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "control.txt")
            result = run("--quakeml", data("catalogue.xml"), "--phases", "P,S", "--channel",
                         "HHZ", "--max-picks", "3", "--min-stations", "2", "--prepick", "0.1",
                         "--length", "10.50", "--band", "0.5", "4e0", "--mad-multiple", "8.5",
                         "--rate", "40", "--archive", "/data/sds archive", "--results", "out",
                         "--download", "--first", "2013-08-31", "--last", "2013-245", "-o", out)
            self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)
            self.assertEqual(os.listdir(d), ["control.txt"])
            text = pathlib.Path(out).read_text()
        lines = text.split("\n")
        self.assertEqual([lines[n - 1] for n in (2, 5, 8, 11, 14, 17, 20, 26, 35)], [
            "out/", "2013 243 0", "2013 245 0", "10.5", "0.5 4", "8.5", "40",
            "/data/sds archive", "1 1"])
        self.assertEqual(templates(text), [
            "2013-09-01T04-11-15.7", "2013 244 15080.00 XX AAA 00 HHZ 0",
            "2013 244 15080.90 XX BBB -- HHZ 0", "2013 244 15081.40 XX CCC -- HHZ 0", "",
            "2013-09-01T04-11-15.7_2", "2013 244 15080.30 XX AAA 00 HHZ 0",
            "2013 244 15081.10 XX BBB 00 HHZ 0", ""])
        for said in ["pick smi:org.example/pick/a5 (XX.DDD.10.EHZ at 2013-09-01T04:11:22Z): "
                     "after the 3 earliest picks of its event", "event 2013c (smi:org.example/"
                     "event/2013c): picks on 1 station(s), fewer than --min-stations 2"]:
            self.assertIn(said, result.stderr)

        # A real catalogue's picks: one without a channel code, one without any phase. The same
        # event given twice is read once.
        result = run("--quakeml", data("quakeml_1.2_pick.xml"))
        self.assertEqual((result.returncode, result.stdout), (1, ""))
        self.assertIn("pick smi:geonet.org.nz/pick/4965421 (NZ.BKZ.--.HHZ at "
                      "2007-05-12T07:41:28.815Z): no phase", result.stderr)
        self.assertIn("vemlo-control: error: no event left to write", result.stderr)
        pick = data("quakeml_1.2_pick.xml")
        result = run("--quakeml", pick, pick, "--channel", "BHZ")
        self.assertEqual(templates(result.stdout), ["1165", "2005 261 79475.00 BW FUR -- BHZ 0",
                                                    ""], result.stderr)
        self.assertIn("the same event as in", result.stderr)

    def test_csv_picks(self):
        with tempfile.TemporaryDirectory() as d:
            # Columns in another order, a byte-order mark, a time with an offset, an empty
            # location, a name that is not safe for file names.
            path = write(d, "picks.csv", "\ufeffTime,event,network,station,location,channel,"
                         "phase,weight\n2013-02-14T00:00:01.250Z,quake 1,XX,ABC,,HHZ,P,1\n"
                         "2013-02-14T00:00:03Z,quake 1,XX,ABC,,HHZ,S,1\n"
                         "2013-02-14T01:00:00.25+01:00,quake 1,XX,DEF,00,HHZ,Pg,1\n\n"
                         "2013-02-15 12:00:00,quake/2,XX,ABC,00,HHZ,,0\n"
                         "2013-02-15T12:00:01,quake/2,XX,DEF,00,HHZ,P,0\n")
            result = run("--csv", path, "--prepick", "0.5")
            self.assertEqual(templates(result.stdout), [
                "quake_1", "2013 44 86399.75 XX DEF 00 HHZ 0",  # moved to the day before
                "2013 45 0.75 XX ABC -- HHZ 0", "",
                "quake_2", "2013 46 43200.50 XX DEF 00 HHZ 0", ""], result.stderr)
            for said in ["column(s) weight not used", "picks.csv line 3 (XX.ABC.--.HHZ at "
                         "2013-02-14T00:00:03Z): phase S not selected", "picks.csv line 6 "
                         "(XX.ABC.00.HHZ at 2013-02-15T12:00:00Z): no phase",
                         "event quake 1 (quake 1 in %s) is named quake_1" % path]:
                self.assertIn(said, result.stderr)
            # Without a phase column every pick is taken, and that is said.
            path = write(d, "plain.csv", "event,time,network,station,location,channel\n"
                         "q,2013-02-14T00:00:03Z,XX,ABC,--,HHZ\n")
            result = run("--csv", path, "--phases", "S")
            self.assertEqual(templates(result.stdout), ["q", "2013 45 3.00 XX ABC -- HHZ 0", ""])
            self.assertIn("plain.csv has no phase column: every pick is used", result.stderr)

    def test_bad_input_is_refused_and_nothing_written(self):
        good = pathlib.Path(data("example_quake.xml")).read_text()
        header = "event,time,network,station,location,channel\n"
        row = "q,2013-02-14T00:00:03Z,XX,ABC,--,HHZ\n"
        cases = [("--quakeml", good[:900], "line 17: not QuakeML: the XML is not well-formed"),
            ("--quakeml", "<html><body>no</body></html>", "line 1: not QuakeML 1.2"),
            ("--quakeml", good.replace("2024-04-09T03:15:21.25Z", "2024-04-09T03:15:61.25Z"),
             "line 21: pick smi:local/vemlo/pick/2: time '2024-04-09T03:15:61.25Z' does not "
             "parse"),
            ("--quakeml", good.replace("2024-04-09T03:15:18.40Z", "yesterday"),
             "line 7: origin smi:local/vemlo/origin/1: time 'yesterday' does not parse"),
            ("--quakeml", '<?xml version="1.0"?>\n<!DOCTYPE q [<!ENTITY a "aaaaaaaaaa">'
             '<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>\n<q>&b;</q>\n',
             "line 2: declares an XML entity"),
            ("--csv", row, "line 1: the header must name the columns "
             "event,time,network,station,location,channel[,phase]"),
            ("--csv", header + row + row.replace("14T00", "30T00"),
             "line 3: time '2013-02-30T00:00:03Z' does not parse"),
            ("--csv", header + row.replace(",HHZ", ""), "line 2: 5 field(s), the header has 6")]
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "control.txt")
            catalogue = ["--quakeml", data("example_quake.xml")]
            files = [(kind, write(d, "bad%d%s" % (n, kind.replace("--", ".")), text), message)
                     for n, (kind, text, message) in enumerate(cases)]
            for options, message in [([k, bad], "vemlo-control: error: %s %s" % (bad, m))
                                     for k, bad, m in files] + [
                    (catalogue + ["--band", "10", "2"],
                     "--band needs 0 < LOW < HIGH < half the rate (50)"),
                    (catalogue + ["--band", "2", "60"], "--band needs"),
                    (catalogue + ["--first", "2023-366"], "'2023-366' is not a day"),
                    (catalogue + ["--first", "2024-04-11"],
                     "the first day to scan (2024-102) is after the last (2024-100)"),
                    (catalogue + ["--results", "my results"], "--results must be a directory name"),
                    ([], "no catalogue")]:
                result = run(*options, "-o", out)
                self.assertEqual((result.returncode, result.stdout), (1, ""), message)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(out), message)


# Under AddressSanitizer every realloc copies, and the miniSEED library grows a day's trace one
# record at a time: reading the example's days of 8.64 million samples takes many minutes.
# The example's picks as QuakeML and as CSV give control files on which vemlo finds the
# example's six detections, and an SDS copy of its archive gives the same results file.
@unittest.skipIf(os.environ.get("VEMLO_SANITIZED") == "1", "too slow sanitized; the plain suite "
                 "runs the round trip")
class RoundTrip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.dir.cleanup)
        cls.d = cls.dir.name  # the scratch directory vemlo runs in
        subprocess.run([os.environ["MAKE_EXAMPLE"], os.path.join(cls.d, "archive")], check=True,
                       stdout=subprocess.DEVNULL, timeout=300)
        shutil.copy(EXAMPLE, os.path.join(cls.d, "example.txt"))
        cls.reference = cls.vemlo("example.txt", "results/example_quake.txt")

    @classmethod
    def vemlo(cls, control, results):  # the results file's text
        run = subprocess.run([os.environ["VEMLO"], control], cwd=cls.d, capture_output=True,
                             text=True, timeout=300)
        assert run.returncode == 0 and "No usable day file" not in run.stderr, run.stderr
        return pathlib.Path(cls.d, results).read_text()

    def test_quakeml_and_csv_picks_give_the_examples_results(self):
        self.assertEqual([line.split()[0] for line in self.reference.splitlines()], [
            "1712632520.000", "1712655667.500", "1712682165.250", "1712712600.000",
            "1712751132.121", "1712789313.703"])  # the six injected earthquakes
        example = pathlib.Path(EXAMPLE).read_text().split("\n")
        write(self.d, "example.csv", "event,time,network,station,location,channel,phase\n" +
              "".join("example_quake,2024-04-09T03:15:%sZ,VM,VM0%d,00,HHZ,P\n" % (s, n + 1)
                      for n, s in enumerate(["20.00", "21.25", "22.80"])))  # the example's picks
        period = ["--first", "2024-100", "--last", "2024-04-10"]
        for catalogue, results, name in [
                (["--csv", "example.csv"], "csv/", "example_quake"),
                (["--quakeml", data("example_quake.xml")], "quakeml/", "2024-04-09T03-15-18.4")]:
            result = run(*catalogue, *period, "--results", results, "-o", "control.txt",
                         cwd=self.d)
            self.assertEqual(result.returncode, 0, result.stderr)
            written = pathlib.Path(self.d, "control.txt").read_text().split("\n")
            # The example's control file but for the results folder, a reserved line and the
            # event's name.
            self.assertEqual((len(written), [n + 1 for n, (w, e) in enumerate(zip(written, example))
                              if w != e]), (len(example), [2, 29] + [38][:name != "example_quake"]))
            self.assertEqual(self.vemlo("control.txt", results + name + ".txt"), self.reference)

    def test_sds_archive_in_place_gives_the_same_results(self):
        for root, _, files in os.walk(os.path.join(self.d, "archive")):
            for name in files:
                sta, net, loc, cha, year, doy = name.split(".")
                folder = os.path.join(self.d, "sds", year, net, sta, cha + ".D")
                os.makedirs(folder, exist_ok=True)
                os.link(os.path.join(root, name), os.path.join(
                    folder, ".".join([net, sta, loc, cha, "D", year, doy])))
        lines = pathlib.Path(EXAMPLE).read_text().split("\n")
        lines[1], lines[25] = "sds_results/", "sds"
        write(self.d, "sds.txt", "\n".join(lines))
        self.assertEqual(self.vemlo("sds.txt", "sds_results/example_quake.txt"), self.reference)


if __name__ == "__main__":
    unittest.main()
