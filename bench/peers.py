#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Whole-process comparison, in one run so the ratios hold on a noisy machine:
vesk-info --json against exiv2 -pa and exiftool -j over the same corpus
(batch, and one file per process), the scale files, vesk-info -r over a
generated tree of 100,000 files (when TREE names it), and the window's start.
Prints a Markdown report with the targets, met or not. Medians of REPEAT runs;
CPU time from wait4, peak RSS from /usr/bin/time -v."""
import os, statistics, subprocess, sys, time

build, corpus = sys.argv[1], sys.argv[2]
repeat = int(os.environ.get("REPEAT", "7"))
images = sorted(os.path.join(corpus, "images", f) for f in os.listdir(os.path.join(corpus, "images")))
vesk_info = os.path.join(build, "vesk-info")
devnull = subprocess.DEVNULL

def run_full(cmd, env=None, stdout=devnull):
    """Wall seconds, CPU seconds (user + system, the tool and its children)
    and peak RSS (MB) of one run, and what it wrote on standard error."""
    t0 = time.perf_counter()
    p = subprocess.Popen(["/usr/bin/time", "-v"] + cmd, stdout=stdout, stderr=subprocess.PIPE, env=env)
    err = p.stderr.read()
    _, _, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t0
    rss = 0
    lines = err.decode(errors="replace").splitlines()
    for line in lines:
        if "Maximum resident set size" in line:
            rss = int(line.split(":")[1]) / 1024
    own = [l for l in lines if l.startswith("vesk-info:")]
    return wall, usage.ru_utime + usage.ru_stime, rss, own

def run_once(cmd, env=None):
    """Wall seconds and peak RSS (MB) of one run."""
    wall, _, rss, _ = run_full(cmd, env)
    return wall, rss

def measure(cmd, env=None):
    """Median wall seconds and the largest peak RSS (MB) over `repeat` runs."""
    runs = [run_once(cmd, env) for _ in range(repeat)]
    return statistics.median(w for w, _ in runs), max(r for _, r in runs)

def measure_side_by_side(cmds):
    """Every run of several commands, taken in turns so that a slow spell of
    the machine falls on all of them alike: {name: [(wall, cpu, rss), ...]}."""
    for cmd in cmds.values():  # warm the page cache
        run_once(cmd)
    runs = {name: [] for name in cmds}
    for _ in range(repeat):
        for name, cmd in cmds.items():
            runs[name].append(run_full(cmd)[:3])
    return runs

def per_file(cmds, files):
    """Median seconds of one process per file, for each command, the files
    taken in turns by every command."""
    walls = {name: [] for name in cmds}
    for f in files:
        for name, cmd in cmds.items():
            t0 = time.perf_counter()
            subprocess.run(cmd + [f], stdout=devnull, stderr=devnull)
            walls[name].append(time.perf_counter() - t0)
    return {name: statistics.median(w) for name, w in walls.items()}

tools = [("vesk-info --json", [vesk_info, "--json"]),
         ("exiv2 -pa", ["exiv2", "-pa"]),
         ("exiftool -j", ["exiftool", "-j"])]

def med(xs):
    return statistics.median(xs)

def summarize(runs):
    """{name: (median wall seconds, largest peak RSS)} of measure_side_by_side's runs."""
    return {name: (med(r[0] for r in rs), max(r[2] for r in rs)) for name, rs in runs.items()}

print(f"Corpus: {len(images)} image files ({sum(os.path.getsize(f) for f in images) / 1e6:.1f} MB); "
      f"median of {repeat} runs, the tools' runs taken in turns; {os.cpu_count()} cores. "
      f"Machine load average when the runs began: {os.getloadavg()[0]:.1f}.\n")
print("| batch over the corpus | wall (s) | files/s | CPU per file (ms) | peak RSS (MB) | vesk-info is faster by (median, range over the runs) | vesk-info's CPU per file, as a share |")
print("|---|---|---|---|---|---|---|")
# Dirty pages left by the build would be written back during the runs.
os.sync()
batch = measure_side_by_side({name: cmd + images for name, cmd in tools})
vesk_runs = batch["vesk-info --json"]
ratios, cpu_shares = {}, {}
for name, runs in batch.items():
    wall, cpu, rss = med(r[0] for r in runs), med(r[1] for r in runs), max(r[2] for r in runs)
    per_run = [o[0] / v[0] for o, v in zip(runs, vesk_runs)]
    share = [v[1] / o[1] for o, v in zip(runs, vesk_runs)]
    ratios[name] = (wall / med(v[0] for v in vesk_runs), min(per_run), max(per_run))
    cpu_shares[name] = (med(v[1] for v in vesk_runs) / cpu, min(share), max(share))
    r, c = ratios[name], cpu_shares[name]
    print(f"| `{name}` | {wall:.3f} | {len(images) / wall:.0f} | {cpu * 1000 / len(images):.2f} | {rss:.1f} | "
          f"{r[0]:.1f}x ({r[1]:.1f}-{r[2]:.1f}) | {c[0]:.2f} ({c[1]:.2f}-{c[2]:.2f}) |")

