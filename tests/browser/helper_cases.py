"""The viewer's modules of pure helpers: expressions over each and what they
give, evaluated in the page by viewer_test.py."""

# Expressions over samples.js and what they give. Time stamps are told apart
# by their differences, the only use the page makes of them.
SAMPLES_CASES = [
    ('m.timestampUs("01/12/2026,10:00:00.100000", false) -'
     ' m.timestampUs("01/12/2026,10:00:00.000000", false)', 100000),
    ('m.timestampUs("02/01/2026, 00:00:00", false) - m.timestampUs("01/01/2026,23:59:59.5", false)',
     500000),
    ('m.timestampUs("01/01/2026,00:00:01.", false) - m.timestampUs("01/01/2026,00:00:00", false)',
     1000000),
    ('m.timestampUs("12/01/2026,00:00:00", true) === m.timestampUs("01/12/2026,00:00:00", false)',
     True),
    ('m.timestampUs("13/01/2026,00:00:00", true) === m.timestampUs("13/01/2026,00:00:00", false)',
     True),
    # Two-digit years across 2000, and a four-digit year below 100 (0000 is
    # a leap year, 1900 is not).
    ('m.timestampUs("01/01/00,00:00:00", false) - m.timestampUs("31/12/99,00:00:00", false)',
     86400000000),
    ('m.timestampUs("01/03/0000,00:00:00", false) - m.timestampUs("28/02/0000,00:00:00", false)',
     2 * 86400000000),
    ('m.timestampUs("yesterday", false)', None),
    ('m.timestampUs(null, true)', None),
    ('m.triggerOffsetMs({ revision: "1999", startTime: "01/12/2026,10:00:00.000000",'
     ' triggerTime: "01/12/2026,10:00:00.100000" })', 100),
    ('m.triggerOffsetMs({ revision: "1991", startTime: "01/02/2026,00:00:00",'
     ' triggerTime: "01/03/2026,00:00:00" })', 86400000),
    ('m.triggerOffsetMs({ revision: " ", startTime: "01/02/2026,00:00:00",'
     ' triggerTime: "01/03/2026,00:00:00" })', 86400000),
    ('m.triggerOffsetMs({ revision: 2013, startTime: "01/02/2026,00:00:00",'
     ' triggerTime: "01/03/2026,00:00:00" })', 28 * 86400000),
    ('m.triggerOffsetMs({ revision: "1999", startTime: "01/02/2026,00:00:00", triggerTime: "" })',
     None),
    ("[0, 1280.4, 1e7].map(m.pointsForWidth)", [1, 1280, 100000]),
    ("[m.bucket(1, 3, 0), m.bucket(0, 1, 1.5), m.bucket(null, 1, 0), m.bucket(1, null, 0)]",
     [[1, 2, 3], [1.5, 2, 2.5], None, None]),
    # Equal steps, before the first and after the last bucket, then two rates
    # and a single bucket.
    ("[0, 0.5, 1, 2.5, -1, 10]"
     ".map((ms) => m.sampleAt({ from: 100, step: 2, time: [0, 1000, 2000] }, ms))",
     [100, 101, 102, 105, 100, 106]),
    ("m.sampleAt({ from: 0, step: 1, time: [0, 1000, 1500] }, 1.25)", 1.5),
    ("m.sampleAt({ from: 40, step: 4, time: [3000] }, 3.5)", 42),
    ("[[10, 20], [-5, 5], [95, 110], [50, 51], [2.4, 12.6]]"
     ".map(([f, t]) => m.clampWindow(f, t, 100))",
     [{"from": 10, "to": 20}, {"from": 0, "to": 10}, {"from": 85, "to": 100},
      {"from": 47, "to": 55}, {"from": 2, "to": 12}]),
    # "+" at the narrowest window leaves it where it is.
    ("m.clampWindow(...m.zoomed({ from: 100, to: 108 }, 0.5), 1000)", {"from": 100, "to": 108}),
    ("[m.clampWindow(0, 3, 5), m.clampWindow(0, 0, 0)]",
     [{"from": 0, "to": 5}, {"from": 0, "to": 0}]),
    ("[m.zoomed({ from: 0, to: 100 }, 0.5), m.zoomed({ from: 0, to: 100 }, 2)]",
     [[25, 75], [-50, 150]]),
    # A window too narrow for a quarter still moves by a sample, either way.
    ("[m.panned({ from: 0, to: 100 }, 0.25), m.panned({ from: 10, to: 12 }, -0.25),"
     " m.panned({ from: 10, to: 11 }, 0.25)]", [[25, 125], [9, 11], [11, 12]]),
    # A jump keeps a narrow window's width; from the whole record it shows a quarter.
    ("[m.centredOn({ from: 0, to: 100 }, 500, 1000), m.centredOn({ from: 0, to: 1000 }, 10, 1000),"
     " m.centredOn({ from: 5, to: 6 }, 3, 10)]", [[450, 550], [-115, 135], [3, 4]]),
    ("[m.msText(1.23456), m.msText(0), m.msText(12345.6, 30000), m.timeUnit(9999),"
     " m.timeUnit(10000)]", ["1.235 ms", "0.000 ms", "12.3456 s", "ms", "s"]),
    # The span runs to the last sample, not to the start of the last bucket.
    ("[m.viewSpanMs({ from: 0, to: 6, step: 2, time: [0, 4000, 8000] }),"
     " m.viewSpanMs({ from: 5, to: 8, step: 1, time: [1000, 2000, 3000] }),"
     " m.viewSpanMs({ from: 0, to: 7, step: 3, time: [0, 3000, 6000] }),"
     " m.viewSpanMs({ from: 0, to: 1, step: 1, time: [0] }),"
     " m.viewSpanMs({ from: 0, to: 0, step: 1, time: [] })]",
     [[0, 10], [1, 3], [0, 6], [0, 1], None]),
    ("[m.plausibleTriggerMs(100, 500), m.plausibleTriggerMs(-1266874889659, 500),"
     " m.plausibleTriggerMs(null, 500), m.plausibleTriggerMs(-2000, 500)]",
     [100, None, None, -2000]),
    ("[m.countText(45600), m.countText(186), m.countText(1000000)]",
     ["45,600", "186", "1,000,000"]),
    ("[m.bandText([1, 1, 1]), m.bandText([1, 1.5, 2]), m.bandText(null)]",
     ["1.0000", "1.0000 … 2.0000", "—"]),
    ("[[1.5, 1.5, 1.5], [2.5, 2.5, 2.5], [1.5, 2, 2.5], null].map((b) => m.stateText(b, 1.5))",
     ["0", "1", "0/1", "—"]),
]
# Expressions over names.js: "\uf7b1\uf7b1\uf7be\uf7a9" is the byte string of
# 北京 in GBK.
NAMES_CASES = [
    (r'Array.from(m.byteString("A\uf7b1\uf7a9"))', [65, 0xB1, 0xA9]),
    ("(() => { const all = Uint8Array.from({ length: 256 }, (_, i) => i);"
     " return Array.from(m.byteString(m.byteText(all))).every((b, i) => b === i); })()", True),
    (r'[m.display("\uf7b1\uf7b1\uf7be\uf7a9_001"), m.display("GEN01"), m.display("")]',
     ["北京_001", "GEN01", ""]),
    # UTF-8 where the bytes are valid UTF-8 (电 is E7 94 B5), GBK otherwise.
    (r'[m.display("\uf7e7\uf794\uf7b5"), m.recordDecoder(["A", "\uf7e7\uf794\uf7b5"])("\uf7e7\uf794\uf7b5"),'
     r' m.recordDecoder(["\uf7b1\uf7b1", "\uf7e7\uf794\uf7b5"])("\uf7b1\uf7b1")]',
     ["电", "电", "北"]),
    # Repeated labels are told apart by kind and position; units lose their padding.
    ('m.seriesLabels([{ kind: "analog", index: 1, name: "Ua", unit: " kV" },'
     ' { kind: "analog", index: 2, name: "Ub", unit: "" },'
     ' { kind: "status", index: 1, name: "*" }, { kind: "status", index: 2, name: "*" },'
     ' { kind: "status", index: 3, name: "Ua" }], (t) => t)',
     ["Ua [kV]", "Ub", "* #s1", "* #s2", "Ua"]),
    (r'm.seriesLabels([{ kind: "analog", index: 1, name: "\uf7b1\uf7b1", unit: "\uf7a1\uf7e6" }],'
     r' m.recordDecoder([]))', ["北 [℃]"]),
]
# Expressions over channels.js.
CHANNELS_CASES = [
    ('[m.selectorOf("a3"), m.selectorOf("s12"), m.selectorOf("a0"), m.selectorOf("x1"),'
     ' m.selectorOf("a")]', [{"analog": 3}, {"status": 12}, None, None, None]),
    # Positions are counted within each kind, whatever number the record wrote.
    ('m.recordChannels({ analogs: [{ index: 1 }], digitals: [{ index: 25 }, { index: 26 }] })'
     '.digitals.map((c) => c.key)', ["s1", "s2"]),
    ('m.answerKeys({ channels: [{ kind: "status", index: 2 }, {}] }, ["a1", "a7"])', ["s2", "a7"]),
    ('m.panesOf([{ name: "Ia", unit: "A" }, { name: "Ua", unit: "kV" }, { name: "Ib", unit: " a" },'
     ' { name: "X", unit: "" }], "unit", (t) => t)'
     '.map((p) => [p.title, p.channels.map((c) => c.name)])',
     [["A", ["Ia", "Ib"]], ["kV", ["Ua"]], ["no unit", ["X"]]]),
    ('m.panesOf([{ name: "Ia", unit: "A" }, { name: "Ib", unit: "A" }], "channel", (t) => t).length', 2),
    ('[["recorded", "S"], ["primary", "S"], ["secondary", "S"], ["primary", "P"],'
     ' ["secondary", "P"], ["primary", "x"]]'
     '.map(([mode, ps]) => m.scaleFactor({ primary: 600, secondary: 5, ps }, mode))',
     [1, 120, 1, 1, 5 / 600, 1]),
    ('[m.scaleFactor({ primary: 0, secondary: 5, ps: "S" }, "primary"),'
     ' m.scaleFactor({ primary: null, secondary: 5, ps: "S" }, "primary")]', [1, 1]),
    ('[m.matchesFilter("Ia [A]", "ia"), m.matchesFilter("Ia [A]", "kv"),'
     ' m.matchesFilter("Man_Close_Cmd", "close man"), m.matchesFilter("x", "  ")]',
     [True, False, True, True]),
]
# Expressions over fragment.js: a GBK station name and every part of a view
# come back as they went in; parts that do not parse are left out.
FRAGMENT_CASES = [
    (r'm.parseFragment(m.fragmentOf({ station: "\uf7b1\uf7b1 x", record: "r&1",'
     r' channels: ["a1", "s3"], window: { from: 10, to: 20 }, cursors: { a: 12, b: null },'
     r' panes: "channel", values: "primary" }))',
     {"station": " x", "record": "r&1", "channels": ["a1", "s3"],
      "window": {"from": 10, "to": 20}, "cursors": {"a": 12, "b": None}, "panes": "channel",
      "values": "primary"}),
    ('m.parseFragment("#st=N&rec=R&ch=a1,zz,s0&w=9-3&ca=x&pane=q&val=y")',
     {"station": "N", "record": "R", "channels": ["a1"], "window": None,
      "cursors": {"a": None, "b": None}, "panes": "unit", "values": "recorded"}),
    ('[m.parseFragment(""), m.parseFragment("#st=N")]', [None, None]),
]
# Expressions over export.js and cursors.js.
EXPORT_CASES = [
    ('m.csvText({ step: 1, time: [0, 250], channels: [{ min: [1, -2.5], max: [1, -2.5] },'
     ' { min: [0, 1], max: [0, 1] }] }, [{ label: "Ia [A]", factor: 2 },'
     ' { label: "a,b", status: true, factor: 1 }])',
     'time_us,Ia [A],"a,b"\r\n0.000,2.0000,0\r\n250.000,-5.0000,1\r\n'),
    ('m.csvText({ step: 4, time: [0], channels: [{ min: [null], max: [null] }] },'
     ' [{ label: "U", factor: 1 }])', "time_us,U min,U max\r\n0.000,,\r\n"),
]
CURSORS_CASES = [
    ('[m.deltaText(1, 21), m.deltaText(5, 5), m.deltaText(null, 1)]',
     ["Δt = 20.000 ms · 1/Δt = 50.000 Hz", "Δt = 0.000 ms · 1/Δt = —", ""]),
]
# Expressions over diagrams.js.
DIAGRAMS_CASES = [
    ("[m.relativeAngle(-150, 120), m.relativeAngle(180, -180), m.relativeAngle(-90, 90),"
     " m.relativeAngle(10, null), m.relativeAngle(null, 0)]", [90, 0, 180, None, None]),
    # The largest reaches the rim, 90° points up; a missing phasor has no arrow and no say.
    ("m.arrowTips([{ magnitude: 2, angle: 0 }, { magnitude: 1, angle: 90 },"
     " { magnitude: null, angle: 0 }, { magnitude: 4, angle: null }], 100)",
     [{"x": 100, "y": 0}, {"x": 0, "y": -50}, None, None]),
    ("m.arrowTips([{ magnitude: 0, angle: 45 }], 100)", [{"x": 0, "y": 0}]),
    ("m.harmonicBars([{ order: 0, magnitude: 1 }, { order: 1, magnitude: 4 },"
     " { order: 2, magnitude: null }], 30, 100).map((b) => [b.order, b.x, b.w, b.y, b.h])",
     [[0, 1.5, 7, 75, 25], [1, 11.5, 7, 0, 100], [2, 21.5, 7, 100, 0]]),
    ("[m.eventMs(150000, 100000), m.eventMs(50000, 100000), m.eventMs(1500, null)]",
     [50, -50, 1.5]),
    # Each bucket takes the last point before the next one starts.
    ("m.onBuckets([1000, 2000, 3000], [1, 2, 3], [0, 500, 1500, 2500, 4000])",
     [None, 1, 2, 3, 3]),
    ("m.onBuckets([], [], [0, 1])", [None, None]),
    ('[m.fileNameOf(\'attachment; filename="r_0-10.cff"\', "x"), m.fileNameOf("", "x"),'
     ' m.fileNameOf("attachment; filename=a.csv", "x"),'
     ' m.fileNameOf(\'attachment; filename="\\xb1\\xb1.csv"\', "x"),'
     ' m.fileNameOf("attachment; filename=\\"__.csv\\"; filename*=UTF-8\'\'%E5%8C%97%E4%BA%AC.csv", "x")]',
     ["r_0-10.cff", "x", "a.csv", "\uf7b1\uf7b1.csv", "\uf7e5\uf78c\uf797\uf7e4\uf7ba\uf7ac.csv"]),
    # The first unit with three channels, "A" and " a" as one; else the first three.
    ('[m.threePhaseKeys([{ key: "a1", unit: "kV" }, { key: "a2", unit: "A" }, { key: "a3", unit: "kV" },'
     ' { key: "a4", unit: " a" }, { key: "a5", unit: "a" }, { key: "a6", unit: "V" }], (t) => t),'
     ' m.threePhaseKeys([{ key: "a1", unit: "kV" }, { key: "a2", unit: "A" }], (t) => t)]',
     [["a2", "a4", "a5"], ["a1", "a2"]]),
]
