#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/UniqueFd.h"

namespace mirova {

// The change record of one run: "Changes-YYMMDD-hhmmss.txt" in the log folder, UTF-8, LF. It
// names what the run did to each item (or, for a compare, what a synchronisation would do), one
// line per item in the order the run handles them, written as it happens, so that a run killed
// half way still leaves what it did.
//
//   # Mirova 3.0.1 change record            header lines start with "# "
//   # run: sync                             sync, merge or compare
//   # preset: 3 nightly photos              the number (0 for folders of the command line)
//   # source: /home/user/photos             absolute paths
//   # target: /media/backup/photos
//   # suppress deletion: off
//   # exclusions: off                       or: on; names: a, b; extensions: tmp
//   # started: 2026-12-07 02:00:00
//   delete-file<TAB>target<TAB>old/a.txt<TAB>120<TAB>2026-12-01 10:00:00<TAB>-<TAB>-
//   copy-changed<TAB>target<TAB>b.txt<TAB>5<TAB>2026-12-01 10:00:00<TAB>9<TAB>2026-12-06 09:00:00
//   failed<TAB>target<TAB>c.txt<TAB>.\FileCtrl:330 - /media/backup/photos/c.txt が作成できません。
//   # end: failures 1; deleted files 1, deleted folders 0, copied 1 (9 bytes), created folders 0
//
// A run that keeps versions adds "keep-version" lines, each before the deletion or the copy that
// took the item's place, and ", kept versions N" to the closing line.
// An item line has seven fields separated by tabs: the action, the side changed ("source" or
// "target"; a merge changes both), the relative path, then the size and last-write time before
// and after ("-" where there is none). A failure line has four: "failed", the side, the path (or
// "-") and the message. Control characters, backslashes and bytes that are not UTF-8 are written
// as \xNN (a backslash as \\), so that one line is always one item.
enum class ChangeAction {
    DeleteFile,
    DeleteFolder,
    CopyNew,
    CopyChanged,
    CreateFolder,
    Failed,
    // An item moved into the run's folder of versions; its path is the one it has there
    // (".mirova-versions/YYYY-MM-DD hhmmss/old/a.txt"), and its state after the move is the
    // item's as it was.
    KeepVersion,
};
const char* ActionWord(ChangeAction action);

enum class ChangeSide { Source, Target };

// How a run ended, for the closing line.
enum class RecordEnd { Completed, Failures, Cancelled, Declined, Refused };

// One side of an item: its size and last-write time (seconds since 1970), when it exists.
struct ItemState {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
};

struct ChangeItem {
    ChangeAction action = ChangeAction::CopyNew;
    ChangeSide side = ChangeSide::Target;
    std::string path;     // relative, as the run has it (unescaped)
    ItemState before;     // the item on the changed side before the change
    ItemState after;      // after it (for a copy: the source's state)
    std::string message;  // the failure's message
};

struct RecordHeader {
    std::string version;
    std::string runWord;  // "sync", "merge" or "compare"
    int presetNumber = 0;
    std::string caption;
    std::string source;  // absolute
    std::string target;
    bool suppressDeletion = false;
    bool exclusions = false;
    std::vector<std::string> excludedNames;
    std::vector<std::string> excludedExtensions;
    platform::LocalTime started;  // names the file too
};

// Escapes a text for one field of a line (see above).
std::string EscapeField(std::string_view text);
// The reverse of EscapeField.
std::string UnescapeField(std::string_view text);
// The line of an item, without its line end.
std::string ItemLine(const ChangeItem& item);
// Reads an item line back; false for a header line or a line that is not an item.
bool ParseItemLine(std::string_view line, ChangeItem& item);

// The change record being written for a run.
class ChangeRecord {
public:
    // Creates the record of a run that starts now and writes its header. Older records beyond
    // the newest `keep` - 1 are deleted first. A record that cannot be created leaves the run
    // without one (path() is then empty); the run itself goes on.
    bool Open(const RecordHeader& header, int keep = 100);
    void Add(const ChangeItem& item);
    void Close(RecordEnd end, int failures);

    const std::string& path() const { return path_; }
    bool open() const { return file_.valid(); }

    // Called with each item line as it is written (the console's --list).
    std::function<void(const std::string& line)> echo;

    struct Totals {
        int deletedFiles = 0;
        int deletedFolders = 0;
        int copied = 0;
        std::uint64_t copiedBytes = 0;
        int createdFolders = 0;
        int failed = 0;
        int kept = 0;
    };
    const Totals& totals() const { return totals_; }

private:
    void Write(const std::string& line);

    platform::UniqueFd file_;
    std::string path_;
    Totals totals_;
};

// The newest change record in the log folder; "" when there is none.
std::string LatestChangeRecord();

// The header and items of a record file, for the results window.
struct RecordContents {
    std::vector<std::string> headerLines;  // without their "# "
    std::vector<ChangeItem> items;
    std::string endLine;  // the closing line without "# end: ", "" for a run that did not end
};
bool ReadChangeRecord(const std::string& path, RecordContents& out);

}  // namespace mirova
