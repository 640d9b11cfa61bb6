#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window at a desk, on the X display it is given (scripts/bench runs it
in Xvfb under openbox): launch with a photo to its first field painted (a
whole process of bench/vesk_window_bench --launch, set up as vesk is; and
vesk itself to the window saved as a PNG, the one end vesk's own process can
be timed to), then bench/vesk_window_bench's drops. Medians of 20. Prints
Markdown.

  window.py BUILD PHOTO..."""
import os, statistics, subprocess, sys, tempfile, time

build, photos = sys.argv[1], sys.argv[2:]
vesk = os.path.join(build, "vesk")
runs = 20
with tempfile.TemporaryDirectory() as scratch:
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=scratch, VESK_DEFAULTS_FILE=os.path.join(scratch, "defaults.plist"),
               VESK_WINDOW_STATE_FILE=os.path.join(scratch, "window.plist"))
    shot = os.path.join(scratch, "shot.png")
    subprocess.run([vesk, "--screenshot", shot, photos[0]], env=env, check=True)  # warm the caches
    launch, saved = [], []
    bench = os.path.join(build, "bench", "vesk_window_bench")
    for i in range(runs):
        t0 = time.perf_counter()
        subprocess.run([vesk, "--screenshot", shot, photos[i % len(photos)]], env=env, check=True)
        saved.append((time.perf_counter() - t0) * 1000)
        out = subprocess.run([bench, "--launch", photos[i % len(photos)]], capture_output=True, text=True, check=True,
                             env=dict(env, VESK_BENCH_T0=str(time.monotonic_ns()))).stdout
        launch.append(float(out.split()[1]))
    out = subprocess.run([bench] + photos, env=env, capture_output=True, text=True, check=True).stdout
drops = {line.split()[0]: (float(line.split()[1]), float(line.split()[2])) for line in out.splitlines()}

print(f"On `{os.environ.get('DISPLAY')}` (Xvfb under openbox), {runs} runs each over {len(photos)} photos taken in turns.\n")
print("| measure | median (ms) | slowest (ms) | target | met |")
print("|---|---|---|---|---|")
def row(what, median, slowest, target):
    print(f"| {what} | {median:.1f} | {slowest:.1f} | {target} ms | {'yes' if median <= target else 'no'} |")
row("launch with a photo to its first field painted", statistics.median(launch), max(launch), 150)
print(f"| `vesk --screenshot` with a photo, to the window saved as PNG | {statistics.median(saved):.1f} | {max(saved):.1f} | | |")
row("drop to the six fields painted", *drops["drop-to-fields"], 16)
row("drop to the details view's tree painted", *drops["drop-to-details"], 16)
tree = drops["drop-to-details"][0]
preview = drops["drop-to-preview"][0]
print(f"| drop to the preview painted (decoded off the window's thread) | {preview:.1f} | {drops['drop-to-preview'][1]:.1f} | "
      f"after the tree | {'yes' if preview >= tree else 'no'} |")
