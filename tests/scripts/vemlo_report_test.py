"""vemlo-report on small results directories: the catalogue, the pictures, refused input."""

import csv
import os
import subprocess
import tempfile
import unittest

REPORT = os.environ["VEMLO_REPORT"]
PNG = b"\x89PNG\r\n\x1a\n"


def run(*args):
    return subprocess.run([REPORT, *args], capture_output=True, text=True, timeout=120)


def make_dir(files):
    directory = tempfile.TemporaryDirectory()
    for name, text in files.items():
        with open(os.path.join(directory.name, name), "wb") as f:
            f.write(text if isinstance(text, bytes) else text.encode())
    return directory


class Report(unittest.TestCase):
    def test_catalogue_and_pictures(self):
        files = {  # out of time order; day 101 of 2024 is 2024-04-10; an event without detections
            "quake_b.txt": "1712751132.121 0.68900996 0.04246030 3\n"
                           "1712632520.000 0.99999648 0.04240876 2\n",
            "quake_a.txt": "0.999 0.50000000 0.10000000 1\n",
            "quiet.txt": "",
        }
        with make_dir(files) as d:
            result = run(d, "--mad-multiple", "9")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout + result.stderr, "")
            with open(os.path.join(d, "detections.csv"), newline="") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows, [
                ["event", "time_utc", "epoch_s", "mean_cc", "mad", "templates", "threshold"],
                ["quake_a", "1970-01-01T00:00:00.999Z", "0.999", "0.50000000", "0.10000000",
                 "1", "0.90000000"],
                ["quake_b", "2024-04-09T03:15:20.000Z", "1712632520.000", "0.99999648",
                 "0.04240876", "2", "0.38167884"],
                ["quake_b", "2024-04-10T12:12:12.121Z", "1712751132.121", "0.68900996",
                 "0.04246030", "3", "0.38214270"],
            ])
            for name in ["quake_a.png", "quake_b.png", "quiet.png", "overview.png"]:
                with open(os.path.join(d, name), "rb") as f:
                    self.assertEqual(f.read(8), PNG, name)
            self.assertEqual(len(os.listdir(d)), 8)  # no temporaries left behind

            self.assertEqual(run(d).returncode, 0)
            with open(os.path.join(d, "detections.csv")) as f:
                self.assertEqual(f.readline(), "event,time_utc,epoch_s,mean_cc,mad,templates\n")

    def test_passes_over_what_is_known_not_to_be_results_and_takes_the_runs_mad_multiple(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "examples",
                               "example.txt")) as f:
            control = f.read()
        files = {
            "quake.txt": "1712632520.000 0.99999648 0.04240876 2\n",
            "vemlo-run.txt": "vemlo run record\nvemlo version: 0.2\ncontrol file: /x/c.txt\n"
                             "scan period: 2024-04-09 (2024 100) to 2024-04-09 (2024 100), 1 "
                             "day(s)\nMAD multiple: 8.5\ncontrol file text follows (10 bytes):\n"
                             "MAD multiple: 1\n",
            "example.txt": control,
            "crlf copy.txt": control.replace("\n", "\r\n"),
            "detections.csv": "old catalogue\n",
            "stations.channels.csv": "net,sta\n",
            "earthquakes.csv": "x\n",
            "detections.xml": "<x/>\n",
        }
        with make_dir(files) as d:
            result = run(d)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(d, "detections.csv"), newline="") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows[0][-1], "threshold")
            self.assertEqual(rows[1][0], "quake")
            self.assertEqual(rows[1][-1], "%.8f" % (8.5 * 0.04240876))
            self.assertEqual(len(rows), 2)
            self.assertFalse(os.path.exists(os.path.join(d, "vemlo-run.png")))
            self.assertFalse(os.path.exists(os.path.join(d, "example.png")))
            # The option wins over the record.
            self.assertEqual(run(d, "--mad-multiple", "2").returncode, 0)
            with open(os.path.join(d, "detections.csv"), newline="") as f:
                self.assertEqual(list(csv.reader(f))[1][-1], "%.8f" % (2 * 0.04240876))
            # A control file that lost a settings line is no control file, and no results file.
            with open(os.path.join(d, "example.txt"), "w") as f:
                f.write(control.replace("\n8\n", "\neight\n", 1))
            result = run(d)
            self.assertEqual(result.returncode, 1)
            self.assertIn(os.path.join(d, "example.txt"), result.stderr)
        with make_dir({"quake.txt": "", "vemlo-run.txt": "MAD multiple: -1\n"}) as d:
            result = run(d)
            self.assertEqual(result.returncode, 1)
            self.assertIn("vemlo-run.txt: the MAD multiple '-1' is not a positive number",
                          result.stderr)

    def test_refuses_what_is_not_a_results_directory(self):
        good = "1712632520.000 0.99999648 0.04240876 3\n"
        cases = {
            "words": "Writing results to file...done.\n",
            "five fields": good.replace(" 3", " 3 3"),
            "two decimals": good.replace(".000", ".00"),
            "no templates": good.replace(" 3", " 0"),
            "correlation above 1": good.replace("0.99999648", "7.00000000"),
            "binary": b"\x89PNG\r\n\x1a\n\x00\xff",
        }
        for case, text in cases.items():
            with self.subTest(case), make_dir({"a.txt": good, "notes.txt": text}) as d:
                before = sorted(os.listdir(d))
                result = run(d)
                self.assertEqual(result.returncode, 1)
                self.assertIn(os.path.join(d, "notes.txt"), result.stderr)
                self.assertEqual(sorted(os.listdir(d)), before)
        with make_dir({}) as d:
            self.assertIn("no results files", run(d).stderr)
            self.assertNotEqual(run(os.path.join(d, "missing")).returncode, 0)
            self.assertNotEqual(run(d, "--mad-multiple", "-2").returncode, 0)


if __name__ == "__main__":
    unittest.main()
