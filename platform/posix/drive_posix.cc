// The drive type of a folder: which file system holds it (the mount table),
// and for one on a block device, whether that device is removable (sysfs).
#include "platform/posix/drive_posix.h"

#include <dirent.h>
#include <libmount/libmount.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/system_calls.h"
#include "platform/system.h"

using posix::sys;

namespace {

constexpr const char* kMemoryTypes[] = {"tmpfs", "ramfs"};

constexpr const char* kOpticalTypes[] = {"iso9660", "udf"};

// Network file systems, and the shared folders of virtual machines, which
// their guests see as network drives.
constexpr const char* kNetworkTypes[] = {
    "nfs",   "nfs4",   "cifs",   "smb3",   "smbfs",    "ncpfs",    "ncp",    "9p",
    "ceph",  "afs",    "coda",   "davfs",  "lustre",   "gpfs",     "beegfs", "orangefs",
    "pvfs2", "vboxsf", "vmhgfs", "prl_fs", "virtiofs", "glusterfs"};

// FUSE file systems (type "fuse.<name>") that reach over the network.
constexpr const char* kNetworkFuseTypes[] = {
    "sshfs",     "rclone",  "s3fs",     "gcsfuse",    "goofys",      "curlftpfs",
    "httpfs",    "davfs",   "davfs2",   "gvfsd-fuse", "smbnetfs",    "glusterfs",
    "ceph-fuse", "juicefs", "blobfuse", "blobfuse2",  "vmhgfs-fuse", "afpfs"};

// File systems kept on local disks. An overlay counts as one: containers
// and similar set-ups keep its writable layer on the host's disk. Its lack of
// a block device leaves it fixed.
constexpr const char* kDiskTypes[] = {"ext2",  "ext3",     "ext4",   "xfs",      "btrfs", "f2fs",
                                      "jfs",   "reiserfs", "nilfs2", "bcachefs", "zfs",   "vfat",
                                      "msdos", "exfat",    "ntfs",   "ntfs3",    "hfs",   "hfsplus",
                                      "ufs",   "fuseblk",  "overlay"};

// Type names by the statfs magic number, for when no mount table can be read.
struct MagicName {
  unsigned long magic;
  const char* fsType;
};
constexpr MagicName kMagicNames[] = {
    {TMPFS_MAGIC, "tmpfs"},      {RAMFS_MAGIC, "ramfs"},       {EXT4_SUPER_MAGIC, "ext4"},
    {XFS_SUPER_MAGIC, "xfs"},    {BTRFS_SUPER_MAGIC, "btrfs"}, {F2FS_SUPER_MAGIC, "f2fs"},
    {MSDOS_SUPER_MAGIC, "vfat"}, {EXFAT_SUPER_MAGIC, "exfat"}, {ISOFS_SUPER_MAGIC, "iso9660"},
    {0x15013346UL, "udf"},       {NFS_SUPER_MAGIC, "nfs"},     {CIFS_SUPER_MAGIC, "cifs"},
    {SMB2_SUPER_MAGIC, "smb3"},  {V9FS_MAGIC, "9p"},           {CEPH_SUPER_MAGIC, "ceph"},
    {AFS_FS_MAGIC, "afs"},       {CODA_SUPER_MAGIC, "coda"},   {OVERLAYFS_SUPER_MAGIC, "overlay"},
};

// Mapped volumes stacked deeper than this are not followed.
constexpr int kMaxStackDepth = 8;

template <std::size_t N>
bool IsOneOf(const std::string& name, const char* const (&list)[N]) {
  for (const char* entry : list) {
    if (name == entry) return true;
  }
  return false;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "host:/path", "user@host:path" or "//host/share".
bool IsNetworkSource(const std::string& source) {
  if (StartsWith(source, "//")) return true;
  return !source.empty() && source[0] != '/' && source.find(':') != std::string::npos;
}

std::string RealPath(const std::string& path) {
  char* resolved = sys.realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

// The first line of a small file (sysfs keeps one value a file).
std::string FirstLine(const std::string& path) {
  const int fd = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return {};
  char buffer[256];
  const ssize_t got = sys.read(fd, buffer, sizeof buffer);
  sys.close(fd);
  const std::string text(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
  return text.substr(0, text.find('\n'));
}

bool Exists(const std::string& path) {
  struct stat st;
  return sys.stat(path.c_str(), &st) == 0;
}

// device: the device's folder in sysfs, resolved, below root.
bool IsRemovableDevice(const std::string& root, std::string device, int depth) {
  if (device.find("/usb", root.size()) != std::string::npos) return true;
  // A partition's flags are its disk's.
  if (Exists(device + "/partition")) device.erase(device.rfind('/'));
  if (FirstLine(device + "/removable") == "1") return true;
  // Card readers report SD cards as fixed; only the card's type tells.
  if (FirstLine(device + "/device/type") == "SD") return true;
  if (depth >= kMaxStackDepth) return false;

  bool removable = false;
  if (DIR* slaves = sys.opendir((device + "/slaves").c_str())) {
    while (const dirent* entry = sys.readdir(slaves)) {
      if (entry->d_name[0] == '.') continue;
      const std::string slave = RealPath(device + "/slaves/" + entry->d_name);
      if (!slave.empty() && IsRemovableDevice(root, slave, depth + 1)) {
        removable = true;
        break;
      }
    }
    sys.closedir(slaves);
  }
  return removable;
}

struct Mount {
  std::string fsType;
  std::string source;
  dev_t device = 0;  // as the mount table gives it; 0:n for none
};

// The mount that holds path, which must be resolved (the table lists
// mount points without symbolic links).
bool FindMount(const std::string& mountTable, const std::string& path, Mount& mount) {
  // Opened here and only parsed by the library, so that the table's one
  // call into the system is ours.
  const int fd = sys.open(mountTable.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  std::FILE* stream = ::fdopen(fd, "r");
  if (!stream) {
    sys.close(fd);
    return false;
  }
  libmnt_table* table = mnt_new_table();
  const bool parsed = table && mnt_table_parse_stream(table, stream, mountTable.c_str()) == 0;
  std::fclose(stream);
  if (!parsed) {
    mnt_unref_table(table);
    return false;
  }
  // Backward: of mounts stacked on one point, the last one is visible.
  libmnt_fs* fs = mnt_table_find_mountpoint(table, path.c_str(), MNT_ITER_BACKWARD);
  if (fs) {
    const char* fsType = mnt_fs_get_fstype(fs);
    const char* source = mnt_fs_get_source(fs);
    mount.fsType = fsType ? fsType : "";
    mount.source = source ? source : "";
    mount.device = mnt_fs_get_devno(fs);
  }
  mnt_unref_table(table);
  return fs != nullptr && !mount.fsType.empty();
}

Mount MountFromStatfs(const std::string& path, dev_t device) {
  Mount mount;
  mount.device = device;
  struct statfs fs;
  if (sys.statfs(path.c_str(), &fs) != 0) return mount;
  for (const MagicName& entry : kMagicNames) {
    if (static_cast<unsigned long>(fs.f_type) == entry.magic) mount.fsType = entry.fsType;
  }
  return mount;
}

}  // namespace

namespace posix {

UINT ClassifyDrive(const std::string& fsType, const std::string& source, bool removable) {
  if (IsOneOf(fsType, kMemoryTypes)) return DRIVE_RAMDISK;
  if (IsOneOf(fsType, kOpticalTypes)) return DRIVE_CDROM;
  if (IsOneOf(fsType, kNetworkTypes)) return DRIVE_REMOTE;
  if (StartsWith(fsType, "fuse.") && IsOneOf(fsType.substr(5), kNetworkFuseTypes)) {
    return DRIVE_REMOTE;
  }
  if (IsOneOf(fsType, kDiskTypes) || StartsWith(source, "/dev/")) {
    return removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
  }
  if (IsNetworkSource(source)) return DRIVE_REMOTE;
  // Kernel interfaces (proc, sysfs, ...) and FUSE systems of unknown reach.
  return DRIVE_UNKNOWN;
}

bool IsRemovableBlockDevice(const std::string& sysfsRoot, unsigned int major, unsigned int minor) {
  const std::string root = RealPath(sysfsRoot);
  const std::string device =
      RealPath(sysfsRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  return !root.empty() && !device.empty() && IsRemovableDevice(root, device, 0);
}

UINT FolderDriveType(const std::string& folder, const std::string& mountTable) {
  const std::string path = RealPath(folder);
  struct stat st;
  if (path.empty() || sys.stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return DRIVE_NO_ROOT_DIR;
  }
  Mount mount;
  if (!FindMount(mountTable, path, mount)) mount = MountFromStatfs(path, st.st_dev);

  // The source names the device best: the table's numbers are anonymous for
  // some file systems (btrfs) that still sit on one disk.
  dev_t device = 0;
  struct stat source;
  if (StartsWith(mount.source, "/dev/") && sys.stat(mount.source.c_str(), &source) == 0 &&
      S_ISBLK(source.st_mode)) {
    device = source.st_rdev;
  } else if (major(mount.device) != 0) {
    device = mount.device;
  }
  const bool removable =
      device != 0 && IsRemovableBlockDevice("/sys", major(device), minor(device));
  return ClassifyDrive(mount.fsType, mount.source, removable);
}

}  // namespace posix

UINT GetFolderDriveType(const std::string& folder) {
  return posix::FolderDriveType(folder, "/proc/self/mountinfo");
}
