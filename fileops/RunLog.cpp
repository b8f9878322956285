#include "fileops/RunLog.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

// One lock for every append of the process: the UI thread and the scan worker both log, and
// each line must reach the file whole.
std::mutex& AppendMutex() {
    static std::mutex mutex;
    return mutex;
}

bool IsSet(const char* value) {
    return value != nullptr && *value != '\0';
}

// The user's home folder: $HOME, else the password database (a service started without HOME).
std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (IsSet(home)) {
        return home;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        IsSet(found->pw_dir)) {
        return found->pw_dir;
    }
    return {};
}

bool IsFolder(const std::string& path) {
    platform::ItemInfo info;
    return platform::GetItemInfo(path, info, platform::FollowLinks::Yes).ok() && info.isFolder();
}

// The folder that holds the last component of path ("" when there is none).
std::string ParentOf(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Appends one finished line to a file of the log folder: one open, one write, one close, so
// that a line is on disk as soon as the call returns and no handle stays open during a run. A
// file that cannot be opened loses the line; the run goes on.
void AppendLine(const char* fileName, std::string_view line) {
    std::lock_guard lock(AppendMutex());
    EnsureLogFolder();
    const std::string path = LogFilePath(fileName);
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return;
    }
    (void)platform::WriteAll(fd.get(), line.data(), line.size());
}

}  // namespace

std::string LogFolder() {
    const char* logDir = std::getenv("MIROVA_LOG_DIR");
    if (IsSet(logDir)) {
        return logDir;
    }
    // The XDG rules ignore a relative XDG_STATE_HOME.
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    if (IsSet(stateHome) && stateHome[0] == '/') {
        return std::string(stateHome) + "/Mirova";
    }
    return HomeFolder() + "/.local/state/Mirova";
}

std::string LogFilePath(const char* name) {
    return LogFolder() + "/" + name;
}

bool EnsureLogFolder() {
    const std::string folder = LogFolder();
    if (platform::Exists(folder, platform::FollowLinks::Yes)) {
        return IsFolder(folder);
    }
    const std::string parent = ParentOf(folder);
    if (!parent.empty() && parent[0] == '/') {
        // A failure shows in the creation of the log folder below.
        (void)MakeFolderPath(parent.c_str());
    }
    // The log names the user's files and folders: keep it private, whatever the umask.
    if (platform::CreateFolder(folder, 0700).ok()) {
        (void)platform::SetPermissions(folder, 0700);
    }
    return IsFolder(folder);
}

void WriteLog(const char* text, int stamped) {
    if (text == nullptr) {
        text = "";
    }
    std::string line;
    const std::size_t textLength = std::strlen(text);
    if (stamped == 1) {
        const platform::LocalTime now = platform::CurrentClock().Now();
        char stamp[64];
        const int stampLength =
            std::snprintf(stamp, sizeof stamp, "%02d%02d%02d-%02d%02d%02d: ", now.year - 2000,
                          now.month, now.day, now.hour, now.minute, now.second);
        const std::size_t used =
            stampLength < 0 ? 0 : std::min<std::size_t>(stampLength, sizeof stamp - 1);
        line.reserve(used + textLength + 1);
        line.append(stamp, used);
    } else {
        line.reserve(textLength + 1);
    }
    line.append(text, textLength);
    line.push_back('\n');
    AppendLine(kRunLogName, line);
}

void RotateRunLog(std::uint64_t limit) {
    const std::string log = LogFilePath(kRunLogName);
    struct stat st {};
    if (::stat(log.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) <= limit) {
        return;
    }
    constexpr int kKept = 3;
    const auto numbered = [&log](int n) { return log + "." + std::to_string(n); };
    (void)::unlink(numbered(kKept).c_str());
    for (int n = kKept - 1; n >= 1; --n) {
        (void)::rename(numbered(n).c_str(), numbered(n + 1).c_str());
    }
    (void)::rename(log.c_str(), numbered(1).c_str());
}

void AppendReverseList(const char* name) {
    // CR LF, as in SrcList.txt and TarList.txt: the side lists are read by the same tools.
    std::string line(name == nullptr ? "" : name);
    line.append("\r\n");
    AppendLine(kReverseListName, line);
}

int MakeFolderPath(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return -1;
    }
    // A relative path (a folder given relative to where the program was started) is created
    // relative to the current folder, as every other call takes it.
    const bool absolute = path[0] == '/';
    const std::string full(path);
    // Callers mostly pass folders that exist already (the parent of every copied file).
    if (IsFolder(full)) {
        return 0;
    }
    std::string prefix;
    prefix.reserve(full.size());
    std::size_t pos = 0;
    while (pos < full.size()) {
        // A run of separators is one separator; a trailing one ends the path.
        while (pos < full.size() && full[pos] == '/') {
            ++pos;
        }
        if (pos == full.size()) {
            break;
        }
        const std::size_t end = std::min(full.find('/', pos), full.size());
        if (absolute || !prefix.empty()) {
            prefix.push_back('/');
        }
        prefix.append(full, pos, end - pos);
        pos = end;

        platform::ItemInfo info;
        const platform::SysStatus status =
            platform::GetItemInfo(prefix, info, platform::FollowLinks::Yes);
        if (status.ok()) {
            // A file in the way would make every later step fail, or, as the last
            // component, leave the caller without the folder it asked for.
            if (!info.isFolder()) {
                return -1;
            }
            continue;
        }
        if (!status.notFound()) {
            return -1;
        }
        // Another process may create the same folder at the same moment; that is success.
        if (!platform::CreateFolder(prefix, 0777).ok() && !IsFolder(prefix)) {
            return -1;
        }
    }
    return 0;
}

int FormatToBuffer(char (&buffer)[256], const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return std::min(length, static_cast<int>(sizeof buffer) - 1);
}

}  // namespace mirova
