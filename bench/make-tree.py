#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the tree that vesk-info -r is measured on: COUNT small files (the
corpus photos hard-linked, copied where links cannot be made) in folders of
500, with what a real library holds besides: a hidden folder, a symbolic link
back to the root, an unreadable folder and a .bundle folder. Prints the number
of files vesk-info should report (the hidden and unreadable ones excluded)."""
import os, shutil, sys

corpus, out = sys.argv[1], sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 100000
images = sorted(os.path.join(corpus, "images", f) for f in os.listdir(os.path.join(corpus, "images")))
done = os.path.join(out, ".complete")
if not os.path.exists(done):
    if os.path.exists(out):
        for root, dirs, _ in os.walk(out):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
        shutil.rmtree(out)
    def place(src, dst):
        try:
            os.link(src, dst)
        except OSError:
            shutil.copy(src, dst)
    for i in range(count):
        folder = os.path.join(out, f"{i // 500:04d}")
        if i % 500 == 0:
            os.makedirs(folder)
        place(images[i % len(images)], os.path.join(folder, f"IMG_{i:06d}.jpg"))
    os.makedirs(os.path.join(out, ".thumbnails"))
    place(images[0], os.path.join(out, ".thumbnails", "hidden.jpg"))
    os.symlink("..", os.path.join(out, "0000", "loop"))
    os.makedirs(os.path.join(out, "locked"))
    place(images[0], os.path.join(out, "locked", "unseen.jpg"))
    bundle = os.path.join(corpus, "Thin.bundle")
    if os.path.isdir(bundle):
        shutil.copytree(bundle, os.path.join(out, "Plugin.bundle"), symlinks=True)
    open(done, "w").close()
os.chmod(os.path.join(out, "locked"), 0)
print(count + (1 if os.path.isdir(os.path.join(out, "Plugin.bundle")) else 0))