# The readable text and a CSV of three tags, against exiftool doing the same.
csv_tags = ["Make", "Model", "DateTimeOriginal"]
pairs = {"vesk-info": ([vesk_info], ["exiftool"]),
         "vesk-info --csv -t Make -t Model -t DateTimeOriginal":
             ([vesk_info, "--csv"] + [a for t in csv_tags for a in ("-t", t)], ["exiftool", "-csv"] + ["-" + t for t in csv_tags])}
forms = measure_side_by_side({name: cmd + images for ours, theirs in pairs.values() for name, cmd in
                              ((" ".join(ours), ours), (" ".join(theirs), theirs))})
print("\n| the text and the CSV, batch over the corpus | wall (s) | peak RSS (MB) | vesk-info is faster by (median, range) |")
print("|---|---|---|---|")
form_ratios = {}
for ours, theirs in pairs.values():
    o, t = forms[" ".join(ours)], forms[" ".join(theirs)]
    per_run = [b[0] / a[0] for a, b in zip(o, t)]
    form_ratios[" ".join(ours)] = (med(r[0] for r in t) / med(r[0] for r in o), min(per_run), max(per_run))
    for name, runs in ((" ".join(ours), o), (" ".join(theirs), t)):
        r = form_ratios[" ".join(ours)]
        print(f"| `{name.replace(vesk_info, 'vesk-info')}` | {med(x[0] for x in runs):.3f} | {max(x[2] for x in runs):.1f} | "
              + (f"{r[0]:.1f}x ({r[1]:.1f}-{r[2]:.1f})" if runs is t else "1.0x") + " |")

sample = images[:40]
single = per_file({name: cmd for name, cmd in tools}, sample)
print("\n| one file per process (40 files, taken in turns) | median per file (ms) |")
print("|---|---|")
for name, _ in tools:
    print(f"| `{name}` | {single[name] * 1000:.1f} |")

tree_line = None
tree = os.environ.get("TREE")
if tree and os.path.isdir(tree):
    expected = int(os.environ.get("TREE_FILES", "0"))
    # As root the unreadable folder would be read: the walk runs as nobody.
    as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.geteuid() == 0 else []
    with open(os.path.join(os.path.dirname(tree), "tree.jsonl"), "wb") as out:
        wall, cpu, rss, said = run_full(as_nobody + [vesk_info, "-r", "--json", tree], stdout=out)
    with open(os.path.join(os.path.dirname(tree), "tree.jsonl"), "rb") as out:
        lines = sum(1 for _ in out)
    tree_line = (lines, expected, wall, cpu, rss, said)
    print(f"\n`vesk-info -r --json` over a generated tree ({expected:,} files hard-linked from the corpus in folders "
          f"of 500, a hidden folder, a link back to the root, an unreadable folder, a bundle): {lines:,} lines "
          f"({'all' if lines == expected else 'expected %d' % expected}), {wall:.1f} s ({lines / wall:.0f} files/s), "
          f"peak RSS {rss:.1f} MB; standard error said, once each:")
    print()
    for l in said:
        print(f"    {l.replace(tree, 'TREE')}")

small = os.path.join(corpus, "images", os.listdir(os.path.join(corpus, "images"))[0])
print("\n| scale | wall (ms) | peak RSS (MB) |")
print("|---|---|---|")
for label, path in [("small JPEG", os.path.join(corpus, "generated.jpg")),
                    ("1 GB TIFF (sparse)", os.path.join(corpus, "huge.tif")),
                    ("thin bundle", os.path.join(corpus, "Thin.bundle")),
                    ("4 GB universal executable (sparse)", os.path.join(corpus, "Huge.bundle"))]:
    if os.path.exists(path):
        wall, rss = measure([vesk_info, "--json", path])
        print(f"| {label} | {wall * 1000:.1f} | {rss:.1f} |")

# Today's photos: the HEIC sample and fixtures (and the other containers)
# against exiftool, and the iPhone HEIC against the iPhone JPEG.
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
fixtures = os.path.join(build, "fixtures", "image")
def files_with(*exts):
    found = [os.path.join(root, "samples", f) for f in os.listdir(os.path.join(root, "samples")) if f.endswith(exts)]
    if os.path.isdir(fixtures):
        found += [os.path.join(fixtures, f) for f in os.listdir(fixtures) if f.endswith(exts)]
    return sorted(found)
