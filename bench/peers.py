#!/usr/bin/env python3
"""Whole-process comparison, in one run so the ratios hold on a noisy machine:
vesk-info --json against exiv2 -pa and exiftool -j over the same corpus
(batch, and one file per process), the scale files, and the window's start.
Prints a Markdown report. Medians of REPEAT runs; peak RSS from /usr/bin/time -v."""
import os, statistics, subprocess, sys, time

build, corpus = sys.argv[1], sys.argv[2]
repeat = int(os.environ.get("REPEAT", "5"))
images = sorted(os.path.join(corpus, "images", f) for f in os.listdir(os.path.join(corpus, "images")))
vesk_info = os.path.join(build, "vesk-info")
devnull = subprocess.DEVNULL

def measure(cmd, env=None):
    """Median wall seconds and the largest peak RSS (MB) over `repeat` runs."""
    walls, rss = [], 0
    for _ in range(repeat):
        t0 = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=devnull, stderr=subprocess.PIPE, env=env)
        walls.append(time.perf_counter() - t0)
        for line in p.stderr.decode(errors="replace").splitlines():
            if "Maximum resident set size" in line:
                rss = max(rss, int(line.split(":")[1]) / 1024)
    return statistics.median(walls), rss

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
      f"median of {repeat} runs; {os.cpu_count()} cores.\n")
print("| batch over the corpus | wall (s) | files/s | peak RSS (MB) | vesk-info is faster by |")
print("|---|---|---|---|---|")
batch = {}
for name, cmd in tools:
    batch[name] = measure(cmd + images)
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
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VESK_DEFAULTS_FILE=os.path.join(corpus, "bench-defaults.plist"))
    shot = os.path.join(corpus, "window.png")
    wall, rss = measure([vesk, "--screenshot", shot, "--", os.path.join(corpus, "images", os.path.basename(images[0]))], env)
    print(f"\nWindow, offscreen: process start to the window painted with a photo's report and saved: "
          f"{wall * 1000:.0f} ms median (peak RSS {rss:.0f} MB).")
