#include "app/common/SingleCopy.h"

#include "fileops/Format.h"
#include "fileops/RunLog.h"

namespace mirova {
namespace {

constexpr const char* kName = "Mirova";
constexpr int kUserLimit = 1;

}  // namespace

std::string TakeSingleCopyGuard(platform::InstanceGuard& guard) {
    // Without $XDG_RUNTIME_DIR the per-user lock file lies in the log folder, which must exist
    // for the lock to be taken.
    EnsureLogFolder();
    switch (guard.Acquire(kName, LogFolder())) {
        case platform::InstanceGuard::Result::Acquired:
            return std::string();
        case platform::InstanceGuard::Result::RunningForThisUser:
            return Format("「%s」を複数起動することはできません。", kName);
        case platform::InstanceGuard::Result::RunningForOtherUser:
            break;
    }
    return Format("「%s」は既に%dユーザーで起動中です。", kName, kUserLimit);
}

}  // namespace mirova
