"""Records the viewer is tried on, written at run time into the copy of the
demo installation, as ASCII so that the value at each sample is known here."""
import math
import os

# The record store of the service under test, when this script started it.
STORE = {}


GEN_STATION = "Gen"
EMPTY_STATION = "Empty"
GEN_RATE = 1000
GEN_SAMPLES = 400


def gen_analog(channel, n):
    """The value written for analog channel `channel` (0-based) at sample n."""
    raw = [(n * 7) % 200 - 100, 50 - n % 100, round(200 * math.sin(2 * math.pi * 50 * n / GEN_RATE))]
    return raw[channel] * (0.01 if channel < 2 else 1)


def gen_status(channel, n):
    return [0, (n // 10) % 2, 1, int(n >= 200), (n // 50) % 2][channel]


def write_record(folder, name, analogs, statuses, rates, rows, *,
                 revision="1999", start="01/12/2026,10:00:00.000000",
                 trigger="01/12/2026,10:00:00.100000", encoding="gbk", stamp_us=1000, frequency="50"):
    """An ASCII record: `analogs` are (name, unit, a, primary, secondary, ps),
    `rows` the raw integers of each written sample; the samples the .cfg
    declares are the last rate's last sample."""
    lines = [f"{GEN_STATION},DEV1,{revision}",
             f"{len(analogs) + len(statuses)},{len(analogs)}A,{len(statuses)}D"]
    for i, (label, unit, a, primary, secondary, ps) in enumerate(analogs, 1):
        lines.append(f"{i},{label},,,{unit},{a},0,0,-32767,32767,{primary},{secondary},{ps}")
    # Status channels numbered on from the analogs, as real records do.
    lines += [f"{len(analogs) + i},{label},,,0" for i, label in enumerate(statuses, 1)]
    lines += [frequency, str(len(rates))] + [f"{r},{last}" for r, last in rates]
    lines += [start, trigger, "ASCII", "1"]
    if revision == "2013":
        lines += ["+8h00,+8h00", "0,0"]
    with open(os.path.join(folder, name + ".cfg"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode(encoding))
    with open(os.path.join(folder, name + ".dat"), "w", newline="\r\n") as f:
        for n, row in enumerate(rows):
            f.write(",".join([str(n + 1), str(n * stamp_us)] + [str(v) for v in row]) + "\n")


# The analysis record: 50 Hz at 2000 Hz, a balanced three-phase set of
# voltages (RMS, angles in degrees of A·√2·cos(ωt + φ)) and a current with
# DC, 3rd and 5th harmonics; two status steps, the trigger at sample 200.
PH_RATE = 2000
PH_SAMPLES = 800
PH_VOLTS = 57.735
PH_ANGLES = [30, -90, 150]
PH_HARMONICS = {0: 1.0, 1: 10.0, 3: 2.0, 5: 1.0}   # order -> RMS (the mean for 0)
PH_STEPS = {"Trip": (300, 0, 1), "CB": (500, 1, 0)}  # name -> (sample, before, after)


def ph_volts(phase, n):
    t = n / PH_RATE
    return PH_VOLTS * math.sqrt(2) * math.cos(2 * math.pi * 50 * t + math.radians(PH_ANGLES[phase]))


def ph_current(n):
    t = n / PH_RATE
    return sum(m if h == 0 else m * math.sqrt(2) * math.cos(2 * math.pi * 50 * h * t)
               for h, m in PH_HARMONICS.items())


def write_analysis_record(folder):
    analogs = [(f"U{p}", "kV", 0.01, 220, 0.1, "P") for p in "abc"] + [("Ih", "A", 0.001, 600, 5, "S")]
    rows = [[round(ph_volts(k, n) / 0.01) for k in range(3)] + [round(ph_current(n) / 0.001)] +
            [after if n >= at else before for at, before, after in PH_STEPS.values()]
            for n in range(PH_SAMPLES)]
    write_record(folder, "phasors", analogs, list(PH_STEPS), [(PH_RATE, PH_SAMPLES)], rows,
                 stamp_us=1000000 // PH_RATE)
    # No line frequency: nothing to analyse.
    write_record(folder, "nofreq", analogs[:1], [], [(PH_RATE, 100)], [[n] for n in range(100)],
                 frequency="0")


def write_generated_records(records):
    folder = os.path.join(records, GEN_STATION)
    os.makedirs(folder)
    os.makedirs(os.path.join(records, EMPTY_STATION))
    # Names repeated within the status kind and across kinds; ±200 kV beside
    # currents of a few A; a unit padded inside its field.
    analogs = [("Ia", " A", 0.01, 600, 5, "S"), ("Ib", "A", 0.01, 600, 5, "S"),
               ("Ua", "kV", 1, 220, 0.1, "P")]
    statuses = ["*", "*", "*", "Ua", "Man_Close_Cmd"]
    rows = [[round(gen_analog(k, n) / (0.01 if k < 2 else 1)) for k in range(3)] +
            [gen_status(k, n) for k in range(5)] for n in range(GEN_SAMPLES)]
    write_record(folder, "names", analogs, statuses, [(GEN_RATE, GEN_SAMPLES)], rows)
    # A data file shorter than its .cfg declares.
    write_record(folder, "short", [("I", "A", 1, 1, 1, "P")], [], [(GEN_RATE, 1000)],
                 [[n] for n in range(186)])
    # 83 rate lines, two samples each.
    write_record(folder, "rates83", [("I", "A", 1, 1, 1, "P")], [],
                 [(1000 + k, 2 * (k + 1)) for k in range(83)], [[n] for n in range(166)])
    # 30 s at 10 Hz, triggered by a clock that was never set.
    write_record(folder, "clock", [("I", "A", 1, 1, 1, "P")], [], [(10, 300)],
                 [[n % 7] for n in range(300)], trigger="01/01/1970,00:00:00.000000")
    # A 2013 record written in UTF-8.
    write_record(folder, "utf8", [("电流", "A", 1, 1, 1, "P")], [], [(GEN_RATE, 50)],
                 [[n] for n in range(50)], revision="2013", encoding="utf-8")
    write_analysis_record(folder)


if __name__ == "__main__":
    import sys
    write_generated_records(sys.argv[1])
