#!/usr/bin/env python3
"""Byte-for-byte comparison of the jobs two builds of `ostrelin` write.

Generates a corpus of HPGL pages and stroke scripts (random polylines long and short, line types,
pens, pen-up travels around the 5 mm boundary, labels, scaling, relative moves, far and negative
coordinates, the bundled examples) and a set of machine settings (machine kinds, both controllers,
the variant flush and pre-pass through the printer's vector parameters, resolutions, orientations,
file order, passes and depth steps, colour modes, speeds), runs both binaries on every pair on the
spool road (`print`) and the rendering road (`render --strokes`), and compares the job files, the
printer data the engine stores, the exit status and the messages. Both binaries must know every
command of the corpus (the bundled examples included): build the reference from the same sources
without the change under test.

The reference outputs are kept in WORK/ref and reused while the reference binary and this script
stay the same, so a run after a change only runs the new binary.

  bench/compare_jobs.py --ref /tmp/ostrelin-ref --new build/bin/ostrelin [--work DIR] [--jobs 2]

Exit status 0 when every case matches, 1 otherwise.
"""

import argparse
import concurrent.futures
import hashlib
import json
import math
import os
import random
import shutil
import subprocess
import sys

CORPUS_VERSION = "1"


# ---------------------------------------------------------------------------------------------
# HPGL pages

def page_polylines(seed, size, line_types=True, max_coordinate=20000):
    """Random PA/PD polylines with pen changes and line types, as the spool-road benchmark makes."""
    r = random.Random(seed)
    parts = ["IN;SP1;"]
    length = 7
    pen = 1
    while length < size:
        s = ""
        if r.randrange(50) == 0:
            pen = pen % 4 + 1
            s += "SP%d;" % pen
            if line_types:
                s += "LT2,4;" if r.randrange(3) == 0 else "LT;"
        s += "PU%d,%d;PD" % (r.randint(0, max_coordinate), r.randint(0, max_coordinate))
        s += ",".join("%d,%d" % (r.randint(0, max_coordinate), r.randint(0, max_coordinate))
                      for _ in range(r.randint(1, 12))) + ";"
        parts.append(s)
        length += len(s)
    parts.append("PU;PG;")
    return "".join(parts)


def page_curves(seed, size):
    """Short segments: circles, spirals and wiggles drawn as polylines, in every pen."""
    r = random.Random(seed)
    parts = ["IN;"]
    length = 0
    while length < size:
        pen = r.randint(0, 8)
        s = "SP%d;" % pen
        cx, cy = r.uniform(500, 19000), r.uniform(500, 11000)
        radius = r.choice([3, 20, 150, 800, 4000])
        steps = r.randint(8, 400)
        turns = r.choice([1, 1, 2, 5])
        kind = r.randrange(3)
        points = []
        for i in range(steps + 1):
            a = 2 * math.pi * turns * i / steps
            rr = radius * (1 + i / steps) if kind == 1 else radius
            x = cx + rr * math.cos(a)
            y = cy + rr * math.sin(a)
            if kind == 2:
                x = cx + i * radius / steps * 4
                y = cy + (r.randint(-3, 3) if r.randrange(4) else 0)
            points.append((int(round(x)), int(round(y))))
        s += "PU%d,%d;PD" % points[0]
        s += ",".join("%d,%d" % p for p in points[1:]) + ";"
        parts.append(s)
        length += len(s)
    parts.append("PU;PG;")
    return "".join(parts)


