#pragma once

#include <string>

namespace mirova::platform {

// The calls of the file-system layer that a test can make fail. A real file system produces
// most of these faults (a full disk, a failing device, a busy mount point) only rarely and
// never on demand.
enum class FaultCall {
    EnterFolder,   // a folder on the way to an item is opened
    OpenRead,      // a file is opened for reading
    Create,        // a file or link is created
    Read,          // file content is read
    Write,         // file content is written
    SetTimes,      // times are given to a copy
    Rename,        // an item is renamed (a finished copy replaces its destination)
    Delete,        // a file or link is deleted
    CreateFolder,  // a folder is created
    RemoveFolder,  // a folder is removed
};

// Makes calls of one kind fail with `error`: after `skip` calls that pass, the next `times`
// calls fail (times < 0: every later call). With `nameContains`, only calls on items whose
// name contains that text count (Read and Write have no name and always count). Tests only;
// never set in the program.
void InjectFaultForTesting(FaultCall call, int error, std::string nameContains = {}, int skip = 0,
                           int times = -1);
void ClearFaultsForTesting();

// The error a test asked for on this call, or 0. The common case (no fault asked for) costs
// one relaxed load.
int InjectedFault(FaultCall call, const char* name = nullptr);

}  // namespace mirova::platform
