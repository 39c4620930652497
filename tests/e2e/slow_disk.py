#!/usr/bin/env python3
"""A slow disk, honestly: a block-I/O cgroup that limits how fast its
processes read from the disk holding a folder, and files pushed out of the
page cache so that reading them goes to that disk. The program under test
runs unchanged; only its reads are slowed, as on a USB hard disk.

As a module: SlowDisk(folder, bytes_per_second), evict(paths).
As a command, for shell tests:
  slow_disk.py start FOLDER BYTES_PER_SECOND   prints the cgroup's procs file
  slow_disk.py stop PROCS_FILE
  slow_disk.py evict FILE...
Needs root and the cgroup v1 blkio controller or the v2 io controller;
start fails with status 3 (and a reason on stderr) where neither is there.
"""

import os
import sys

V1_ROOT = "/sys/fs/cgroup/blkio"


class Unavailable(Exception):
    pass


def _disk_of(folder):
    """MAJ:MIN of the whole disk that holds folder: throttling applies to
    disks, not to their partitions."""
    dev = os.stat(folder).st_dev
    node = f"/sys/dev/block/{os.major(dev)}:{os.minor(dev)}"
    if not os.path.exists(node):
        raise Unavailable(f"{folder} is on no block device")
    if os.path.exists(os.path.join(node, "partition")):
        with open(os.path.join(node, "..", "dev")) as f:
            return f.read().strip()
    return f"{os.major(dev)}:{os.minor(dev)}"


def _v2_root():
    with open("/proc/mounts") as f:
        for line in f:
            fields = line.split()
            if fields[2] == "cgroup2":
                root = fields[1]
                try:
                    with open(os.path.join(root, "cgroup.controllers")) as c:
                        if "io" in c.read().split():
                            return root
                except OSError:
                    pass
    return None


class SlowDisk:
    """A cgroup of its own whose members read the folder's disk at most at
    the given rate. join() moves the calling process into it (for use as
    Popen's preexec_fn); remove() takes it away again."""

    def __init__(self, folder, bytes_per_second):
        if os.geteuid() != 0:
            raise Unavailable("not root")
        disk = _disk_of(folder)
        name = f"nwd-slow-disk-{os.getpid()}-{id(self)}"
        if os.path.isdir(V1_ROOT):
            self.path = os.path.join(V1_ROOT, name)
            limit_file, limit = "blkio.throttle.read_bps_device", f"{disk} {bytes_per_second}"
        else:
            root = _v2_root()
            if not root:
                raise Unavailable("neither the blkio nor the io controller")
            with open(os.path.join(root, "cgroup.subtree_control"), "w") as f:
                f.write("+io")
            self.path = os.path.join(root, name)
            limit_file, limit = "io.max", f"{disk} rbps={bytes_per_second}"
        try:
            os.mkdir(self.path)
            with open(os.path.join(self.path, limit_file), "w") as f:
                f.write(limit)
        except OSError as e:
            self.remove()
            raise Unavailable(f"cannot limit reads: {e}") from e
        self.procs = os.path.join(self.path, "cgroup.procs")

    def join(self):
        with open(self.procs, "w") as f:
            f.write(str(os.getpid()))

    def remove(self):
        remove(os.path.join(self.path, "cgroup.procs"))


def remove(procs):
    """Moves what is left in the cgroup back to the root and removes it."""
    path = os.path.dirname(procs)
    if not os.path.isdir(path):
        return
    root_procs = os.path.join(os.path.dirname(path), "cgroup.procs")
    try:
        with open(procs) as f:
            members = f.read().split()
        for pid in members:
            try:
                with open(root_procs, "w") as f:
                    f.write(pid)
            except OSError:
                pass  # gone meanwhile
        os.rmdir(path)
    except OSError:
        pass


def evict(paths):
    """Writes the files out and drops them from the page cache, so that the
    next read of them comes from the disk."""
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        try:
            os.fsync(fd)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def main(argv):
    if len(argv) >= 2 and argv[1] == "start" and len(argv) == 4:
        try:
            print(SlowDisk(argv[2], int(argv[3])).procs)
        except Unavailable as e:
            print(f"slow_disk.py: {e}", file=sys.stderr)
            return 3
        return 0
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