def page_long_moves(seed):
    """Long and degenerate moves: axis-aligned, diagonal, reversals, repeats, beyond the plate and
    the far limit, negative coordinates, moves longer than one record."""
    r = random.Random(seed)
    s = ["IN;SP1;"]
    s.append("PU0,0;PD400000,0,400000,0,0,0,0,300000,0,0;")
    s.append("PU100,100;PD100,100,100,100;")
    s.append("PU1000,1000;PD1000,60000,1000,1000,60000,1000,-5000,1000;")
    s.append("PU-3000,-3000;PD-3000,4000,50000000,4000,50000000,-9000000;")
    s.append("PU60000,60000;PD60001,60000,60001,60001,60002,60001;")
    for _ in range(60):
        s.append("SP%d;PU%d,%d;PD%d,%d,%d,%d;" % (
            r.randint(1, 8), r.randint(-2000, 90000), r.randint(-2000, 90000),
            r.randint(-2000, 200000), r.randint(-2000, 200000),
            r.randint(-2000, 200000), r.randint(-2000, 200000)))
    s.append("SP2;PU0,0;PD39320,0,39320,39320;PU;PA0,0;PD131063,0;PU;")
    s.append("PU;PG;")
    return "".join(s)


def page_travel_boundaries(seed):
    """Pen-up travels of lengths around 5 mm (200 plotter units) and other short ones, with dots."""
    r = random.Random(seed)
    s = ["IN;SP1;PU1000,1000;"]
    x, y = 1000.0, 1000.0
    lengths = [0, 1, 2, 199, 199.6, 200, 200.2, 200.4, 201, 202, 400, 4000, 12000, 36000]
    for i in range(300):
        l = r.choice(lengths)
        a = r.choice([0, math.pi / 2, math.pi, 3 * math.pi / 2, r.uniform(0, 2 * math.pi)])
        x2 = max(0, x + l * math.cos(a))
        y2 = max(0, y + l * math.sin(a))
        s.append("PU%.3f,%.3f;PD%.3f,%.3f;" % (x2, y2, x2 + r.choice([0, 1, 3, 40]), y2))
        x, y = x2, y2
        if i % 37 == 0:
            s.append("SP%d;" % r.randint(1, 8))
    s.append("PU;PG;")
    return "".join(s)


def page_relative(seed):
    """Relative moves, pen states without coordinates, absolute again, scaling and input windows."""
    r = random.Random(seed)
    s = ["IN;SP2;PA2000,2000;PD;"]
    for _ in range(200):
        s.append("PR%d,%d;" % (r.randint(-300, 300), r.randint(-300, 300)))
        if r.randrange(9) == 0:
            s.append("PU;PR%d,%d;PD;" % (r.randint(-2000, 2000), r.randint(-2000, 2000)))
    s.append("PU;PA;IP0,0,4000,4000;SC0,100,0,100;SP3;PU10,10;PD90,10,90,90,10,90,10,10;")
    s.append("SC;IP;SP4;RO90;PU1000,1000;PD3000,1000,3000,3000;RO0;")
    s.append("IW1000,1000,5000,5000;PU0,0;PD8000,8000;IW;")
    s.append("PU;PG;")
    return "".join(s)


def page_line_types(seed):
    """Every line type with several pattern lengths, fixed and adaptive, on long and short strokes."""
    r = random.Random(seed)
    s = ["IN;SP1;"]
    y = 500
    for lt in range(0, 9):
        for pattern in ["", ",1", ",4", ",10"]:
            for sign in ["", "-"]:
                s.append("LT%s%d%s;" % (sign, lt, pattern))
                x0 = r.randint(200, 2000)
                s.append("PU%d,%d;PD%d,%d,%d,%d;" % (x0, y, x0 + r.randint(100, 16000), y,
                                                     x0 + r.randint(100, 16000), y + r.randint(1, 900)))
                y += 120
    s.append("LT;PU;PG;")
    return "".join(s)


def page_labels(seed):
    """Labels in several sizes, directions and slants, with the character set commands."""
    s = ["IN;SP1;PU1000,1000;SI0.4,0.6;LBHello, engraver\x03;"]
    s.append("PU1000,3000;DI1,1;SI0.8,1.2;SL0.3;LBSlanted ABC xyz 0123\x03;")
    s.append("PU6000,2000;DI0,1;SR2,3;LBUp the side\x03;DI;SL;")
    s.append("SP2;PU2000,6000;DT*;SI1.5,2.0;LBBig*;DT;CS7;LBSet seven\x03;CS0;")
    s.append("PU3000,8000;LO5;LBCentred\rline two\nline three\x03;LO1;")
    s.append("SP3;LT2,3;PU1000,9000;LBDashed text?\x03;LT;PU;PG;")
    return "".join(s)


