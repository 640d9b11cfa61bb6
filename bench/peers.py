#!/usr/bin/env python3
"""Whole-process comparison, in one run so the ratios hold on a noisy machine:
vesk-info --json against exiv2 -pa and exiftool -j over the same corpus
(batch, and one file per process), the scale files, and the window's start.
Prints a Markdown report. Medians of REPEAT runs; peak RSS from /usr/bin/time -v."""
import os, statistics, subprocess, sys, time

build, corpus = sys.argv[1], sys.argv[2]
repeat = int(os.environ.get("REPEAT", "7"))
images = sorted(os.path.join(corpus, "images", f) for f in os.listdir(os.path.join(corpus, "images")))
vesk_info = os.path.join(build, "vesk-info")
devnull = subprocess.DEVNULL

def run_once(cmd, env=None):
    """Wall seconds and peak RSS (MB) of one run."""
    t0 = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=devnull, stderr=subprocess.PIPE, env=env)
    wall = time.perf_counter() - t0
    rss = 0
    for line in p.stderr.decode(errors="replace").splitlines():
        if "Maximum resident set size" in line:
            rss = int(line.split(":")[1]) / 1024
    return wall, rss

def measure(cmd, env=None):
    """Median wall seconds and the largest peak RSS (MB) over `repeat` runs."""
    runs = [run_once(cmd, env) for _ in range(repeat)]
    return statistics.median(w for w, _ in runs), max(r for _, r in runs)

def measure_side_by_side(cmds):
    """measure() for several commands, their runs taken in turns, so that a
    slow spell of the machine falls on all of them alike."""
    for cmd in cmds.values():  # warm the page cache
        run_once(cmd)
    runs = {name: [] for name in cmds}
    for _ in range(repeat):
        for name, cmd in cmds.items():
            runs[name].append(run_once(cmd))
    return {name: (statistics.median(w for w, _ in r), max(m for _, m in r)) for name, r in runs.items()}

def per_file(cmd, files):
    """Median seconds of one process per file."""
    walls = []
    for f in files:
        t0 = time.perf_counter()
        subprocess.run(cmd + [f], stdout=devnull, stderr=devnull)
        walls.append(time.perf_counter() - t0)
    return statistics.median(walls)

tools = [("vesk-info --json", [vesk_info, "--json"]),
         ("exiv2 -pa", ["exiv2", "-pa"]),
         ("exiftool -j", ["exiftool", "-j"])]

print(f"Corpus: {len(images)} image files ({sum(os.path.getsize(f) for f in images) / 1e6:.1f} MB); "
      f"median of {repeat} runs, the tools' runs taken in turns; {os.cpu_count()} cores.\n")
print("| batch over the corpus | wall (s) | files/s | peak RSS (MB) | vesk-info is faster by |")
print("|---|---|---|---|---|")
# Dirty pages left by the build would be written back during the runs.
os.sync()
batch = measure_side_by_side({name: cmd + images for name, cmd in tools})
base = batch["vesk-info --json"][0]
for name, (wall, rss) in batch.items():
    print(f"| `{name}` | {wall:.3f} | {len(images) / wall:.0f} | {rss:.1f} | {wall / base:.1f}x |")

sample = images[:40]
print("\n| one file per process (40 files) | median per file (ms) |")
print("|---|---|")
for name, cmd in tools:
    print(f"| `{name}` | {per_file(cmd, sample) * 1000:.1f} |")

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

vesk = os.path.join(build, "vesk")
if os.path.exists(vesk):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VESK_DEFAULTS_FILE=os.path.join(corpus, "bench-defaults.plist"),
               VESK_WINDOW_STATE_FILE=os.path.join(corpus, "bench-window.ini"))
    shot = os.path.join(corpus, "window.png")
    wall, rss = measure([vesk, "--screenshot", shot, "--", os.path.join(corpus, "images", os.path.basename(images[0]))], env)
    print(f"\nWindow, offscreen: process start to the window painted with a photo's report and saved: "
          f"{wall * 1000:.0f} ms median (peak RSS {rss:.0f} MB).")
