#!/usr/bin/env python3
"""Checks of the bench's own arithmetic: the /proc readings, the rates data it serves and syncs,
the verdicts and the table. `./zlv test` runs them (tests/scripts/test_bench_tool.py), and
`./zlv bench` again before it measures anything."""
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import figures  # noqa: E402
import readings  # noqa: E402
import servers  # noqa: E402

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")


class ProcReadings(unittest.TestCase):
    def test_schedstat_sums_first_fields_of_live_threads(self):
        self.assertEqual(readings.cpu_ns_from_schedstat(["1500 99 3\n", "250 7 1\n", ""]), 1750)

    def test_io_and_status_counts(self):
        self.assertEqual(readings.writes_from_io("rchar: 9\nwchar: 8\nsyscr: 7\nsyscw: 123\n"
                                              "read_bytes: 0\n"), 123)
        self.assertRaises(ValueError, readings.writes_from_io, "syscr: 7\n")
        self.assertEqual(readings.switches_from_status("Name:\twineserver\nvoluntary_ctxt_switches:"
                                                    "\t310\nnonvoluntary_ctxt_switches:\t4\n"),
                         314)

    def test_smaps_counts_private_pages_only(self):
        text = ("00010000-ffff0000 ---p 00000000 00:00 0 [rollup]\n"
                "Rss:               17404 kB\nPss:                7100 kB\n"
                "Shared_Clean:      13820 kB\nPrivate_Clean:       172 kB\n"
                "Private_Dirty:      3152 kB\nPrivate_Hugetlb:        4 kB\nSwap: 9 kB\n")
        self.assertEqual(readings.private_kib_from_smaps(text), 172 + 3152 + 4)


class RatesData(unittest.TestCase):
    def test_page_has_the_size_asked_and_rate_lines(self):
        for size in (32, 4096, 61440, 65530):
            page = servers.rates_page(size)
            self.assertEqual(len(page), size)
            lines = page.split(b"\n")
            self.assertEqual(lines[-1], b"", "ends with a line feed")
            for line in lines[:-1]:
                self.assertEqual(line.count(b"\t"), 2, line)
            self.assertLessEqual(page.count(b"\n"), 9999)
        self.assertRaises(ValueError, servers.rates_page, 10)

    def test_body_rewrites_as_the_agent_does(self):
        page = b"USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n"
        self.assertEqual(servers.rates_body(page),
                         b"0002\0USD US Dollar\x001.0000\0EUR Euro\x000.9215\0")
        self.assertEqual(len(servers.body_of_size(60000)), 60000)

    def test_file_matches_the_product_writer(self):
        tool = os.path.join(BUILD, "host", "zlvtool")
        self.assertTrue(os.access(tool, os.X_OK), "zlvtool is not built: " + tool)
        page = servers.rates_page(4096)
        with tempfile.TemporaryDirectory() as tmp:
            response = os.path.join(tmp, "response")
            out = os.path.join(tmp, "rates")
            with open(response, "wb") as f:
                f.write(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + page)
            subprocess.run([tool, "rates", response, out, "--time", "1700000000"], check=True,
                           stdout=subprocess.DEVNULL)
            with open(out, "rb") as f:
                made = f.read()
        self.assertEqual(servers.rates_file(servers.rates_body(page), 1700000000), made)
        self.assertEqual(len(made), 17 + len(page), "the download check's expected size")


class LivePieces(unittest.TestCase):
    """The readings and servers on this machine, as the bench uses them."""

    def test_own_process_readings(self):
        # Two threads busy 50 ms of CPU each: the process's figure holds both, the thread's its own.
        spun, release = threading.Event(), threading.Event()

        def spin():
            deadline = time.thread_time() + 0.05
            while time.thread_time() < deadline:
                pass

        def worker():
            spin()
            spun.set()
            release.wait(30)
        before = readings.process_cpu_ns(os.getpid())
        other = threading.Thread(target=worker)
        other.start()
        try:
            spin()
            self.assertTrue(spun.wait(30))
            grew = readings.process_cpu_ns(os.getpid()) - before
            threads = readings.thread_cpu_ns(os.getpid())
        finally:
            release.set()
            other.join()
        self.assertGreaterEqual(grew, 90e6)  # the running thread's last few ms may lag
        self.assertGreaterEqual(threads.get(str(other.native_id), 0), 50e6)
        self.assertGreater(readings.process_private_kib(os.getpid()), 1000)

    def test_black_hole_leaves_a_connect_unanswered(self):
        hole = servers.BlackHole(port=0)
        try:
            self.assertTrue(hole.swallowing)
            s = socket.socket()
            s.settimeout(0.5)
            self.assertRaises(OSError, s.connect, ("127.0.0.1", hole.port))
            s.close()
        finally:
            hole.close()

    def test_nginx_serves_the_page_byte_for_byte(self):
        with socket.socket() as free:  # a port no other run of these checks holds
            free.bind(("127.0.0.1", 0))
            port = free.getsockname()[1]
        with tempfile.TemporaryDirectory() as tmp:
            server = servers.Nginx(tmp, port=port)
            page = servers.rates_page(61440)
            server.serve(page)
            server.start()
            try:
                url = "http://127.0.0.1:%d/updatedrates.php" % port
                self.assertEqual(urllib.request.urlopen(url, timeout=5).read(), page)
                server.serve(b"USD\tUS Dollar\t1.0\n")  # swapped while it runs
                self.assertEqual(urllib.request.urlopen(url, timeout=5).read(),
                                 b"USD\tUS Dollar\t1.0\n")
            finally:
                server.stop()