def page_arcs_and_polygons(seed):
    """Circles, arcs, wedges and edged rectangles in every size (many short chords), polygons drawn
    and filled, encoded polylines."""
    r = random.Random(seed)
    s = ["IN;"]
    for _ in range(120):
        # Fills off the layers end the job ("Plate size error"): these stay within 300 x 300 mm.
        x, y = r.randint(1000, 4000), r.randint(1000, 10000)
        pen = r.randint(1, 8)
        kind = r.randrange(6)
        s.append("SP%d;PU%d,%d;" % (pen, x, y))
        if kind == 0:
            s.append("CI%d%s;" % (r.choice([5, 40, 300, 2500]), r.choice(["", ",1", ",10"])))
        elif kind == 1:
            s.append("PD;AA%d,%d,%d%s;PU;" % (x + r.randint(-900, 900), y + r.randint(-900, 900),
                                              r.randint(-360, 360), r.choice(["", ",2", ",20"])))
        elif kind == 2:
            s.append("PD;AR%d,%d,%d;PU;" % (r.randint(-900, 900), r.randint(-900, 900), r.randint(-270, 270)))
        elif kind == 3:
            s.append("EW%d,%d,%d;" % (r.randint(50, 1500), r.randint(0, 359), r.randint(10, 350)))
        elif kind == 4:
            s.append("EA%d,%d;RR%d,%d;" % (x + r.randint(10, 1000), y + r.randint(10, 1000),
                                          r.randint(10, 900), r.randint(10, 900)))
        else:
            pts = ",".join("%d,%d" % (x + r.randint(-800, 800), y + r.randint(-800, 800)) for _ in range(6))
            s.append("PM0;PD%s;PM2;EP;FP;PU;" % pts)
    s.append("SP1;PU1600,1200;PE7?xXq?xWq?xXq?xWq?xXq<OD`_G~__WqH~__Xq;PU;PG;")
    return "".join(s)


def page_dense_bench(seed, size):
    """Long polylines of points a few units apart, flushed when the planners' buffers fill up."""
    r = random.Random(seed)
    parts = ["IN;SP1;"]
    length = 0
    x, y = 8000, 6000
    while length < size:
        pts = []
        for _ in range(r.randint(50, 3000)):
            x = min(max(x + r.randint(-30, 30), 0), 23000)
            y = min(max(y + r.randint(-30, 30), 0), 11500)
            pts.append("%d,%d" % (x, y))
        s = "SP%d;PD%s;PU%d,%d;" % (r.randint(1, 4), ",".join(pts), r.randint(0, 20000),
                                     r.randint(0, 11000))
        parts.append(s)
        length += len(s)
    parts.append("PU;PG;")
    return "".join(parts)


def hpgl_pages(repo):
    pages = {
        "polylines-lt": page_polylines(7, 40000),
        "polylines-plain": page_polylines(11, 120000, line_types=False),
        "polylines-wide": page_polylines(12, 40000, max_coordinate=60000),
        "curves": page_curves(3, 60000),
        "curves-b": page_curves(4, 30000),
        "long-moves": page_long_moves(5),
        "travel-bounds": page_travel_boundaries(6),
        "relative": page_relative(8),
        "line-types": page_line_types(9),
        "labels": page_labels(10),
        # A label that never ends: the job is aborted with a syntax error.
        "aborted": "IN;SP1;PU100,100;PD4000,4000;DT*;LBNo end\x03;PU;PG;",
        "dense": page_dense_bench(13, 150000),
        "arcs-polygons": page_arcs_and_polygons(14),
    }
    examples = os.path.join(repo, "examples")
    for name in sorted(os.listdir(examples)):
        if name.endswith(".hpgl"):
            with open(os.path.join(examples, name), encoding="latin-1") as f:
                pages["example-" + name[:-5]] = f.read()
    return pages


