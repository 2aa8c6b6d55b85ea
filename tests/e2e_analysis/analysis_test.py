#!/usr/bin/python3
"""The analysis queries against an independent reference computed with numpy.

Starts the real service on a record store written here (a balanced
three-phase set with a known angle and a skewed phase over two rates, a wave
with DC, 3rd and 5th harmonics, status steps; each as ASCII and BINARY), asks
/getPhasors, /getHarmonics and /getEvents, and compares every number with the
definitions evaluated by numpy on the same samples. With --samples it also
compares the phasors of real records (their samples read back through
/getWaveform at one sample a bucket) with numpy's.

Usage: analysis_test.py --service BINARY [--samples DIR]
"""
import argparse
import glob
import json
import math
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

import numpy as np

F = 50.0


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print(f"ok - {what}", flush=True)


def write_record(folder, name, fmt, analogs, statuses, rates, start, trigger, revision="1999"):
    """analogs: [(name, a, skew_us, samples)], statuses: [(name, values)]."""
    total = len(analogs[0][3]) if analogs else len(statuses[0][1])
    lines = [f"S,REC,{revision}", f"{len(analogs) + len(statuses)},{len(analogs)}A,{len(statuses)}D"]
    for i, (cname, a, skew, _) in enumerate(analogs):
        lines.append(f"{i + 1},{cname},A,,A,{a},0,{skew},-32767,32767,1,1,S")
    for j, (cname, _) in enumerate(statuses):
        lines.append(f"{j + 1},{cname},,,0")
    lines += [f"{F:g}", str(len(rates))] + [f"{r:g},{last}" for r, last in rates]
    lines += [start, trigger, fmt, "1"]
    with open(os.path.join(folder, name + ".cfg"), "w") as f:
        f.write("\r\n".join(lines) + "\r\n")
    with open(os.path.join(folder, name + ".dat"), "wb") as f:
        for n in range(total):
            samples = [int(c[3][n]) for c in analogs]
            bits = [int(s[1][n]) for s in statuses]
            if fmt == "ASCII":
                f.write((",".join(str(v) for v in [n + 1, n * 10] + samples + bits) + "\r\n").encode())
            else:
                words = [0] * ((len(bits) + 15) // 16)
                for j, b in enumerate(bits):
                    words[j // 16] |= b << (j % 16)
                f.write(struct.pack(f"<II{len(samples)}h{len(words)}H", n + 1, n * 10, *samples, *words))


def sample_times(rates, total):
    """Seconds of each sample by the rate segments."""
    t, out, first = 0.0, [], 0
    for rate, last in rates:
        for _ in range(first, min(last, total)):
            out.append(t)
            t += 1 / rate
        first = last
    return np.array(out)


def reference_phasor(x, t, h=1):
    return math.sqrt(2) / len(x) * np.sum(x * np.exp(-2j * math.pi * h * F * t))


def angle(z):
    a = math.degrees(np.angle(z))
    return a + 360 if a <= -180 else a


def close(got, want, tolerance):
    if want is None or got is None:
        return got is None and want is None
    return abs(got - want) <= tolerance * max(1.0, abs(want))


def angle_close(got, want, tolerance):
    return got is not None and abs((got - want + 180) % 360 - 180) <= tolerance


class Service:
    def __init__(self, binary, root):
        os.makedirs(os.path.join(root, "cfg"))
        os.makedirs(os.path.join(root, "log"))
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.records = os.path.join(root, "records")
        with open(os.path.join(root, "cfg", "ComTrade.ini"), "w") as f:
            f.write(f"[base]\nfileDir = {self.records}\nport = {self.port}\n")
        self.process = subprocess.Popen([binary], cwd=root, env=dict(os.environ, TAVROOT=root),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        self.process.kill()
        raise Failure("the service did not listen within 10 s")

    def ask(self, uri, body):
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{uri}",
                                         data=json.dumps(body).encode("latin-1"))
        with urllib.request.urlopen(request, timeout=60) as reply:
            answer = json.loads(reply.read().decode("latin-1"))
        if answer.get("result") != 200:
            raise Failure(f"{uri} {body} answered {answer}")
        return answer

    def download(self, uri, body):
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{uri}",
                                         data=json.dumps(body).encode("latin-1"))
        with urllib.request.urlopen(request, timeout=60) as reply:
            return dict(reply.headers), reply.read().decode("latin-1")

    def stop(self):
        self.process.kill()
        self.process.wait()


def three_phase(fmt):
    rates = [(4000, 2000), (2000, 3000)]
    t = sample_times(rates, 3000)
    a, rms, phi = 0.01, 100.0, 30.0
    skews = [0, 0, 50]
    channels = []
    for k, (cname, shift) in enumerate([("Ia", 0), ("Ib", -120), ("Ic", 120)]):
        x = rms * math.sqrt(2) * np.cos(2 * math.pi * F * (t + skews[k] * 1e-6) + math.radians(phi + shift))
        channels.append((cname, a, skews[k], np.round(x / a)))
    return rates, t, channels


def test_phasors(service, fmt):
    rates, t, channels = three_phase(fmt)
    name = f"three_{fmt}"
    write_record(service.records + "/S", name, fmt, channels, [("Trip", np.zeros(3000))], rates,
                 "01/01/2020,00:00:00.000000", "01/01/2020,00:00:00.250000")
    answer = service.ask("/getPhasors", {
        "groupName": "S", "fileName": name, "points": 3000, "channelList": ["Ia", {"analog": 2}, {"analog": 3}, "Trip"],
        "sequence": [{"analog": 1}, {"analog": 2}, {"analog": 3}]})
    check([c["name"] for c in answer["channels"]] == ["Ia", "Ib", "Ic"],
          f"{fmt}: /getPhasors answers the analog channels only, in request order")
    check(answer["samplesPerCycle"] == [80] * 2000 + [40] * 1000 and not answer["approximate"],
          f"{fmt}: 80 samples a cycle, then 40 after the rate change")
    wrong = []
    for c, (cname, a, skew, raw) in zip(answer["channels"], channels):
        x = raw * a
        for e in range(3000):
            n = 80 if e < 2000 else 40
            whole = e - n + 1 >= (0 if e < 2000 else 2000)
            z = reference_phasor(x[e - n + 1:e + 1], t[e - n + 1:e + 1] + skew * 1e-6) if whole else None
            rms = float(np.sqrt(np.mean(x[e - n + 1:e + 1] ** 2))) if whole else None
            if not (close(c["magnitude"][e], None if z is None else abs(z), 1e-9) and
                    close(c["rms"][e], rms, 1e-9) and
                    (z is None or angle_close(c["angle"][e], angle(z), 1e-7))):
                wrong.append((cname, e, c["magnitude"][e], c["angle"][e], z))
    check(not wrong, f"{fmt}: every phasor and RMS equals numpy's, null where no whole cycle ends "
                     f"({len(wrong)} differ: {wrong[:3]})")
    ia = answer["channels"][0]
    check(abs(ia["magnitude"][1000] - 100) < 0.05 and abs(ia["angle"][1000] - 30) < 0.05 and
          abs(answer["channels"][2]["angle"][2900] - 150) < 0.05,
          f"{fmt}: the known magnitude and angles come out, the skewed phase included")
    seq = answer["sequence"]
    check(abs(seq["positive"]["magnitude"][1500] - 100) < 0.05 and
          abs(seq["positive"]["angle"][1500] - 30) < 0.05 and
          seq["negative"]["magnitude"][1500] < 0.05 and seq["zero"]["magnitude"][1500] < 0.05 and
          seq["zero"]["magnitude"][10] is None,
          f"{fmt}: a balanced set is all positive sequence")
    spread = service.ask("/getPhasors", {"groupName": "S", "fileName": name, "channelList": ["Ia"],
                                         "from": 100, "to": 1100, "points": 4})
    check(spread["time"] == [349 * 250.0, 599 * 250.0, 849 * 250.0, 1099 * 250.0] and
          spread["samplesPerCycle"] == 80,
          f"{fmt}: points spread evenly over the window, the last at its end")


def test_harmonics(service, fmt):
    rates = [(4000, 1600)]
    t = sample_times(rates, 1600)
    w = 2 * math.pi * F
    x = (5 + 100 * math.sqrt(2) * np.cos(w * t) + 20 * math.sqrt(2) * np.cos(3 * w * t + math.radians(40)) +
         10 * math.sqrt(2) * np.cos(5 * w * t - math.radians(70)))
    a = 0.01
    raw = np.round(x / a)
    write_record(service.records + "/S", f"harm_{fmt}", fmt, [("U", a, 0, raw)], [("D", np.zeros(1600))], rates,
                 "01/01/2020,00:00:00", "01/01/2020,00:00:00")
    answer = service.ask("/getHarmonics", {"groupName": "S", "fileName": f"harm_{fmt}", "channelList": ["U"],
                                           "at": 1199, "orders": 7})
    got = answer["channels"][0]
    cycle = raw[1120:1200] * a
    times = t[1120:1200]
    wrong = [h for h in range(1, 8)
             if not close(got["harmonics"][h]["magnitude"], abs(reference_phasor(cycle, times, h)), 1e-9)]
    check(got["harmonics"][0]["magnitude"] == float(np.mean(cycle)) or
          close(got["harmonics"][0]["magnitude"], float(np.mean(cycle)), 1e-12),
          f"{fmt}: order 0 is the mean of the cycle")
    check(not wrong, f"{fmt}: every order's magnitude equals numpy's (differ: {wrong})")
    m = {h["order"]: h for h in got["harmonics"]}
    check(abs(m[0]["magnitude"] - 5) < 0.01 and abs(m[1]["magnitude"] - 100) < 0.01 and
          abs(m[3]["magnitude"] - 20) < 0.01 and abs(m[3]["angle"] - 40) < 0.05 and
          abs(m[5]["magnitude"] - 10) < 0.01 and abs(m[5]["angle"] + 70) < 0.05 and
          m[2]["magnitude"] < 0.01 and abs(got["thd"] - 100 * math.sqrt(20 ** 2 + 10 ** 2) / 100) < 0.01 and
          close(got["rms"], float(np.sqrt(np.mean(cycle ** 2))), 1e-9),
          f"{fmt}: DC, 3rd and 5th come out with their angles, THD and RMS")
    early = service.ask("/getHarmonics", {"groupName": "S", "fileName": f"harm_{fmt}", "channelList": ["U"],
                                          "at": 10, "orders": 100})
    check(early["channels"][0]["harmonics"] is None and early["orders"] == 40,
          f"{fmt}: a cycle that would start before the record is null; orders are cut to N/2")


def test_events(service, fmt):
    total = 1000
    steps = {"Trip": [(0, 0), (400, 1), (700, 0)], "Close": [(0, 1), (400, 0)], "Idle": [(0, 0)]}
    # A second record with 80 more channels, the last changing alone: its
    # status bits lie too far apart to be compared as one word.
    wide = dict(steps, **{f"S{k}": [(0, k % 2)] for k in range(80)}, Last=[(0, 0), (555, 1)])
    for name, shape in ((f"ev_{fmt}", steps), (f"ev_wide_{fmt}", wide)):
        check_events(service, fmt, name, shape, total)


def check_events(service, fmt, name, steps, total):
    statuses = []
    for cname, changes in steps.items():
        values = np.zeros(total)
        for at, v in changes:
            values[at:] = v
        statuses.append((cname, values))
    rates = [(1000, total)]
    write_record(service.records + "/S", name, fmt, [("U", 1, 0, np.zeros(total))], statuses, rates,
                 "01/01/2020,23:59:59.900000", "02/01/2020,00:00:00.150000")
    answer = service.ask("/getEvents", {"groupName": "S", "fileName": name})
    expected = []
    values = np.array([s[1] for s in statuses])
    for n in np.nonzero(np.any(np.diff(values, axis=1) != 0, axis=0))[0] + 1:
        for j in range(len(statuses)):
            if values[j, n] != values[j, n - 1]:
                expected.append({"index": j + 1, "kind": "status", "name": statuses[j][0], "sample": int(n),
                                 "time": n * 1000.0, "value": int(values[j, n])})
    check(answer["events"] == expected and not answer["truncated"],
          f"{name}: every change of state, in sample then channel order ({len(expected)} events)")
    check([(i["name"], i["value"]) for i in answer["initial"]] == [(c, int(v[0])) for c, v in statuses],
          f"{name}: the initial states")
    check(abs(answer["triggerUs"] - 250000) < 1e-6, f"{fmt}: the trigger 250 ms after a start across midnight")


def test_export(service, fmt):
    """The CSV of a window holds what /getWaveform gives at one sample a bucket."""
    name = f"three_{fmt}"
    chosen = [{"analog": 3}, "Trip", "Ia"]
    headers, text = service.download("/exportRecord", {"groupName": "S", "fileName": name, "channelList": chosen,
                                                       "from": 1990, "to": 2010, "format": "csv"})
    wave = service.ask("/getWaveform", {"groupName": "S", "fileName": name, "channelList": chosen,
                                        "from": 1990, "to": 2010, "points": 20})
    lines = text.split("\r\n")
    expected = ["time_us,Ic[A],Trip,Ia[A]"]
    for i, us in enumerate(wave["time"]):
        expected.append(",".join([f"{us:.3f}"] + [
            (f"{c['min'][i]:.4f}" if c["kind"] == "analog" else str(c["min"][i])) for c in wave["channels"]]))
    check(lines == expected + [""], f"{fmt}: the CSV holds the window's samples, columns in request order")
    check(headers.get("Content-Type") == "text/csv; charset=GBK" and
          headers.get("Content-Disposition") == f'attachment; filename="{name}_1990-2010.csv"',
          f"{fmt}: the CSV comes as a download named after the record and the window")


def test_export_cff(service, fmt):
    """The .cff of a window across the rate change reads back as the window of the source."""
    name = f"three_{fmt}"
    chosen = ["Trip", {"analog": 3}, "Ia"]
    headers, text = service.download("/exportRecord", {"groupName": "S", "fileName": name, "channelList": chosen,
                                                       "from": 1900, "to": 2100, "format": "cff"})
    check(headers.get("Content-Disposition") == f'attachment; filename="{name}_1900-2100.cff"',
          f"{fmt}: the .cff comes as a download named after the record and the window")
    with open(os.path.join(service.records, "S", f"slice_{fmt}.cff"), "wb") as f:
        f.write(text.encode("latin-1"))
    info = service.ask("/getRecordInfo", {"groupName": "S", "fileName": f"slice_{fmt}"})["record"]
    check(info["revision"] == "2013" and info["samples"] == 200 and
          info["rates"] == [{"rate": 4000, "last": 100}, {"rate": 2000, "last": 200}] and
          [a["name"] for a in info["analogs"]] == ["Ia", "Ic"] and info["analogs"][1]["skew"] == 50 and
          [d["name"] for d in info["digitals"]] == ["Trip"] and
          info["startTime"] == "01/01/2020,00:00:00.475000" and
          info["triggerTime"] == "01/01/2020,00:00:00.250000",
          f"{fmt}: the slice's header: its channels renumbered, rates cut, start moved, trigger kept")
    names = ["Ia", "Ic", "Trip"]
    whole = service.ask("/getWaveform", {"groupName": "S", "fileName": f"slice_{fmt}", "channelList": names,
                                         "points": 200})
    source = service.ask("/getWaveform", {"groupName": "S", "fileName": name, "channelList": names,
                                          "from": 1900, "to": 2100, "points": 200})
    check([c["min"] for c in whole["channels"]] == [c["min"] for c in source["channels"]] and
          [round(t - whole["time"][0], 3) for t in whole["time"]] ==
          [round(t - source["time"][0], 3) for t in source["time"]],
          f"{fmt}: the slice read back equals the source's window sample for sample")
    _, text = service.download("/exportRecord", {"groupName": "S", "fileName": name, "channelList": chosen,
                                                 "from": 5000, "format": "cff"})
    with open(os.path.join(service.records, "S", f"empty_{fmt}.cff"), "wb") as f:
        f.write(text.encode("latin-1"))
    info = service.ask("/getRecordInfo", {"groupName": "S", "fileName": f"empty_{fmt}"})["record"]
    check(info["samples"] == 0 and info["rates"] == [{"rate": 2000, "last": 0}] and
          info["startTime"] == "01/01/2020,00:00:01.000000" and info["fileType"] == fmt.upper(),
          f"{fmt}: a window past the end gives a .cff without samples that still reads as one")


def test_samples(service, folder):
    """Phasors of real records against numpy on their samples read back at one a bucket."""
    cfgs = sorted(glob.glob(os.path.join(folder, "**", "*.cfg"), recursive=True) +
                  glob.glob(os.path.join(folder, "**", "*.CFG"), recursive=True))
    store = os.path.join(service.records, "real")
    os.makedirs(store, exist_ok=True)
    compared = 0
    for k, cfg in enumerate(cfgs):
        if compared >= 12:
            break
        base = os.path.splitext(cfg)[0]
        dat = next((base + e for e in (".dat", ".DAT") if os.path.exists(base + e)), None)
        if dat is None:
            continue
        shutil.copy(cfg, os.path.join(store, f"r{k}.cfg"))
        shutil.copy(dat, os.path.join(store, f"r{k}.dat"))
        try:
            info = service.ask("/getRecordInfo", {"groupName": "real", "fileName": f"r{k}"})["record"]
        except Failure:
            continue
        if not info["frequency"] or not info["analogs"] or info["samples"] < 100:
            continue
        chosen = [{"analog": a["index"]} for a in info["analogs"][:3]]
        window = min(info["samples"], 3000)
        try:
            wave = service.ask("/getWaveform", {"groupName": "real", "fileName": f"r{k}", "channelList": chosen,
                                                "to": window, "points": window})
            got = service.ask("/getPhasors", {"groupName": "real", "fileName": f"r{k}", "channelList": chosen,
                                              "to": window, "points": window})
        except Failure:
            continue
        if wave["step"] != 1 or None in wave["time"]:
            continue
        t = np.array(wave["time"]) / 1e6
        for c, w in zip(got["channels"], wave["channels"]):
            x = np.array([np.nan if v is None else v for v in w["min"]])
            skew = (info["analogs"][c["index"] - 1]["skew"] or 0) * 1e-6
            per = got["samplesPerCycle"]
            for e in range(len(x)):
                n = per[e] if isinstance(per, list) else per
                mag = c["magnitude"][e]
                if mag is None or n is None:
                    continue
                z = reference_phasor(x[e - n + 1:e + 1], t[e - n + 1:e + 1] + skew)
                # The samples read back are "%.4f" texts: their rounding moves a
                # phasor by at most √2 · 5e-5.
                if abs(mag - abs(z)) > 1e-4 + 1e-9 * abs(z):
                    raise Failure(f"{cfg} {c['name']} cycle ending {e}: {mag} against numpy's {abs(z)}")
        compared += 1
    check(compared > 0 or not cfgs, f"the phasors of {compared} real records equal numpy's")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--samples", help="a folder of real records (optional)")
    args = parser.parse_args()
    failed = 0
    with tempfile.TemporaryDirectory(prefix="analysis-test-") as scratch:
        service = Service(os.path.abspath(args.service), scratch)
        os.makedirs(service.records + "/S")
        tests = [(f, fmt) for fmt in ("ASCII", "BINARY")
                 for f in (test_phasors, test_harmonics, test_events, test_export, test_export_cff)]
        if args.samples and os.path.isdir(args.samples):
            tests.append((test_samples, args.samples))
        try:
            for test, arg in tests:
                try:
                    test(service, arg)
                except Failure as failure:
                    print(f"not ok - {failure}")
                    failed += 1
        finally:
            service.stop()
    print(f"{len(tests) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