def sample_raw():
    return {
        # Per minute running: agent 4 + 2 requests, baseline 60 + 1800, waiter 3 + 0, at 5 µs
        # a request; the server's clock, while each is stopped: 30 ms/min, 20 µs a wake-up.
        "idle_cpu": {"agent_ms": [1.0, 1.0, 2.0], "agent_server_ms": [10.0, 10.0, 12.0],
                     "agent_s": [20.0, 20.0, 20.0], "agent_requests": [0, 2, 0],
                     "agent_stopped_server_ms": [5.0, 5.0], "agent_stopped_s": [10.0, 10.0],
                     "agent_stopped_wakeups": [250, 250],
                     "baseline_ms": [10.0, 10.0, 10.0], "baseline_server_ms": [60.0, 60.0, 60.0],
                     "baseline_s": [10.0, 10.0, 10.0], "baseline_requests": [300, 300, 300],
                     "baseline_stopped_server_ms": [15.0], "baseline_stopped_s": [30.0],
                     "baseline_stopped_wakeups": [750],
                     "waiter_ms": [0.5, 0.5, 0.5], "waiter_server_ms": [5.0, 5.0, 5.0],
                     "waiter_s": [10.0, 10.0, 10.0], "waiter_requests": [0, 0, 0],
                     "waiter_stopped_server_ms": [10.0], "waiter_stopped_s": [20.0],
                     "waiter_stopped_wakeups": [500],
                     "request_us": [4.0, 5.0, 9.0]},
        "memory_startup": {"agent_kib": [3400, 3420], "baseline_kib": [3200, 3210]},
        "memory_download": {"agent_kib": [5000], "baseline_kib": [3200],
                            "baseline_thread_kib": [4200]},
        "cycles": {"cycle": [1, 10, 100], "heap_blocks": [2690, 2692, 2692],
                   "heap_bytes": [140000, 141000, 141160], "private_bytes": [4.9e6, 4.9e6, 4.9e6],
                   "next_handle": [164, 164, 164]},
        "download": {"4k": {"agent_ms": [8.0, 9.0, 40.0], "curl_ms": [1.0, 1.0, 2.0],
                            "ticks": [1, 1, 2]},
                     "60k": {"agent_ms": [30.0, 35.0, 40.0], "curl_ms": [1.0, 1.5, 1.2],
                             "ticks": [1, 1, 1]},
                     "60k_https": {"agent_ms": [40.0, 45.0, 50.0], "curl_ms": [10.0, 16.0, 20.0],
                                   "ticks": [1, 1, 1]}},
        "stall": {"unanswered": {"longest_ms": [30.0, 31.0], "longest_tick_ms": [29.0, 30.0]},
                  "refused": {"longest_ms": [120.0, 130.0], "longest_tick_ms": [5.0, 6.0]},
                  "idle": {"longest_ms": [4.0, 5.0], "longest_tick_ms": [1.0, 1.0]}},
        "logo": {"load_ms": [40.0, 12.0, 11.0, 25.0, 30.0], "picture_ms": [1.0, 1.5],
                 "animation_ms_per_s": [0.9, 0.8, 12.0], "waiter_ms_per_s": [0.5, 0.5, 0.5]},
        "size": {"agent.exe": {"bytes": 170 * 1024}, "conduit.dll": {"bytes": 30 * 1024},
                 "installer": {"bytes": 200 * 1024}, "baseline.exe": {"bytes": 16 * 1024}},
    }


