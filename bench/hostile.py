#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Hostile inputs and unlucky mishaps as whole processes, in a release build:
every report over them must end within 1 s, 100 MB of memory and 1 MB of
output (standard output and error together). Prints a Markdown table, one row
per case, with the worst of its runs.

  hostile.py BUILD SCRATCH

BUILD holds vesk-info, vesk (optional) and bench/vesk_make_hostile; SCRATCH
is emptied and filled with the inputs."""
import fcntl, os, shutil, signal, subprocess, sys, threading, time

build, scratch = sys.argv[1], os.path.abspath(sys.argv[2])
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
vesk_info, vesk = os.path.abspath(os.path.join(build, "vesk-info")), os.path.abspath(os.path.join(build, "vesk"))
photo = os.path.join(root, "samples", "Canon_DIGITAL_IXUS_400.jpg")
LIMITS = (1.0, 100.0, 1 << 20)  # seconds, MB, bytes
# Root enters every folder: the walks run as nobody, so a closed folder stays closed.
as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.geteuid() == 0 else []

if os.path.exists(scratch):
    subprocess.run(["chmod", "-R", "u+rwx", scratch])
    subprocess.run(["rm", "-rf", scratch])  # walks by descriptor, past PATH_MAX
os.makedirs(scratch)
os.chmod(scratch, 0o755)


def run(cmd, env=None, cwd=None):
    """Wall seconds, peak RSS (MB), bytes written, exit status (negative: the signal)."""
    out_path = os.path.join(scratch, "out")
    with open(out_path, "wb") as out:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdout=out, stderr=out, env=env, cwd=cwd)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
    code = -os.WTERMSIG(status) if os.WIFSIGNALED(status) else os.WEXITSTATUS(status)
    return wall, usage.ru_maxrss / 1024, os.path.getsize(out_path), code


rows = []


def said(needle):
    """Whether the last run's output holds `needle`."""
    with open(os.path.join(scratch, "out"), "rb") as f:
        return needle in f.read()


def row(what, runs, note=""):
    wall, rss, out = max(r[0] for r in runs), max(r[1] for r in runs), max(r[2] for r in runs)
    signalled = sum(1 for r in runs if r[3] < 0)
    ok = wall <= LIMITS[0] and rss <= LIMITS[1] and out <= LIMITS[2] and not signalled
    if signalled:
        note = (note + "; " if note else "") + f"killed by a signal in {signalled} of {len(runs)} runs"
    rows.append(f"| {what} | {len(runs)} | {wall:.3f} | {rss:.1f} | {out / 1024:.1f} | {note} | {'yes' if ok else 'no'} |")


# Runaways in the readers: the files the tests make, each through the JSON and the text.
files = subprocess.run([os.path.join(build, "bench", "vesk_make_hostile"), os.path.join(scratch, "files")],
                       capture_output=True, text=True, check=True).stdout.split()
for f in files:
    runs = [run([vesk_info, "--json", f]) for _ in range(3)] + [run([vesk_info, f]) for _ in range(3)]
    row(f"`{os.path.basename(f)}` ({os.path.getsize(f) / 1e6:,.1f} MB)", runs, "`--json` and the text, 3 runs each")

# A TIFF cut and written again by another program all through the reads.
shrinking = os.path.join(scratch, "shrinking.tif")
size = 48 << 20
head = b"II*\0" + (size - 18).to_bytes(4, "little")
ifd = bytes([1, 0, 0, 1, 4, 0, 1, 0, 0, 0, 0x80, 2, 0, 0, 0, 0, 0, 0])
with open(shrinking, "wb") as f:
    f.truncate(size)
stop = threading.Event()
def rewrite():
    fd = os.open(shrinking, os.O_WRONLY)
    while not stop.is_set():
        os.ftruncate(fd, 4096)
        os.pwrite(fd, head, 0)
        os.pwrite(fd, ifd, size - len(ifd))
    os.close(fd)
writer = threading.Thread(target=rewrite)
writer.start()
runs = [run([vesk_info, "--json", shrinking]) for _ in range(100)]
stop.set()
writer.join()
row("a 48 MB TIFF cut to 4 KB and written again, over and over, while read", runs, "100 runs")

# The comment's folder: held by a stopped process, read-only, or with no room.
commented = os.path.join(scratch, "commented.jpg")
shutil.copy(photo, commented)
subprocess.run(["exiftool", "-q", "-overwrite_original", "-UserComment=<?xml version=\"1.0\"?><plist version=\"1.0\">"
                "<dict><key>album</key><string>Summer trip</string></dict></plist>", commented], check=True)
