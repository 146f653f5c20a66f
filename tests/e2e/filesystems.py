"""File systems for the end-to-end cases, each a context manager giving a fresh empty folder on it and
unmounting it on exit:
  mount_tmpfs(size)  a tmpfs of size bytes: a disk that fills up
  mount_exfat()      exFAT through FUSE on a loop device: no hard links, no O_TMPFILE, no RENAME_NOREPLACE,
                     no owners (every file shows mode 0777)
  mount_bindfs()     a FUSE passthrough of a plain folder (bindfs): hard links, but no O_TMPFILE and no
                     RENAME_NOREPLACE
Where one cannot be had (not Linux, not root, no /dev/fuse, a tool missing, a mount refused) the case is
skipped with unittest.SkipTest, and the reason is printed on standard error."""

import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOLS = {"exfat": ("mkfs.exfat", "mount.exfat-fuse", "losetup"), "bindfs": ("bindfs",)}
PACKAGES = {"exfat": "exfatprogs exfat-fuse", "bindfs": "bindfs"}


def skip(reason):
    print(f"skipped: {reason}", file=sys.stderr)
    raise unittest.SkipTest(reason)


def _call(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)


def _needs(kind=None, fuse=False):
    if not sys.platform.startswith("linux") or os.geteuid() != 0:
        skip(f"mounting {kind or 'tmpfs'} needs root on Linux")
    if fuse and not os.path.exists("/dev/fuse"):
        skip(f"{kind} needs /dev/fuse")
    missing = [tool for tool in TOOLS.get(kind, ()) if shutil.which(tool) is None]
    if missing:
        skip(f"{kind} needs {', '.join(missing)} (apt-get install {PACKAGES[kind]})")


def _unmount(point, fuse):
    for attempt in range(50):  # a FUSE daemon may still hold it for a moment
        if _call(["fusermount", "-u", point] if fuse and shutil.which("fusermount") else ["umount", point]).returncode == 0:
            return
        if not os.path.ismount(point):
            return
        subprocess.run(["sleep", "0.1"])
    _call(["umount", "-l", point])


@contextlib.contextmanager
def _mounted(kind, args, fuse, scratch):
    point = os.path.join(scratch, "mount")
    os.mkdir(point)
    done = _call(args + [point])
    if done.returncode != 0 or not os.path.ismount(point):
        skip(f"{kind} could not be mounted: {done.stdout.decode(errors='replace').strip()}")
    try:
        yield point
    finally:
        _unmount(point, fuse)


@contextlib.contextmanager
def mount_tmpfs(size):
    _needs()
    with tempfile.TemporaryDirectory(prefix="quilbo-tmpfs-") as scratch, \
            _mounted("tmpfs", ["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs"], False, scratch) as point:
        yield point


@contextlib.contextmanager
def mount_exfat(size=16 << 20):
    _needs("exfat", fuse=True)
    with tempfile.TemporaryDirectory(prefix="quilbo-exfat-") as scratch:
        image = os.path.join(scratch, "exfat.img")
        with open(image, "wb") as f:
            f.truncate(size)
        made = _call(["mkfs.exfat", image])
        if made.returncode != 0:
            skip(f"mkfs.exfat failed: {made.stdout.decode(errors='replace').strip()}")
        loop = _call(["losetup", "-f", "--show", image])  # exfat-fuse takes block devices only
        if loop.returncode != 0:
            skip(f"no loop device: {loop.stdout.decode(errors='replace').strip()}")
        device = loop.stdout.decode().strip()
        try:
            with _mounted("exfat", ["mount.exfat-fuse", device], True, scratch) as point:
                yield point
        finally:
            _call(["losetup", "-d", device])


@contextlib.contextmanager
def mount_bindfs():
    _needs("bindfs", fuse=True)
    with tempfile.TemporaryDirectory(prefix="quilbo-bindfs-") as scratch:
        backing = os.path.join(scratch, "backing")
        os.mkdir(backing)
        with _mounted("bindfs", ["bindfs", backing], True, scratch) as point:
            yield point


def settled(folder, timeout=10.0):
    """folder's names once a FUSE mount has dropped its own: the library keeps a file deleted while
    open as .fuse_hidden<n> until the daemon sees it closed, a moment after the process did."""
    import time
    deadline = time.monotonic() + timeout
    while True:
        names = sorted(os.listdir(folder))
        if not any(n.startswith(".fuse_hidden") for n in names) or time.monotonic() > deadline:
            return names
        time.sleep(0.05)
