#include "fileops/AheadWorkers.h"

#include <sys/vfs.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace mirova {
namespace {

// Above this the threads only contend with each other.
constexpr long kMaxWorkers = 64;

// The statfs type numbers of the file systems whose calls are round trips.
constexpr std::uint32_t kNetworkTypes[] = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x65735546,  // FUSE (sshfs and every other "fuse." mount)
    0x00C36400,  // Ceph
    0x5346414F,  // AFS
    0x01021997,  // 9P
};

// The variable's number; 0 when it is unset or no number of 1 or more.
int WorkersAsked() {
    const char* text = std::getenv(kCopyThreadsVariable);
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1) {
        return 0;
    }
    return static_cast<int>(value < kMaxWorkers ? value : kMaxWorkers);
}

}  // namespace

bool IsOnNetworkFileSystem(const std::string& folder) {
    struct statfs info {};
    int result;
    do {
        result = ::statfs(folder.c_str(), &info);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return false;
    }
    // The type is a signed word on some architectures; the numbers are 32 bits.
    const auto type = static_cast<std::uint32_t>(info.f_type);
    for (const std::uint32_t network : kNetworkTypes) {
        if (type == network) {
            return true;
        }
    }
    return false;
}

int AheadWorkerCount(const std::string& folder, const std::string& otherFolder) {
    if (const int asked = WorkersAsked(); asked > 0) {
        return asked;
    }
    const bool network = IsOnNetworkFileSystem(folder) ||
                         (!otherFolder.empty() && IsOnNetworkFileSystem(otherFolder));
    return network ? kNetworkWorkers : 1;
}

}  // namespace mirova