tmp = os.path.join(scratch, "tmp")
os.makedirs(tmp, mode=0o700)
env = dict(os.environ, TMPDIR=tmp)
holder = os.fork()
if holder == 0:
    fd = os.open(tmp, os.O_RDONLY | os.O_DIRECTORY)
    fcntl.flock(fd, fcntl.LOCK_EX)
    os.kill(os.getpid(), signal.SIGSTOP)
    os._exit(0)
os.waitpid(holder, os.WUNTRACED)
row("the comment folder locked by a stopped process", [run([vesk_info, "--json", commented], env) for _ in range(5)],
    "5 runs; the comment shown" if said(b"Summer trip") else "5 runs; the comment lost")
os.kill(holder, signal.SIGKILL)
os.waitpid(holder, 0)
os.chmod(tmp, 0o500)
if as_nobody:  # root writes anywhere: the folder is nobody's, and so is the run
    os.chown(tmp, 65534, 65534)
row("the comment folder read-only", [run(as_nobody + [vesk_info, "--json", commented], env) for _ in range(5)],
    "5 runs; the comment shown" if said(b"Summer trip") else "5 runs; the comment lost")
os.chmod(tmp, 0o700)

# Walks: deeper than PATH_MAX, a folder listed but not entered, a web of
# links, links into the kernel's trees. The trees hard-link a copy, so that
# their clean-up never touches the sample's own mode.
photo = shutil.copy(photo, os.path.join(scratch, "walked.jpg"))
def deep(t):
    fd = os.open(t, os.O_RDONLY | os.O_DIRECTORY)
    for level in range(1, 41):
        os.mkdir("n" * 120, 0o755, dir_fd=fd)
        nxt = os.open("n" * 120, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = nxt
        os.link(photo, f"photo{level}.jpg", dst_dir_fd=fd)
    os.close(fd)
def closed(t):
    os.makedirs(t + "/closed")
    for name in ("a.jpg", "closed/b.jpg"):
        os.link(photo, os.path.join(t, name))
    os.chmod(t + "/closed", 0o444)
def web(t, links=34):
    for i in range(links // 2):
        os.makedirs(f"{t}/n{i}", exist_ok=True)
        for name in ("a", "b"):
            os.symlink(f"../n{i + 1}", f"{t}/n{i}/{name}")
    os.makedirs(f"{t}/n{links // 2}", exist_ok=True)
    os.link(photo, f"{t}/n{links // 2}/photo.jpg")
def kernel(t):
    os.link(photo, t + "/a.jpg")
    for tree in ("/sys", "/proc", "/dev"):
        os.symlink(tree, t + tree)
for what, make in [("`-r` over 40 folders of 120 letters, a photo in each (past PATH_MAX)", deep),
                   ("`-r` with a folder listed but not entered", closed),
                   ("`-r` over a web of 34 links (2^17 ways to one photo)", web),
                   ("`-r` with links to /sys, /proc and /dev", kernel),
                   ("`-r` over a web of 62 links", lambda t: web(t, 62))]:
    t = os.path.join(scratch, "walk")
    os.makedirs(t)
    make(t)
    runs = [run(as_nobody + [vesk_info, "-r", "--json", "walk"], cwd=scratch) for _ in range(3)]
    with open(os.path.join(scratch, "out"), "rb") as f:
        lines = f.read().splitlines()
    reports = sum(1 for line in lines if line.startswith(b"{"))
    notes = sum(1 for line in lines if line.startswith(b"vesk-info: "))
    row(what, runs, f"{reports} reported, {notes} said on standard error, exit {runs[-1][3]}")
    subprocess.run(["chmod", "-R", "u+rwx", t])
    subprocess.run(["rm", "-rf", t], check=True)

# The window's own settings file: a FIFO, or 300 MB.
if os.path.exists(vesk):
    state = os.path.join(scratch, "window.plist")
    for what, make in [("a FIFO", lambda: os.mkfifo(state)),
                       ("300 MB", lambda: open(state, "wb").truncate(300 << 20))]:
        make()
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VESK_WINDOW_STATE_FILE=state,
                   VESK_DEFAULTS_FILE=os.path.join(scratch, "defaults.plist"))
        runs = [run([vesk, "--screenshot", os.path.join(scratch, "shot.png"), photo], env) for _ in range(3)]
        row(f"the window's settings file {what}, start to the report painted", runs, "3 runs")
        os.unlink(state)

print(f"Limits: {LIMITS[0]:.0f} s, {LIMITS[1]:.0f} MB peak RSS, {LIMITS[2] >> 20} MB of output, for every run; "
      f"the worst run of each case is shown. Release build, {os.cpu_count()} cores.\n")
print("| case | runs | wall (s) | peak RSS (MB) | output (KB) | | within |")
print("|---|---|---|---|---|---|---|")
print("\n".join(rows))
subprocess.run(["chmod", "-R", "u+rwx", scratch])
subprocess.run(["rm", "-rf", scratch])
