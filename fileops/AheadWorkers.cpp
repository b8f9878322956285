#include "fileops/AheadWorkers.h"

#include <cerrno>
#include <cstdlib>

#include "platform/FileSystem.h"

namespace mirova {
namespace {

// Above this the threads only contend with each other.
constexpr long kMaxWorkers = 64;

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

int AheadWorkerCount(const std::string& folder, const std::string& otherFolder) {
    if (const int asked = WorkersAsked(); asked > 0) {
        return asked;
    }
    const bool network = platform::IsNetworkFileSystem(folder) ||
                         (!otherFolder.empty() && platform::IsNetworkFileSystem(otherFolder));
    return network ? kNetworkWorkers : 1;
}

}  // namespace mirova