class Verdicts(unittest.TestCase):
    def figures(self, raw):
        errors = []
        figs = {f["name"]: f for f in figures.figures_from(raw, errors)}
        return figs, errors

    def test_each_target_in_its_direction(self):
        figs, errors = self.figures(sample_raw())
        self.assertEqual(errors, [])
        idle = figs["agent idle CPU (reminder mode), with the wineserver"]
        self.assertTrue(idle["met"])
        self.assertEqual(idle["compare"], "×0.058")  # 4.01 / 69
        self.assertEqual(idle["agent"], "4.01 ms/min (process 4.00, wineserver 0.01: 2 "
                                        "requests/min)")
        self.assertEqual(idle["baseline"], "100 ms timer 69.00 ms/min (process 60.00, wineserver "
                                           "9.00: 1800 requests/min); only waits 3.00 ms/min "
                                           "(process 3.00, wineserver 0.00: 0 requests/min)")
        # Directly, running less stopped: 32 - 30, 360 - 30, 30 - 30; 20 µs a wake-up.
        self.assertIn("agent +2.0 ms/min, 100 ms baseline +330.0 ms/min, only waits +0.0 ms/min",
                      idle["note"])
        self.assertIn("at a whole wake-up of the server each (20 µs), the agent's requests "
                      "would cost 0.05 ms/min", idle["note"])
        self.assertTrue(figs["agent private memory, after start-up"]["met"])
        self.assertFalse(figs["agent private memory, after a download"]["met"])  # 5000/3200
        self.assertTrue(figs["download, 4 KB page"]["met"])  # median 9 - 1 ms
        self.assertFalse(figs["download, 60 KB page"]["met"])  # 35 - 1.2 > 30
        self.assertTrue(figs["download over https, 60 KB page"]["met"])  # 45 - 16 ms
        self.assertEqual(figs["download over https, 60 KB page"]["compare"], "+29.0 ms")
        self.assertFalse(figs["UI stall, server unreachable"]["met"])  # refused 125 ms
        self.assertFalse(figs["size: agent.exe"]["met"])
        self.assertTrue(figs["size: conduit.dll"]["met"])
        self.assertIsNone(figs["size: installer"]["met"])
        self.assertTrue(figs["logo: Load of the ten frames"]["met"], "the cold first load aside")
        self.assertTrue(figs["logo: animation thread CPU"]["met"], "median 0.9 ms/s")
        # The requests count: 4 + 9000 × 5 µs is more than 0.3 of 69.
        dear = sample_raw()
        dear["idle_cpu"]["agent_requests"] = [3000, 3000, 3000]
        figs, _ = self.figures(dear)
        self.assertFalse(figs["agent idle CPU (reminder mode), with the wineserver"]["met"])

    def test_growth_over_cycles(self):
        raw = sample_raw()
        figs, _ = self.figures(raw)
        self.assertTrue(figs["memory over 100 update cycles"]["met"], "160 B of reuse is no leak")
        for key, value in (("heap_blocks", 2693), ("next_handle", 168),
                           ("heap_bytes", 142100), ("private_bytes", 4.9e6 + 80 * 1024)):
            grown = sample_raw()
            grown["cycles"][key][-1] = value
            figs, _ = self.figures(grown)
            self.assertFalse(figs["memory over 100 update cycles"]["met"], key)

    def test_missing_or_broken_samples_leave_the_figure_out(self):
        raw = sample_raw()
        raw["download"]["4k"]["curl_ms"] = []
        del raw["stall"]["refused"]["longest_tick_ms"]
        figs, errors = self.figures(raw)
        self.assertNotIn("download, 4 KB page", figs)
        self.assertNotIn("UI stall, server unreachable", figs)
        self.assertIn("size: agent.exe", figs, "the others stay")
        self.assertEqual(len(errors), 2, errors)

    def test_table_again_from_kept_samples(self):
        # The whole path of --table-from: kept samples in, bench.md and bench.json out.
        with tempfile.TemporaryDirectory() as tmp:
            kept = {"machine": {"cpu": "X", "nproc": 2, "memory": "1 GiB RAM", "wine": "wine-8.0",
                                "kernel": "6", "load_start": "1.00", "load_end": "1.00",
                                "date": "2026-01-01 00:00", "seconds": 100.0},
                    "raw": sample_raw(), "errors": ["stall: boom", "figure old: gone"]}
            with open(os.path.join(tmp, "kept.json"), "w") as f:
                json.dump(kept, f)
            p = subprocess.run([sys.executable, os.path.join(HERE, "bench.py"), "--table-from",
                                os.path.join(tmp, "kept.json")], capture_output=True, text=True,
                               env=dict(os.environ, ZLV_BUILD=tmp), timeout=60)
            self.assertEqual(p.returncode, 1, "a step's error is the run's failure\n" + p.stderr)
            with open(os.path.join(tmp, "bench.md")) as f:
                table = f.read()
            with open(os.path.join(tmp, "bench.json")) as f:
                written = json.load(f)
        self.assertIn("| size: agent.exe | 170.0 KiB | baseline.exe 16.0 KiB | – | ≤ 160 KiB | "
                      "**no** |", table)
        self.assertIn("| download, 4 KB page | 9.0 ms (8.0–40.0, n=3) | curl 1.0 ms (1.0–2.0, "
                      "n=3) | +8.0 ms | ≤ curl + 30 ms | yes |", table)
        # Medians of an even and of a single count, the ratio to two places.
        self.assertIn("| agent private memory, after start-up | 3410 KiB (3400–3420, n=2) | "
                      "3205 KiB (3200–3210, n=2) | ×1.06 | ≤ 1.5× baseline | yes |", table)
        self.assertIn("| agent private memory, after a download | 5000 KiB | 3200 KiB | ×1.56 | "
                      "≤ 1.5× baseline | **no** |", table)
        self.assertRegex(table, r"\n- download, 4 KB page: From the first timer tick .* ticks "
                                r"handled: 1 \(1–2, n=3\)\.")
        self.assertIn("- stall: boom", table)
        self.assertNotIn("figure old", table, "the old table's own errors are made anew")
        self.assertEqual(written["errors"], ["stall: boom"])
        self.assertEqual(written["raw"], sample_raw())


if __name__ == "__main__":
    unittest.main()
