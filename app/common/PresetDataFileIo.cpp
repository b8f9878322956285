#include "app/common/PresetDataFileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::SysStatus;

// Far beyond any real preset data (30 presets and 200 list entries); a larger file is refused
// before it is read into memory.
constexpr off_t kLargestPresetData = 64 << 20;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A link at the path is replaced through: the file it points to gets the new content and the
// link stays.
std::string ResolveLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return path;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;  // a dangling link is replaced by the file
    }
    std::string target(resolved);
    std::free(resolved);
    return target;
}

SysStatus WriteAndClose(platform::UniqueFd& fd, const std::string& bytes) {
    SysStatus status = platform::WriteAll(fd.get(), bytes.data(), bytes.size());
    if (status.ok() && ::fsync(fd.get()) != 0) {
        status = SysStatus::FromErrno();
    }
    const int raw = fd.release();
    if (::close(raw) != 0 && status.ok()) {
        status = SysStatus::FromErrno();
    }
    return status;
}

}  // namespace

SysStatus ReplaceFileContents(const std::string& path, const std::string& bytes) {
    const std::string target = ResolveLink(path);
    mode_t permissions = 0666;  // filtered by the umask, as for any new file
    struct stat existing {};
    const bool replacing = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    const std::string stem =
        FolderOf(target) + "/.mirova-preset-data-" + std::to_string(::getpid());
    platform::UniqueFd fd;
    std::string temporary;
    SysStatus status;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = stem + "-" + std::to_string(attempt) + ".tmp";
        status = platform::CreateFileForWriting(temporary, platform::CreateMode::NewOnly,
                                                permissions, fd);
        if (status.error != EEXIST) {
            break;
        }
    }
    if (!status.ok()) {
        return status;
    }
    if (replacing && ::fchmod(fd.get(), existing.st_mode & 07777) != 0) {
        status = SysStatus::FromErrno();
    }
    if (status.ok()) {
        status = WriteAndClose(fd, bytes);
    }
    if (status.ok()) {
        status = platform::RenameItem(temporary, target);
    }
    if (!status.ok()) {
        platform::DeleteFile(temporary);
    }
    return status;
}

std::string ReadPresetDataBytes(const std::string& path, std::string& bytes) {
    // Non-blocking, so that a FIFO given by mistake is refused instead of waited on.
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return SysStatus::FromErrno().describe();
    }
    if (!S_ISREG(st.st_mode)) {
        return S_ISDIR(st.st_mode) ? SysStatus{EISDIR}.describe() : "not a regular file";
    }
    if (st.st_size > kLargestPresetData) {
        return "far too large for preset data";
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    const SysStatus status = platform::ReadFull(fd.get(), bytes.data(), bytes.size(), got);
    bytes.resize(got);
    return status.ok() ? std::string() : status.describe();
}

std::string DamagedPresetDataText(const std::string& file, const std::string& problem) {
    return file + "は壊れたﾌﾟﾘｾｯﾄﾃﾞｰﾀです（" + problem + "）。\nﾌﾟﾘｾｯﾄﾃﾞｰﾀは変更されていません。";
}

}  // namespace mirova
