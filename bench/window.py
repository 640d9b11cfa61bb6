#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window at a desk, on the X display it is given (scripts/bench runs it
in Xvfb under openbox): launch with a photo to its report painted (the whole
process, median of 20; it ends by saving the window, so the figure includes
the grab and the PNG), then bench/vesk_window_bench's drops. Prints Markdown.

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
    launch = []
    for i in range(runs):
        t0 = time.perf_counter()
        subprocess.run([vesk, "--screenshot", shot, photos[i % len(photos)]], env=env, check=True)
        launch.append((time.perf_counter() - t0) * 1000)
    out = subprocess.run([os.path.join(build, "bench", "vesk_window_bench")] + photos, env=env,
                         capture_output=True, text=True, check=True).stdout
drops = {line.split()[0]: (float(line.split()[1]), float(line.split()[2])) for line in out.splitlines()}

print(f"On `{os.environ.get('DISPLAY')}` (Xvfb under openbox), {runs} runs each over {len(photos)} photos taken in turns.\n")
print("| measure | median (ms) | slowest (ms) | target | met |")
print("|---|---|---|---|---|")
def row(what, median, slowest, target):
    print(f"| {what} | {median:.1f} | {slowest:.1f} | {target} ms | {'yes' if median <= target else 'no'} |")
row("launch with a photo to its report painted (and saved as PNG)", statistics.median(launch), max(launch), 150)
row("drop to the six fields painted", *drops["drop-to-fields"], 16)
row("drop to the details view's tree painted", *drops["drop-to-details"], 16)
tree = drops["drop-to-details"][0]
preview = drops["drop-to-preview"][0]
print(f"| drop to the preview painted (decoded off the window's thread) | {preview:.1f} | {drops['drop-to-preview'][1]:.1f} | "
      f"after the tree | {'yes' if preview >= tree else 'no'} |")
