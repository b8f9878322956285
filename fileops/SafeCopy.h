#pragma once

#include <functional>

namespace mirova {

// Test seam of the copy. When set, it is called once for every copy of a regular file after
// the source's size has been read and the temporary file created, before any byte is copied,
// with the source's and the temporary file's descriptors. It lets a test shrink the source or
// put a full device behind the temporary file, faults a real file system does not produce on
// demand. Never set in the program.
using CopyStartHook = std::function<void(int sourceFd, int temporaryFd)>;
void SetCopyStartHookForTesting(CopyStartHook hook);

}  // namespace mirova