# ---------------------------------------------------------------------------------------------
# Stroke scripts of the rendering road

def strokes_random(seed, count, scale, colours):
    r = random.Random(seed)
    lines = []
    for _ in range(count):
        if r.randrange(20) == 0:
            lines.append("colour %d" % r.choice(colours))
        op = "pu" if r.randrange(5) == 0 else "pd"
        lines.append("%s %d %d" % (op, r.randint(0, scale), r.randint(0, scale // 2)))
    lines.append("eof")
    return "\n".join(lines) + "\n"


def strokes_curves(seed, count):
    r = random.Random(seed)
    lines = ["colour 0"]
    for _ in range(count):
        cx, cy, rad = r.uniform(200, 9000), r.uniform(200, 4000), r.choice([2, 10, 80, 600])
        steps = r.randint(6, 200)
        lines.append("colour %d" % r.randint(0, 8))
        lines.append("pu %d %d" % (round(cx + rad), round(cy)))
        for i in range(1, steps + 1):
            a = 2 * math.pi * i / steps
            lines.append("pd %d %d" % (round(cx + rad * math.cos(a)), round(cy + rad * math.sin(a))))
    lines.append("eof")
    return "\n".join(lines) + "\n"


def stroke_scripts(repo):
    scripts = {
        "strokes-random": strokes_random(21, 4000, 12000, range(0, 9)),
        "strokes-wide": strokes_random(22, 1500, 200000, [0, 1, 2, 7]),
        "strokes-curves": strokes_curves(23, 60),
    }
    with open(os.path.join(repo, "examples", "sample-strokes.txt")) as f:
        scripts["strokes-sample"] = f.read()
    return scripts


# ---------------------------------------------------------------------------------------------
# Settings

def vector_params_hex(variant, pu_min, pd_min, pu_acc_long, pu_acc_short, pd_acc, pu_max, pd_max,
                      tol_base, tol_max, pre_count, pre_width):
    import struct
    block = struct.pack("<ihhhhhhhhff hh f".replace(" ", ""), variant, pu_min, pd_min, pu_acc_long,
                        pu_acc_short, pd_acc, pu_max, pd_max, 0, tol_base, tol_max, pre_count, 0,
                        pre_width)
    assert len(block) == 36
    return block.hex()


def printer_data(params_hex):
    return "VectorSpeed\t4\t01000000\nVectorSpeedValue\t3\t%s\n" % params_hex


def settings_profiles(defaults):
    """(name, settings dict, printer data text or None)."""
    profiles = []

    def make(name, changes=None, classes=None, data=None):
        s = json.loads(json.dumps(defaults))
        for key, value in (changes or {}).items():
            target = s
            parts = key.split(".")
            for p in parts[:-1]:
                target = target[p]
            target[parts[-1]] = value
        if classes:
            for i, c in enumerate(classes):
                s["classes"][i].update(c)
        profiles.append((name, s, data))

    mixed = [
        {"colourMode": 4, "speedMmPerS": 100, "passes": 1},
        {"colourMode": 2, "speedMmPerS": 250, "powerPercent": 80, "passes": 3, "depthStep": 5,
         "depthMode": 0},
        {"colourMode": 6, "speedMmPerS": 40, "passes": 2, "depthStep": 7, "depthMode": 1},
        {"colourMode": 3, "speedMmPerS": 100, "powerPercent": 90},
        {"colourMode": 0},
        {"colourMode": 7, "speedMmPerS": 1000, "ai": 3, "fr": 2, "slCode": 4},
        {"colourMode": 1},
        {"colourMode": 5, "speedMmPerS": 5, "passes": 0},
    ]
    for ctrl in (0, 1):
        c = {"motion.controllerKind": ctrl}
        tag = "c%d" % ctrl
        for kind in (0, 1, 2, 3, 4, 5, 11):
            make("k%d-%s" % (kind, tag), dict(c, machineKind=kind))
        for orient in range(1, 8):
            make("k2-o%d-%s" % (orient, tag), dict(c, machineKind=2, orientation=orient))
        make("k1-o5-%s" % tag, dict(c, machineKind=1, orientation=5))
        make("k1-res-%s" % tag, dict(c, machineKind=1, engravingResolutionXDpi=250,
                                      engravingResolutionYDpi=1000, vectorResolutionDpi=333))
        make("k1-res1000-%s" % tag, dict(c, machineKind=1, engravingResolutionXDpi=1000,
                                          engravingResolutionYDpi=1000, vectorResolutionDpi=1000,
                                          engineResolutionDpi=1000))
        make("k2-mixed-%s" % tag, dict(c, machineKind=2), classes=mixed)
        make("k2-order-%s" % tag, dict(c, machineKind=2, **{"flags.fileOrder": True}), classes=mixed)
        make("k1-order-o3-%s" % tag, dict(c, machineKind=1, orientation=3,
                                           **{"flags.fileOrder": True}))
        make("k2-xpfast-%s" % tag, dict(c, machineKind=2, model=267, fastFlag=1))
        make("k2-fast-%s" % tag, dict(c, machineKind=2, model=271, fastFlag=1))
        make("k2-tc-%s" % tag, dict(c, machineKind=2, tcFlag=1, tcSpeed=17000))
        make("k5-small-%s" % tag, dict(c, machineKind=5, plateWidthMicrometres=300000,
                                        plateHeightMicrometres=200000))
        # Vector parameters from the printer: the variant flush, the pre-pass, plain parameters.
        variant = printer_data(vector_params_hex(1, 3, 3, 1000, 400, 400, 500, 200, 0.02, 0.1, 0, 0.0))
        prepass = printer_data(vector_params_hex(1, 3, 3, 1000, 400, 400, 500, 200, 0.02, 0.1, 2, 0.3))
        plain = printer_data(vector_params_hex(0, 2, 1, 1500, 600, 700, 600, 300, 0.0, 0.0, 0, 0.0))
        make("k2-variant-%s" % tag, dict(c, machineKind=2), data=variant)
        make("k1-variant-%s" % tag, dict(c, machineKind=1), data=variant)
        make("k11-variant-%s" % tag, dict(c, machineKind=11), data=variant)
        make("k2-prepass-%s" % tag, dict(c, machineKind=2), data=prepass)
        make("k1-prepass-o6-%s" % tag, dict(c, machineKind=1, orientation=6), data=prepass)
        make("k3-printer-%s" % tag, dict(c, machineKind=3), data=plain)
        make("k2-variant-mixed-%s" % tag, dict(c, machineKind=2), classes=mixed, data=variant)
    return profiles


# ---------------------------------------------------------------------------------------------
# Running

def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def run_case(binary, case, outdir):
    """Runs one case; returns the paths of what it produced."""
    os.makedirs(outdir, exist_ok=True)
    job = os.path.join(outdir, "job.bin")
    data = os.path.join(outdir, "printer-data.txt")
    for path in (job, data):
        if os.path.exists(path):
            os.remove(path)
    cmd = [binary] + case["args"] + ["-o", job]
    if case.get("data") is not None:
        with open(data, "w") as f:
            f.write(case["data"])
        cmd[2:2] = ["--printer", "Engraver", "--printer-data", data]
    # A private scratch directory per run: any scratch file left behind is a failure too.
    scratch = os.path.join(outdir, "tmp")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    env = dict(os.environ, TMPDIR=scratch)
    proc = subprocess.run(cmd, capture_output=True, env=env)
    with open(os.path.join(outdir, "status.txt"), "w") as f:
        f.write("exit %d\nscratch left: %s\n" % (proc.returncode, sorted(os.listdir(scratch))))
        # Messages start with the program's name, which differs between the two binaries.
        text = proc.stderr.decode("latin-1").replace(job, "JOB").replace(data, "DATA")
        f.write(text.replace(os.path.basename(binary) + ":", "ostrelin:"))
    shutil.rmtree(scratch, ignore_errors=True)
    return outdir


def same_file(a, b):
    if os.path.exists(a) != os.path.exists(b):
        return False
    if not os.path.exists(a):
        return True
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(here)
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--ref", required=True, help="reference ostrelin binary")
    ap.add_argument("--new", required=True, help="ostrelin binary under test")
    ap.add_argument("--work", default="/tmp/ostrelin-compare", help="work directory")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--filter", default="", help="only cases whose name contains this text")
    args = ap.parse_args()

    work = os.path.abspath(args.work)
    inputs = os.path.join(work, "inputs")
    os.makedirs(inputs, exist_ok=True)
    defaults = json.loads(subprocess.run([args.ref, "settings", "defaults"], capture_output=True,
                                         check=True).stdout)

    cases = []
    profiles = settings_profiles(defaults)
    for name, settings, data in profiles:
        path = os.path.join(inputs, "settings-%s.json" % name)
        with open(path, "w") as f:
            json.dump(settings, f, indent=1)
    for name, text in hpgl_pages(repo).items():
        path = os.path.join(inputs, name + ".hpgl")
        with open(path, "w", encoding="latin-1") as f:
            f.write(text)
        for pname, _, data in profiles:
            cases.append({"name": "print-%s-%s" % (name, pname), "data": data,
                          "args": ["print", path, "--append-page-end", "--settings",
                                   os.path.join(inputs, "settings-%s.json" % pname)]})
    for name, text in stroke_scripts(repo).items():
        path = os.path.join(inputs, name + ".txt")
        with open(path, "w") as f:
            f.write(text)
        for pname, _, data in profiles:
            if data is not None:
                continue  # the rendering road has no printer
            cases.append({"name": "render-%s-%s" % (name, pname), "data": None,
                          "args": ["render", "--strokes", path, "--settings",
                                   os.path.join(inputs, "settings-%s.json" % pname)]})
    cases = [c for c in cases if args.filter in c["name"]]

    # Reference outputs, reused while the reference binary and the corpus are unchanged.
    stamp = CORPUS_VERSION + " " + sha256(args.ref) + " " + sha256(os.path.abspath(__file__))
    stamp_path = os.path.join(work, "ref-stamp.txt")
    ref_root = os.path.join(work, "ref")
    if not os.path.exists(stamp_path) or open(stamp_path).read() != stamp:
        shutil.rmtree(ref_root, ignore_errors=True)
        if os.path.exists(stamp_path):
            os.remove(stamp_path)
    new_root = os.path.join(work, "new")
    shutil.rmtree(new_root, ignore_errors=True)

    def one(case):
        ref_dir = os.path.join(ref_root, case["name"])
        # The reference output stays valid while the case's files are unchanged.
        key = hashlib.sha256(repr((case["args"], case.get("data"))).encode())
        for arg in case["args"]:
            if os.path.isfile(arg):
                key.update(open(arg, "rb").read())
        key_path = os.path.join(ref_dir, "case-key.txt")
        if not os.path.exists(key_path) or open(key_path).read() != key.hexdigest():
            run_case(args.ref, case, ref_dir)
            with open(key_path, "w") as f:
                f.write(key.hexdigest())
        new_dir = run_case(args.new, case, os.path.join(new_root, case["name"]))
        diffs = [f for f in ("job.bin", "printer-data.txt", "status.txt")
                 if not same_file(os.path.join(ref_dir, f), os.path.join(new_dir, f))]
        return case["name"], diffs, os.path.getsize(os.path.join(ref_dir, "job.bin")) \
            if os.path.exists(os.path.join(ref_dir, "job.bin")) else 0

    failures = 0
    total_bytes = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for name, diffs, size in pool.map(one, cases):
            total_bytes += size
            if diffs:
                failures += 1
                print("DIFFERS %s: %s" % (name, ", ".join(diffs)))
    with open(stamp_path, "w") as f:
        f.write(stamp)
    print("%d cases, %d differ, %.1f MB of reference jobs compared" % (len(cases), failures,
                                                                         total_bytes / 1e6))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
