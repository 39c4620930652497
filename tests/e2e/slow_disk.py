#!/usr/bin/env python3
"""A slow disk, honestly: a block-I/O cgroup whose members read the disk
that holds a folder at a limited rate, and files pushed out of the page
cache so that reading them goes to that disk. The program runs unchanged.
Needs root and the cgroup v1 blkio or v2 io controller.

As a module: SlowDisk(folder, bytes_per_second), evict(paths).
For shell tests:  slow_disk.py start FOLDER RATE   (prints the procs file;
                                                    status 3 where it cannot)
                  slow_disk.py stop PROCS_FILE | evict FILE...
"""

import os
import sys


class Unavailable(Exception):
    pass


def _disk_of(folder):
    """MAJ:MIN of the whole disk under folder: limits apply to disks only."""
    dev = os.stat(folder).st_dev
    node = f"/sys/dev/block/{os.major(dev)}:{os.minor(dev)}"
    if not os.path.exists(node):
        raise Unavailable(f"{folder} is on no block device")
    if os.path.exists(os.path.join(node, "partition")):
        node = os.path.join(node, "..")
    with open(os.path.join(node, "dev")) as f:
        return f.read().strip()


def _cgroup_root():
    """The hierarchy to limit reads in, with the limit's file and format."""
    if os.path.isdir("/sys/fs/cgroup/blkio"):
        return "/sys/fs/cgroup/blkio", "blkio.throttle.read_bps_device", "{} {}"
    with open("/proc/mounts") as f:
        for root in (line.split()[1] for line in f if line.split()[2] == "cgroup2"):
            try:
                with open(os.path.join(root, "cgroup.subtree_control"), "w") as c:
                    c.write("+io")
                return root, "io.max", "{} rbps={}"
            except OSError:
                continue
    raise Unavailable("neither the blkio nor the io controller")


class SlowDisk:
    """join() moves the calling process in (as Popen's preexec_fn)."""

    def __init__(self, folder, bytes_per_second):
        if os.geteuid() != 0:
            raise Unavailable("not root")
        disk = _disk_of(folder)
        root, limit_file, limit = _cgroup_root()
        path = os.path.join(root, f"nwd-slow-disk-{os.getpid()}-{id(self)}")
        self.procs = os.path.join(path, "cgroup.procs")
        try:
            os.mkdir(path)
            with open(os.path.join(path, limit_file), "w") as f:
                f.write(limit.format(disk, bytes_per_second))
        except OSError as e:
            self.remove()
            raise Unavailable(f"cannot limit reads: {e}") from e

    def join(self):
        with open(self.procs, "w") as f:
            f.write(str(os.getpid()))

    def remove(self):
        remove(self.procs)


def remove(procs):
    """Moves what is left in the cgroup back to its parent and removes it."""
    path = os.path.dirname(procs)
    try:
        with open(procs) as f:
            for pid in f.read().split():
                try:
                    with open(os.path.join(path, "..", "cgroup.procs"), "w") as parent:
                        parent.write(pid)
                except OSError:
                    pass  # ended meanwhile
        os.rmdir(path)
    except OSError:
        pass


def evict(paths):
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        try:
            os.fsync(fd)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def main(argv):
    if len(argv) == 4 and argv[1] == "start":
        try:
            print(SlowDisk(argv[2], int(argv[3])).procs)
            return 0
        except Unavailable as e:
            print(f"slow_disk.py: {e}", file=sys.stderr)
            return 3
    if len(argv) == 3 and argv[1] == "stop":
        remove(argv[2])
        return 0
    if len(argv) >= 3 and argv[1] == "evict":
        evict(argv[2:])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
