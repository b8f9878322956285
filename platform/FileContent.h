#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "platform/FileSystem.h"
#include "platform/SysStatus.h"

namespace mirova::platform {

// Which side of a copy failed.
enum class CopyFault { None, Source, Destination };

// Copies exactly `size` bytes from the start of `in` to `out`, in the kernel where the file
// systems allow it. A source that ends early or cannot be read is a fault of the source, a
// write that fails (a full disk) one of the destination.
CopyFault CopyFileContent(int in, int out, std::uint64_t size);

// Gives the file open at fd the owner and group (as root only: nobody else can give a file
// away), the permission bits and the times of `from`. Owner and permissions are best effort:
// file systems without them (FAT) refuse them while keeping the content and the times the
// comparison relies on. The times must be set.
SysStatus GiveFileAttributes(int fd, const struct stat& from);

// The same for a link, which has no permission bits of its own.
SysStatus GiveLinkAttributes(const ItemPlace& link, const struct stat& from);

}  // namespace mirova::platform
