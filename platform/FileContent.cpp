#include "platform/FileContent.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/FaultInjection.h"

namespace mirova::platform {
namespace {

// Bytes asked of one copy_file_range call; the kernel copies less per call anyway.
constexpr std::size_t kKernelChunk = std::size_t{1} << 30;
// The buffer of the plain read/write loop.
constexpr std::size_t kBufferSize = 128 * 1024;

}  // namespace

CopyFault CopyFileContent(int in, int out, std::uint64_t size) {
    if (InjectedFault(FaultCall::Read) != 0) {
        return CopyFault::Source;
    }
    if (InjectedFault(FaultCall::Write) != 0) {
        return CopyFault::Destination;
    }
    std::uint64_t left = size;
    // The kernel copies without a pass through user space, and may share blocks within one
    // file system. Anything but progress ends this loop: the plain loop then either carries on
    // (file systems that cannot copy this way) or finds out which side fails.
    while (left > 0) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr,
                                                 std::min<std::uint64_t>(left, kKernelChunk), 0);
        if (copied > 0) {
            left -= static_cast<std::uint64_t>(copied);
        } else if (copied == 0 || errno != EINTR) {
            break;
        }
    }
    if (left == 0) {
        return CopyFault::None;
    }
    const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    while (left > 0) {
        const std::size_t wanted = std::min<std::uint64_t>(left, kBufferSize);
        std::size_t got = 0;
        if (!ReadFull(in, buffer.get(), wanted, got).ok() || got == 0) {
            return CopyFault::Source;
        }
        if (!WriteAll(out, buffer.get(), got).ok()) {
            return CopyFault::Destination;
        }
        left -= got;
    }
    return CopyFault::None;
}

SysStatus GiveFileAttributes(int fd, const struct stat& from) {
    // The owner goes before the permission bits: a change of owner clears the set-id bits.
    if (::geteuid() == 0 && ::fchown(fd, from.st_uid, from.st_gid) != 0) {
        // best effort, see the header
    }
    if (::fchmod(fd, from.st_mode & 07777) != 0) {
        // best effort, see the header
    }
    if (const int fault = InjectedFault(FaultCall::SetTimes)) {
        return SysStatus{fault};
    }
    const timespec times[2] = {from.st_atim, from.st_mtim};
    return ::futimens(fd, times) == 0 ? SysStatus::Ok() : SysStatus::FromErrno();
}

SysStatus GiveLinkAttributes(const ItemPlace& link, const struct stat& from) {
    if (::geteuid() == 0 && !SetOwner(link, from.st_uid, from.st_gid).ok()) {
        // best effort, as for files
    }
    const timespec times[2] = {from.st_atim, from.st_mtim};
    return SetTimes(link, times);
}

}  // namespace mirova::platform
