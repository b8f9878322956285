#include "engine/ChangeRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "fileops/Format.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

constexpr std::string_view kPrefix = "Changes-";
constexpr std::string_view kSuffix = ".txt";

const char* SideWord(ChangeSide side) {
    return side == ChangeSide::Source ? "source" : "target";
}

// The length of the UTF-8 sequence that starts at text[i], 0 when it is not a valid one.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned int lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    unsigned int code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not text.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

std::string TimeText(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr) {
        return "-";
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool ParseTime(std::string_view text, std::int64_t& seconds) {
    std::tm local{};
    const std::string copy(text);
    const char* end = ::strptime(copy.c_str(), "%Y-%m-%d %H:%M:%S", &local);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    local.tm_isdst = -1;
    seconds = static_cast<std::int64_t>(std::mktime(&local));
    return true;
}

void AppendState(std::string& line, const ItemState& state) {
    if (state.exists) {
        line += '\t' + std::to_string(state.size) + '\t' + TimeText(state.mtime);
    } else {
        line += "\t-\t-";
    }
}

bool ParseState(std::string_view size, std::string_view time, ItemState& state) {
    if (size == "-" && time == "-") {
        state = ItemState{};
        return true;
    }
    state.exists = true;
    state.size = 0;
    if (size.empty()) {
        return false;
    }
    for (const char c : size) {
        if (c < '0' || c > '9') {
            return false;
        }
        state.size = state.size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return ParseTime(time, state.mtime);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::string StampText(const platform::LocalTime& t) {
    return Format("%02d%02d%02d-%02d%02d%02d", t.year % 100, t.month, t.day, t.hour, t.minute,
                  t.second);
}

// The records in the log folder, oldest first (their names sort by time).
std::vector<std::string> RecordNames() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(LogFolder(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(kPrefix) && name.ends_with(kSuffix)) {
            names.push_back(name);
        }
    }
    // "Changes-261207-020000.txt" sorts before "Changes-261207-020000-2.txt" only by length.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string_view stampA = std::string_view(a).substr(kPrefix.size(), 13);
        const std::string_view stampB = std::string_view(b).substr(kPrefix.size(), 13);
        return stampA != stampB ? stampA < stampB
                                : (a.size() != b.size() ? a.size() < b.size() : a < b);
    });
    return names;
}

}  // namespace

const char* ActionWord(ChangeAction action) {
    switch (action) {
        case ChangeAction::DeleteFile:
            return "delete-file";
        case ChangeAction::DeleteFolder:
            return "delete-folder";
        case ChangeAction::CopyNew:
            return "copy-new";
        case ChangeAction::CopyChanged:
            return "copy-changed";
        case ChangeAction::CreateFolder:
            return "create-folder";
        case ChangeAction::KeepVersion:
            return "keep-version";
        case ChangeAction::Failed:
            break;
    }
    return "failed";
}

std::string EscapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += Format("\\x%02X", c);
            ++i;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (const std::size_t length = Utf8Length(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += Format("\\x%02X", c);
            ++i;
        }
    }
    return out;
}

std::string UnescapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
                   hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3])));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string ItemLine(const ChangeItem& item) {
    std::string line = ActionWord(item.action);
    line += '\t';
    line += SideWord(item.side);
    line += '\t';
    line += item.path.empty() ? std::string("-") : EscapeField(item.path);
    if (item.action == ChangeAction::Failed) {
        line += '\t' + EscapeField(item.message);
        return line;
    }
    AppendState(line, item.before);
    AppendState(line, item.after);
    return line;
}

bool ParseItemLine(std::string_view line, ChangeItem& item) {
    const std::vector<std::string_view> fields = SplitTabs(line);
    if (fields.size() < 4) {
        return false;
    }
    static constexpr ChangeAction kActions[] = {
        ChangeAction::DeleteFile,  ChangeAction::DeleteFolder, ChangeAction::CopyNew,
        ChangeAction::CopyChanged, ChangeAction::CreateFolder, ChangeAction::Failed,
        ChangeAction::KeepVersion};
    const auto action = std::find_if(std::begin(kActions), std::end(kActions),
                                     [&](ChangeAction a) { return fields[0] == ActionWord(a); });
    if (action == std::end(kActions) || (fields[1] != "source" && fields[1] != "target")) {
        return false;
    }
    item = ChangeItem{};
    item.action = *action;
    item.side = fields[1] == "source" ? ChangeSide::Source : ChangeSide::Target;
    item.path = fields[2] == "-" ? std::string() : UnescapeField(fields[2]);
    if (item.action == ChangeAction::Failed) {
        item.message = UnescapeField(fields[3]);
        return fields.size() == 4;
    }
    return fields.size() == 7 && ParseState(fields[3], fields[4], item.before) &&
           ParseState(fields[5], fields[6], item.after);
}

