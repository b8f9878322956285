#pragma once

#include <cstdint>
#include <string>

namespace mirova {

// The folder of the run log and its side files: $MIROVA_LOG_DIR, else $XDG_STATE_HOME/Mirova,
// else ~/.local/state/Mirova. Read afresh at every call so that tests can point it elsewhere.
std::string LogFolder();
// LogFolder() + "/" + name.
std::string LogFilePath(const char* name);
// Creates the log folder (mode 0700, missing parents with the default mode) when it is
// missing. Returns false when it does not exist afterwards.
bool EnsureLogFolder();

inline constexpr const char* kRunLogName = "Mirova.log";
inline constexpr const char* kReverseListName = "ReverseList.txt";
inline constexpr const char* kSourceDumpName = "SrcList.txt";
inline constexpr const char* kTargetDumpName = "TarList.txt";

// Appends one line to the run log: "YYMMDD-hhmmss: text" when stamped is 1, the text alone
// otherwise. The file is opened, written with a single append and closed for each line, so
// lines of the UI thread and the scan worker stay whole and every finished line is on disk. A
// log that cannot be written drops the line silently.
void WriteLog(const char* text, int stamped);
inline void WriteLog(const std::string& text, int stamped) {
    WriteLog(text.c_str(), stamped);
}

// The size beyond which the run log is rotated at the start of a run.
inline constexpr std::uint64_t kRunLogLimit = 16u << 20;
// When the run log is larger than `limit`, it becomes Mirova.log.1 (older ones shift up to
// Mirova.log.3; the oldest is removed) and the next line starts a new Mirova.log.
void RotateRunLog(std::uint64_t limit);

// Appends a relative file name as one line (ending in CR LF) to ReverseList.txt.
void AppendReverseList(const char* name);

// Creates every missing folder along a path ("/a/b/c"; a relative path is taken from the
// current folder). Runs of separators and a trailing separator are allowed. Returns 0 when the
// whole path exists as a folder afterwards, -1 when a folder cannot be created, the path is
// empty, or a component is not a folder.
int MakeFolderPath(const char* path);

// snprintf into a caller's buffer of 256 characters; the text is cut rather than overrun.
// Returns the number of characters written.
int FormatToBuffer(char (&buffer)[256], const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace mirova
