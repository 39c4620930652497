// How the POSIX backend tells the kind of drive a folder lies on, split into
// pure steps so that tests can feed them any mount or device they describe.
#pragma once

#include <string>

#include "platform/types.h"

namespace posix {

// The drive type of a file system mounted from source with the given type
// name (as /proc/self/mountinfo names them: "ext4", "nfs4", "fuse.sshfs",
// "fuseblk", ...). removable tells whether the block device under it, if
// any, is removable media.
UINT ClassifyDrive(const std::string& fsType, const std::string& source, bool removable);

// Whether the block device major:minor is removable media, as the sysfs tree
// at sysfsRoot ("/sys" on a running system) describes it: the disk's
// removable flag, an SD card, a disk on a USB bus, or a mapped volume (LVM,
// encryption, RAID) with such a disk beneath it.
bool IsRemovableBlockDevice(const std::string& sysfsRoot, unsigned int major, unsigned int minor);

// The drive type of an existing folder by the mount table in the file
// mountTable (in the format of /proc/self/mountinfo): the file system's
// type as the table names it, or as its magic number suggests when the
// table has no entry for the folder.
UINT FolderDriveType(const std::string& folder, const std::string& mountTable);

}  // namespace posix
