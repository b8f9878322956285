#pragma once

#include <string>

namespace mirova {

// The environment variable that sets the number of workers of a copy or delete list, read at
// every list: N >= 1 workers, 1 meaning one item after the other on the calling thread.
inline constexpr const char* kCopyThreadsVariable = "MIROVA_COPY_THREADS";

// Workers on a network file system.
inline constexpr int kNetworkWorkers = 8;

// How many workers carry out a list whose items lie in these folders: the variable's number
// when set, otherwise kNetworkWorkers when either folder is on a network or FUSE file system
// (platform::IsNetworkFileSystem), and 1 (no workers) everywhere else, where a local disk gains
// nothing from them.
int AheadWorkerCount(const std::string& folder, const std::string& otherFolder = {});

}  // namespace mirova
