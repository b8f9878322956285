#pragma once

#include <cerrno>
#include <string>

namespace mirova::platform {

// Outcome of one operating-system call: 0 for success or the errno it failed with, so that
// messages and log lines can name the reason.
struct SysStatus {
    int error = 0;

    bool ok() const { return error == 0; }
    // The item (or a folder on its path) does not exist; the counterpart of Windows'
    // ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND.
    bool notFound() const { return error == ENOENT || error == ENOTDIR; }
    // The system's text for the reason ("Permission denied").
    std::string describe() const;

    static SysStatus Ok() { return {}; }
    static SysStatus FromErrno() { return SysStatus{errno == 0 ? EIO : errno}; }
};

}  // namespace mirova::platform