for label, exts in [("HEIC", (".heic",)), ("HEIC, AVIF, JPEG XL, CR3", (".heic", ".avif", ".jxl", ".cr3"))]:
    files = files_with(*exts)
    if not files:
        continue
    side = summarize(measure_side_by_side({"vesk-info --json": [vesk_info, "--json"] + files,
                                           "exiftool -j": ["exiftool", "-j"] + files}))
    vesk_wall = side["vesk-info --json"][0]
    print(f"\n| {label}: {len(files)} files in one process | wall (ms) | peak RSS (MB) | vesk-info is faster by |")
    print("|---|---|---|---|")
    for name, (wall, rss) in side.items():
        print(f"| `{name}` | {wall * 1000:.1f} | {rss:.1f} | {wall / vesk_wall:.1f}x |")
pair = [os.path.join(root, "samples", f) for f in ("Apple_iPhone_11_Pro_Max.heic", "Apple_iPhone_6.jpg")]
if all(os.path.exists(p) for p in pair):
    side = summarize(measure_side_by_side({os.path.basename(p): [vesk_info, "--json", p] for p in pair}))
    print("\n| one iPhone photo, `vesk-info --json` | wall (ms) | peak RSS (MB) |")
    print("|---|---|---|")
    for name, (wall, rss) in side.items():
        print(f"| {name} | {wall * 1000:.1f} | {rss:.1f} |")

vesk = os.path.join(build, "vesk")
if os.path.exists(vesk):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VESK_DEFAULTS_FILE=os.path.join(corpus, "bench-defaults.plist"),
               VESK_WINDOW_STATE_FILE=os.path.join(corpus, "bench-window.ini"))
    shot = os.path.join(corpus, "window.png")
    wall, rss = measure([vesk, "--screenshot", shot, "--", os.path.join(corpus, "images", os.path.basename(images[0]))], env)
    print(f"\nWindow, offscreen: process start to the window painted with a photo's report and saved: "
          f"{wall * 1000:.0f} ms median (peak RSS {rss:.0f} MB).")

print("\n## Targets\n")
print("| target | measured | met |")
print("|---|---|---|")
def row(what, measured, ok):
    print(f"| {what} | {measured} | {'yes' if ok else 'no'} |")
r = ratios["exiv2 -pa"]
row("`--json` batch at least 3x faster than `exiv2 -pa` (median)", f"{r[0]:.1f}x (runs {r[1]:.1f}-{r[2]:.1f})", r[0] >= 3)
r = ratios["exiftool -j"]
row("... at least 40x faster than `exiftool -j` (median)", f"{r[0]:.1f}x (runs {r[1]:.1f}-{r[2]:.1f})", r[0] >= 40)
r = form_ratios[" ".join(pairs["vesk-info"][0])]
row("the default text at least 25x faster than `exiftool` (median)", f"{r[0]:.1f}x (runs {r[1]:.1f}-{r[2]:.1f})", r[0] >= 25)
r = form_ratios[" ".join(pairs["vesk-info --csv -t Make -t Model -t DateTimeOriginal"][0])]
row("`--csv` of three tags at least 40x faster than `exiftool -csv` of the same (median)",
    f"{r[0]:.1f}x (runs {r[1]:.1f}-{r[2]:.1f})", r[0] >= 40)
c = cpu_shares["exiv2 -pa"]
row("CPU per file at most half of `exiv2 -pa`'s", f"{c[0]:.2f} of it (runs {c[1]:.2f}-{c[2]:.2f})", c[0] <= 0.5)
row("one file in one process no slower than `exiv2 -pa`",
    f"{single['vesk-info --json'] * 1000:.1f} ms against {single['exiv2 -pa'] * 1000:.1f} ms",
    single["vesk-info --json"] <= single["exiv2 -pa"])
if tree_line:
    lines, expected, wall, cpu, rss, said = tree_line
    row("100,000-file tree under 50 MB peak, one line per file, each problem said once",
        f"{rss:.1f} MB, {lines:,} lines, {len(said)} messages", rss < 50 and lines == expected and len(said) == len(set(said)))
# The image report in process, the iPhone HEIC against the iPhone JPEG (CPU
# time, medians of the benchmark's repetitions).
bench = os.path.join(build, "bench", "vesk_bench")
if os.path.exists(bench):
    import json
    out = subprocess.run([bench, "--benchmark_filter=ImageReport/Apple_iPhone", "--benchmark_repetitions=9",
                          "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                         env=dict(os.environ, VESK_BENCH_CORPUS=corpus), capture_output=True, text=True).stdout
    cpu = {b["run_name"].split("/")[-1]: b["cpu_time"] for b in json.loads(out)["benchmarks"]
           if b.get("aggregate_name") == "median"}
    heic, jpeg = cpu.get("Apple_iPhone_11_Pro_Max.heic"), cpu.get("Apple_iPhone_6.jpg")
    if heic and jpeg:
        row("a HEIC report within 2x of a JPEG report of the same camera (in process, CPU)",
            f"{heic / 1e6:.2f} ms against {jpeg / 1e6:.2f} ms: {heic / jpeg:.2f}x", heic <= 2 * jpeg)
