#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the benchmark corpus in the folder given: the sample photos and
variants of them written by exiftool (at least 200 image files in images/),
generated JPEG, TIFF and JPEG 2000 files, a sparse 1 GB TIFF, and bundles with
thin, universal and sparse 4 GB universal executables."""
import os, shutil, struct, subprocess, sys

out = sys.argv[1]
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
samples = sorted(os.path.join(root, "samples", f) for f in os.listdir(os.path.join(root, "samples")) if f.endswith(".jpg"))
fixtures = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "build", "fixtures")
images = os.path.join(out, "images")
os.makedirs(images, exist_ok=True)

def run(*cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

# Variants: each sample rewritten with other tags, 40 per sample.
if len(os.listdir(images)) < 200:
    for s in samples:
        shutil.copy(s, images)
    for v in range(1, 40):
        run("exiftool", "-q", "-q", f"-Artist=Bench variant {v}", f"-ImageDescription=variant {v}",
            f"-UserComment=variant {v}", "-o", os.path.join(images, f"%f_v{v}.%e"), *samples)

# Generated files of each format.
gen_jpg = os.path.join(out, "generated.jpg")
if not os.path.exists(gen_jpg):
    run("convert", "-size", "640x480", "gradient:blue-yellow", gen_jpg)
    run("exiftool", "-q", "-overwrite_original", "-Make=Bench", "-Model=Generated", "-FNumber=2.8",
        "-ExposureTime=0.01", "-ISO=200", gen_jpg)
    run("convert", gen_jpg, os.path.join(out, "generated.tif"))
    run("exiftool", "-q", "-overwrite_original", "-Make=Bench", "-Model=Generated TIFF", os.path.join(out, "generated.tif"))
    run("convert", gen_jpg, os.path.join(out, "generated.ppm"))
    run("opj_compress", "-i", os.path.join(out, "generated.ppm"), "-o", os.path.join(out, "generated.jp2"))
    os.remove(os.path.join(out, "generated.ppm"))

# A 1 GB TIFF: a real header and IFD, then one strip that is a hole in the file.
huge = os.path.join(out, "huge.tif")
if not os.path.exists(huge):
    width = height = 32768
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 4096), (277, 3, 1, 1), (278, 4, 1, height), (279, 4, 1, width * height)]
    ifd = struct.pack("<H", len(entries))
    for tag, typ, count, value in entries:
        ifd += struct.pack("<HHII", tag, typ, count, value) if typ == 4 else struct.pack("<HHIHH", tag, typ, count, value, 0)
    ifd += struct.pack("<I", 0)
    with open(huge, "wb") as f:
        f.write(b"II*\x00" + struct.pack("<I", 8) + ifd)
        f.truncate(4096 + width * height)

# Bundles: copies of the test fixtures, and a universal executable of 4 GB whose
# second slice lies past 4 GB (64-bit fat header), sparse.
for name in ("Thin64.bundle", "Universal.bundle"):
    src, dst = os.path.join(fixtures, "macho", name), os.path.join(out, name.replace("Thin64", "Thin"))
    if os.path.isdir(src) and not os.path.exists(dst):
        shutil.copytree(src, dst, symlinks=True)
big = os.path.join(out, "Huge.bundle", "Contents", "MacOS")
if not os.path.exists(os.path.join(big, "Huge")):
    os.makedirs(big, exist_ok=True)
    def thin(cputype):  # a 64-bit Mach-O header with no load commands
        return struct.pack("<IiiIIIII", 0xFEEDFACF, cputype, 3, 2, 0, 0, 0, 0)
    off1, off2, size = 1 << 14, (1 << 32) + (1 << 14), 1 << 14
    fat = struct.pack(">II", 0xCAFEBABF, 2)
    fat += struct.pack(">iiQQII", 0x01000007, 3, off1, size, 14, 0)
    fat += struct.pack(">iiQQII", 0x0100000C, 0, off2, size, 14, 0)
    with open(os.path.join(big, "Huge"), "wb") as f:
        f.write(fat)
        f.seek(off1); f.write(thin(0x01000007))
        f.seek(off2); f.write(thin(0x0100000C))
        f.truncate(off2 + size)
print(out)