bool ChangeRecord::Open(const RecordHeader& header, int keep) {
    if (!EnsureLogFolder()) {
        return false;
    }
    // The oldest records go first, leaving room for this one.
    std::vector<std::string> names = RecordNames();
    for (std::size_t i = 0; i + static_cast<std::size_t>(std::max(keep - 1, 0)) < names.size();
         ++i) {
        (void)platform::DeleteFile(LogFilePath(names[i].c_str()));
    }
    const std::string stamp = StampText(header.started);
    for (int attempt = 1; attempt < 1000 && !file_.valid(); ++attempt) {
        // Appended piece by piece: GCC 12 at -O3 takes a chain of `+` on strings for an
        // overlapping copy and warns (-Wrestrict, a false positive of that compiler).
        std::string name(kPrefix);
        name += stamp;
        if (attempt > 1) {
            name += '-';
            name += std::to_string(attempt);
        }
        name += kSuffix;
        path_ = LogFilePath(name.c_str());
        file_.reset(
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600));
        if (!file_.valid() && errno != EEXIST) {
            break;
        }
    }
    if (!file_.valid()) {
        path_.clear();
        return false;
    }
    std::string exclusions = header.exclusions ? "on" : "off";
    if (header.exclusions) {
        const auto join = [](const std::vector<std::string>& list) {
            std::string text;
            for (const std::string& entry : list) {
                text += (text.empty() ? "" : ", ") + EscapeField(entry);
            }
            return text;
        };
        exclusions += "; names: " + join(header.excludedNames) +
                      "; extensions: " + join(header.excludedExtensions);
    }
    std::string preset = std::to_string(header.presetNumber);
    if (!header.caption.empty()) {
        preset += ' ';  // appended, not `" " + ...`: see the file name above
        preset += EscapeField(header.caption);
    }
    const platform::LocalTime& t = header.started;
    Write("# Mirova " + header.version + " change record\n# run: " + header.runWord +
          "\n# preset: " + preset + "\n# source: " + EscapeField(header.source) +
          "\n# target: " + EscapeField(header.target) +
          "\n# suppress deletion: " + (header.suppressDeletion ? "on" : "off") +
          "\n# exclusions: " + exclusions + "\n# started: " +
          Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                 t.second) +
          "\n");
    return true;
}

void ChangeRecord::Add(const ChangeItem& item) {
    switch (item.action) {
        case ChangeAction::DeleteFile:
            ++totals_.deletedFiles;
            break;
        case ChangeAction::DeleteFolder:
            ++totals_.deletedFolders;
            break;
        case ChangeAction::CopyNew:
        case ChangeAction::CopyChanged:
            ++totals_.copied;
            totals_.copiedBytes += item.after.size;
            break;
        case ChangeAction::CreateFolder:
            ++totals_.createdFolders;
            break;
        case ChangeAction::Failed:
            ++totals_.failed;
            break;
        case ChangeAction::KeepVersion:
            ++totals_.kept;
            break;
    }
    const std::string line = ItemLine(item);
    if (echo) {
        echo(line);
    }
    Write(line + "\n");
}

void ChangeRecord::Close(RecordEnd end, int failures) {
    const char* how = "completed";
    std::string failed;
    switch (end) {
        case RecordEnd::Completed:
            break;
        case RecordEnd::Failures:
            failed = "failures " + std::to_string(failures);
            how = failed.c_str();
            break;
        case RecordEnd::Cancelled:
            how = "cancelled by the user";
            break;
        case RecordEnd::Declined:
            how = "declined";
            break;
        case RecordEnd::Refused:
            how = "refused";
            break;
    }
    const std::string kept =
        totals_.kept > 0 ? Format(", kept versions %d", totals_.kept) : std::string();
    Write(
        Format("# end: %s; deleted files %d, deleted folders %d, copied %d (%llu bytes), "
               "created folders %d%s\n",
               how, totals_.deletedFiles, totals_.deletedFolders, totals_.copied,
               static_cast<unsigned long long>(totals_.copiedBytes), totals_.createdFolders,
               kept.c_str()));
    file_.reset();
}

void ChangeRecord::Write(const std::string& line) {
    // One write per line on a file opened for appending: a run killed half way leaves whole
    // lines only. A record that cannot be written loses lines, never the run.
    if (file_.valid()) {
        (void)platform::WriteAll(file_.get(), line.data(), line.size());
    }
}

std::string LatestChangeRecord() {
    const std::vector<std::string> names = RecordNames();
    return names.empty() ? std::string() : LogFilePath(names.back().c_str());
}

bool ReadChangeRecord(const std::string& path, RecordContents& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    out = RecordContents{};
    std::string line;
    while (std::getline(file, line)) {
        if (line.starts_with("# end: ")) {
            out.endLine = line.substr(7);
        } else if (line.starts_with("# ")) {
            out.headerLines.push_back(line.substr(2));
        } else if (ChangeItem item; ParseItemLine(line, item)) {
            out.items.push_back(std::move(item));
        }
    }
    return true;
}

}  // namespace mirova
