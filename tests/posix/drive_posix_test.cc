// The drive type of folders: real mounts of this machine, the classification
// of mounts described by hand, and removable devices in a made-up sysfs.
#include "platform/posix/drive_posix.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "tests/posix/posix_test_util.h"

namespace {

using posixtest::TempFolder;
using posixtest::WriteFile;

constexpr long kTmpfsMagic = 0x01021994;

bool IsTmpfs(const char* path) {
  struct statfs fs;
  return ::statfs(path, &fs) == 0 && fs.f_type == kTmpfsMagic;
}

TEST(DriveTypePosix, RealFoldersOfThisMachine) {
  // The build tree lies on an ordinary local disk.
  EXPECT_EQ(GetFolderDriveType(NWD_BUILD_DIR), DRIVE_FIXED);
  EXPECT_EQ(GetFolderDriveType(std::string(NWD_BUILD_DIR) + "/"), DRIVE_FIXED);
  EXPECT_EQ(GetFolderDriveType("/proc/self"), DRIVE_UNKNOWN);

  TempFolder folder;
  EXPECT_EQ(GetFolderDriveType(folder / "gone/"), DRIVE_NO_ROOT_DIR);
  WriteFile(folder / "file", "");
  EXPECT_EQ(GetFolderDriveType(folder / "file"), DRIVE_NO_ROOT_DIR);

  if (!IsTmpfs("/dev/shm")) GTEST_SKIP() << "/dev/shm is no tmpfs here";
  EXPECT_EQ(GetFolderDriveType("/dev/shm/"), DRIVE_RAMDISK);
  // A link on the disk that leads into the RAM disk: where the folder really
  // is counts, not where its name starts.
  ASSERT_EQ(::symlink("/dev/shm", (folder / "shm").c_str()), 0);
  EXPECT_EQ(GetFolderDriveType(folder / "shm/"), DRIVE_RAMDISK);
}

TEST(DriveTypePosix, ClassificationOfMounts) {
  struct Case {
    const char* fsType;
    const char* source;
    bool removable;
    UINT expected;
  };
  const Case cases[] = {
      {"ext4", "/dev/nvme0n1p2", false, DRIVE_FIXED},
      {"ext4", "/dev/sdb1", true, DRIVE_REMOVABLE},
      {"xfs", "/dev/mapper/vg-home", false, DRIVE_FIXED},
      {"btrfs", "/dev/sda3", false, DRIVE_FIXED},
      {"zfs", "rpool/ROOT/debian", false, DRIVE_FIXED},
      {"vfat", "/dev/sdc1", true, DRIVE_REMOVABLE},
      {"exfat", "/dev/mmcblk0p1", true, DRIVE_REMOVABLE},
      {"fuseblk", "/dev/sda2", false, DRIVE_FIXED},  // NTFS through FUSE on the disk
      {"fuseblk", "/dev/sdd1", true, DRIVE_REMOVABLE},
      {"squashfs", "/dev/loop3", false, DRIVE_FIXED},  // any file system on a local device
      {"overlay", "overlay", false, DRIVE_FIXED},
      {"tmpfs", "tmpfs", false, DRIVE_RAMDISK},
      {"ramfs", "none", false, DRIVE_RAMDISK},
      {"iso9660", "/dev/sr0", true, DRIVE_CDROM},
      {"udf", "/dev/sr0", true, DRIVE_CDROM},
      {"nfs", "server:/export", false, DRIVE_REMOTE},
      {"nfs4", "server:/export/home", false, DRIVE_REMOTE},
      {"cifs", "//server/share", false, DRIVE_REMOTE},
      {"smb3", "//server/share", false, DRIVE_REMOTE},
      {"9p", "hostshare", false, DRIVE_REMOTE},
      {"ceph", "10.0.0.1:6789:/", false, DRIVE_REMOTE},
      {"fuse.sshfs", "user@host:/home/user", false, DRIVE_REMOTE},
      {"fuse.rclone", "remote:", false, DRIVE_REMOTE},
      {"fuse.gvfsd-fuse", "gvfsd-fuse", false, DRIVE_REMOTE},
      {"fuse.someremote", "host:/path", false, DRIVE_REMOTE},
      {"fuse.someshare", "//server/share", false, DRIVE_REMOTE},
      {"fuse.somelocal", "somelocal", false, DRIVE_UNKNOWN},
      {"proc", "proc", false, DRIVE_UNKNOWN},
      {"sysfs", "sysfs", false, DRIVE_UNKNOWN},
      {"", "", false, DRIVE_UNKNOWN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(posix::ClassifyDrive(c.fsType, c.source, c.removable), c.expected)
        << c.fsType << " from " << c.source << (c.removable ? ", removable" : "");
  }
}

TEST(DriveTypePosix, MountTableDecidesOverTheTypeGuess) {
  // Folders on this machine's disk that a made-up table says are mounted
  // otherwise. The guess from the file system's magic number knows none of
  // zfs, fuseblk or squashfs, and sees only the disk all these folders are on.
  TempFolder folder;
  char* resolved = ::realpath(folder.path().c_str(), nullptr);
  ASSERT_NE(resolved, nullptr);
  const std::string root = resolved;
  ::free(resolved);
  struct Case {
    const char* folder;
    const char* mount;  // type and source, or null for no entry
    UINT expected;
  };
  const Case cases[] = {
      {"zfs", "zfs rpool/data", DRIVE_FIXED},
      {"ntfs", "fuseblk /dev/nwd-test-none", DRIVE_FIXED},
      {"squash", "squashfs /dev/nwd-test-loop", DRIVE_FIXED},
      {"nfs", "nfs4 server:/export", DRIVE_REMOTE},
      {"nfs/below", nullptr, DRIVE_REMOTE},
      {"ssh", "fuse.sshfs user@host:/home", DRIVE_REMOTE},
      {"shm", "tmpfs tmpfs", DRIVE_RAMDISK},
      {"cd", "iso9660 /dev/nwd-test-sr", DRIVE_CDROM},
      {"stacked", "ext4 /dev/nwd-test-disk", DRIVE_REMOTE},  // covered by the next
      {"stacked", "cifs //server/share", DRIVE_REMOTE},
      {"plain", nullptr, DRIVE_FIXED},  // no entry: the guess, for this disk
  };
  std::string table;
  int id = 100;
  for (const Case& c : cases) {
    std::filesystem::create_directories(root + "/" + c.folder);
    if (!c.mount) continue;
    const std::string number = std::to_string(++id);
    table +=
        number + " 1 0:" + number + " / " + root + "/" + c.folder + " rw - " + c.mount + " rw\n";
  }
  WriteFile(folder / "mountinfo", table);
  for (const Case& c : cases) {
    EXPECT_EQ(posix::FolderDriveType(root + "/" + c.folder, folder / "mountinfo"), c.expected)
        << c.folder;
  }
  // Without a table to read, the guess is all there is.
  EXPECT_EQ(posix::FolderDriveType(root + "/nfs", folder / "none"), DRIVE_FIXED);
}

// A sysfs tree of a few made-up devices, laid out as the kernel does.
class FakeSysfs {
 public:
  std::string root() const { return folder_ / "sys"; }

  // A disk folder below devices/ with its removable flag; its partitions get
  // a "partition" file; dev/block/major:minor links to the given folder.
  void AddDisk(const std::string& devicePath, const char* removable) {
    std::filesystem::create_directories(root() + "/devices/" + devicePath);
    WriteFile(root() + "/devices/" + devicePath + "/removable", std::string(removable) + "\n");
  }
  void AddPartition(const std::string& partitionPath) {
    std::filesystem::create_directories(root() + "/devices/" + partitionPath);
    WriteFile(root() + "/devices/" + partitionPath + "/partition", "1\n");
  }
  void Link(const std::string& number, const std::string& devicePath) {
    std::filesystem::create_directories(root() + "/dev/block");
    std::filesystem::create_directory_symlink("../../devices/" + devicePath,
                                              root() + "/dev/block/" + number);
  }
  void AddSlave(const std::string& volumePath, const std::string& name,
                const std::string& slavePath) {
    const std::string slaves = root() + "/devices/" + volumePath + "/slaves";
    std::filesystem::create_directories(slaves);
    std::filesystem::create_directory_symlink(root() + "/devices/" + slavePath,
                                              slaves + "/" + name);
  }
  void SetCardType(const std::string& diskPath, const char* type) {
    std::filesystem::create_directories(root() + "/devices/" + diskPath + "/device");
    WriteFile(root() + "/devices/" + diskPath + "/device/type", std::string(type) + "\n");
  }

 private:
  TempFolder folder_;
};

TEST(DriveTypePosix, RemovableBlockDevices) {
  FakeSysfs sys;
  const std::string sata = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
  const std::string usb =
      "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
  const std::string reader =
      "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdc";  // flag set
  const std::string card = "pci0000:00/0000:00:1a.0/mmc_host/mmc0/mmc0:0001/block/mmcblk0";
  const std::string emmc = "pci0000:00/0000:00:1c.0/mmc_host/mmc1/mmc1:0001/block/mmcblk1";

  sys.AddDisk(sata, "0");
  sys.AddPartition(sata + "/sda1");
  sys.Link("8:0", sata);
  sys.Link("8:1", sata + "/sda1");
  // A USB disk that calls itself fixed is still on the USB bus.
  sys.AddDisk(usb, "0");
  sys.AddPartition(usb + "/sdb1");
  sys.Link("8:17", usb + "/sdb1");
  sys.AddDisk(reader, "1");
  sys.AddPartition(reader + "/sdc1");
  sys.Link("8:33", reader + "/sdc1");
  sys.AddDisk(card, "0");
  sys.SetCardType(card, "SD");
  sys.AddPartition(card + "/mmcblk0p1");
  sys.Link("179:1", card + "/mmcblk0p1");
  sys.AddDisk(emmc, "0");
  sys.SetCardType(emmc, "MMC");
  sys.Link("179:8", emmc);
  // Encrypted volumes, one on each disk.
  sys.AddDisk("virtual/block/dm-0", "0");
  sys.AddSlave("virtual/block/dm-0", "sda1", sata + "/sda1");
  sys.Link("254:0", "virtual/block/dm-0");
  sys.AddDisk("virtual/block/dm-1", "0");
  sys.AddSlave("virtual/block/dm-1", "sdb1", usb + "/sdb1");
  sys.Link("254:1", "virtual/block/dm-1");

  EXPECT_FALSE(posix::IsRemovableBlockDevice(sys.root(), 8, 0));
  EXPECT_FALSE(posix::IsRemovableBlockDevice(sys.root(), 8, 1));
  EXPECT_TRUE(posix::IsRemovableBlockDevice(sys.root(), 8, 17));
  EXPECT_TRUE(posix::IsRemovableBlockDevice(sys.root(), 8, 33));
  EXPECT_TRUE(posix::IsRemovableBlockDevice(sys.root(), 179, 1));
  EXPECT_FALSE(posix::IsRemovableBlockDevice(sys.root(), 179, 8));
  EXPECT_FALSE(posix::IsRemovableBlockDevice(sys.root(), 254, 0));
  EXPECT_TRUE(posix::IsRemovableBlockDevice(sys.root(), 254, 1));
  EXPECT_FALSE(posix::IsRemovableBlockDevice(sys.root(), 8, 48));  // no such device
}

}  // namespace
