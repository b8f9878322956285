// The change record of a run: what it did to each item, or for a compare what a synchronisation
// would do, in the order the run handles the items.
#include <algorithm>
#include <filesystem>

#include "engine/Run.h"
#include "fileops/Format.h"
#include "fileops/KeptVersions.h"
#include "fileops/PathText.h"
#include "fileops/RunLog.h"

namespace mirova {
namespace {

// Last-write times are 100-nanosecond units since 1601.
constexpr std::int64_t kUnitsPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

ItemState StateOf(const FileEntry* entry) {
    ItemState state;
    if (entry != nullptr) {
        const std::uint64_t units =
            (static_cast<std::uint64_t>(entry->lastWriteHigh) << 32) | entry->lastWriteLow;
        state.exists = true;
        state.size = entry->isFolder ? 0 : entry->size;
        state.mtime = static_cast<std::int64_t>(units) / kUnitsPerSecond - kSecondsFrom1601To1970;
    }
    return state;
}

std::string Absolute(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    return error ? folder : absolute.lexically_normal().string();
}

}  // namespace

void RunController::OpenRecord() {
    RecordHeader header;
    header.version = MIROVA_VERSION;
    header.runWord = preset_.mergeMode == 1      ? "merge"
                     : kind_ == RunKind::Compare ? "compare"
                                                 : "sync";
    header.presetNumber = preset_.index + 1;
    header.caption = preset_.caption;
    header.source = Absolute(preset_.sourceFolder);
    header.target = Absolute(preset_.targetFolder);
    header.suppressDeletion = state_.suppressDeletion != 0 && preset_.mergeMode != 1;
    header.exclusions = preset_.useExclusions == 1 && state_.exclusions != nullptr;
    if (header.exclusions) {
        header.excludedNames = state_.exclusions->NameFragments();
        header.excludedExtensions = state_.exclusions->Extensions();
    }
    header.started = platform::CurrentClock().Now();
    record_ = ChangeRecord();
    record_.echo = [this](const std::string& line) { ui_.ListChange(line); };
    if (record_.Open(header)) {
        WriteLog(Format("変更記録 %s", record_.path().c_str()), 1);
        ui_.SetChangeListener(this);
    } else if (state_.keepVersions > 0) {
        // Without a record, where each kept item went is still written down: in the log.
        ui_.SetChangeListener(this);
    }
}

void RunController::OnItemDone(ItemDone what, const std::string& base, const char* name) {
    const std::string keptPath =
        Format("%s/%s/%s", kVersionsFolderName.data(), state_.versionStamp.c_str(), name);
    if (!record_.open()) {
        if (what == ItemDone::KeptVersion) {
            WriteLog(Format("%s を %s に保存しました", JoinPath(base, name).c_str(),
                            JoinPath(base, keptPath).c_str()),
                     1);
        }
        return;
    }
    const bool toSource = base == preset_.sourceFolder;
    const FileList* changed = toSource ? state_.sourceJob.list.get() : state_.targetJob.list.get();
    const FileList* other = toSource ? state_.targetJob.list.get() : state_.sourceJob.list.get();
    if (changed == nullptr || other == nullptr) {
        return;
    }
    ChangeItem item;
    item.side = toSource ? ChangeSide::Source : ChangeSide::Target;
    item.path = name;
    item.before = StateOf(FindEntry(*changed, name));
    switch (what) {
        case ItemDone::DeletedFile:
            item.action = ChangeAction::DeleteFile;
            break;
        case ItemDone::DeletedFolder:
            item.action = ChangeAction::DeleteFolder;
            break;
        case ItemDone::Copied:
            item.action = item.before.exists ? ChangeAction::CopyChanged : ChangeAction::CopyNew;
            item.after = StateOf(FindEntry(*other, name));
            break;
        case ItemDone::CreatedFolder:
            item.action = ChangeAction::CreateFolder;
            item.before = ItemState{};
            item.after = StateOf(FindEntry(*other, name));
            break;
        case ItemDone::KeptVersion:
            // A new item in the folder of versions: the old one, as it was.
            item.action = ChangeAction::KeepVersion;
            item.path = keptPath;
            item.after = item.before;
            item.before = ItemState{};
            break;
    }
    record_.Add(item);
}

void RunController::OnFailure(const std::string& text) {
    if (!record_.open()) {
        return;  // the log has the failure already
    }
    ChangeItem item;
    item.action = ChangeAction::Failed;
    item.message = text;
    record_.Add(item);
}

void RunController::RecordCompare() {
    const FileList& source = *state_.sourceJob.list;
    const FileList& target = *state_.targetJob.list;
    const auto add = [&](ChangeAction action, const char* name) {
        ChangeItem item;
        item.action = action;
        item.path = name;
        item.before = StateOf(FindEntry(target, name));
        if (action == ChangeAction::CreateFolder || action == ChangeAction::CopyNew ||
            action == ChangeAction::CopyChanged) {
            item.after = StateOf(FindEntry(source, name));
        }
        if (action == ChangeAction::CreateFolder) {
            item.before = ItemState{};
        }
        record_.Add(item);
    };
    // As a synchronisation would handle them: extraneous files, extraneous folders deepest
    // first, copies, then the folders still missing. Old copies of changed files are replaced
    // by their copy, so they are listed once, as copies.
    if (state_.suppressDeletion == 0) {
        for (std::size_t i = work_.changedCount; i < work_.deleteFileList.size(); ++i) {
            add(ChangeAction::DeleteFile, work_.deleteFileList[i]);
        }
        std::vector<const char*> folders = work_.deleteFolderList;
        std::sort(folders.begin(), folders.end(), [](const char* a, const char* b) {
            return CompareEntryNamesDescending(&a, &b) < 0;
        });
        for (const char* name : folders) {
            add(ChangeAction::DeleteFolder, name);
        }
    }
    for (const char* name : work_.copyList) {
        add(FindEntry(target, name) != nullptr ? ChangeAction::CopyChanged : ChangeAction::CopyNew,
            name);
    }
    for (const char* name : work_.createFolderList) {
        add(ChangeAction::CreateFolder, name);
    }
}

void RunController::CloseRecord(RunOutcome outcome) {
    ui_.SetChangeListener(nullptr);
    if (!record_.open()) {
        return;
    }
    const int failures = std::max(RunFailures(), record_.totals().failed);
    RecordEnd end = RecordEnd::Completed;
    switch (outcome) {
        case RunOutcome::Reported:
        case RunOutcome::Identical:
            end = failures > 0 ? RecordEnd::Failures : RecordEnd::Completed;
            break;
        case RunOutcome::Incomplete:
            end = failures > 0 ? RecordEnd::Failures : RecordEnd::Cancelled;
            break;
        case RunOutcome::Declined:
            end = RecordEnd::Declined;
            break;
        case RunOutcome::Overlapping:
        case RunOutcome::Braked:
            end = RecordEnd::Refused;
            break;
        case RunOutcome::MissingFolder:
        case RunOutcome::ScanFailed:
            record_.Close(RecordEnd::Failures, std::max(failures, 1));
            return;
    }
    record_.Close(end, failures);
}

}  // namespace mirova
