#include "fileops/ListAhead.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fileops/AheadWorkers.h"
#include "fileops/Format.h"
#include "fileops/RunLog.h"
#include "fileops/SafeCopy.h"
#include "platform/ConfinedTree.h"

namespace mirova {
namespace {

using platform::ConfinedTree;
using platform::ItemPlace;

// Items each worker may run ahead of the list: enough to keep every worker busy while the
// calling thread waits on one item, few enough that a stop wastes little.
constexpr std::size_t kWindowPerWorker = 4;

// Items that only the calling thread may carry out, in their turn: those whose name differs
// from an earlier one's in letter case alone. On a file system that ignores case (SMB, many
// NFS servers) both are the same file, and done at once they could end in either order.
std::vector<bool> InTurnOnly(NameList names) {
    std::vector<bool> inTurn(names.size(), false);
    std::unordered_set<std::string> seen;
    seen.reserve(names.size());
    std::string folded;
    for (std::size_t item = 0; item < names.size(); ++item) {
        folded.assign(names[item]);
        for (char& c : folded) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        inTurn[item] = !seen.insert(folded).second;
    }
    return inTurn;
}

// What the workers of a list share; read only while they run.
struct SharedList {
    NameList names;
    std::vector<bool> inTurnOnly;
};
using SharedListPtr = std::shared_ptr<const SharedList>;

class CopyAttempt : public ItemAttempt {
public:
    CopyAttempt(SharedListPtr list, const std::string& fromFolder, const std::string& toFolder,
                ReadOnlyDestination readOnly)
        : list_(std::move(list)), fromTree_(fromFolder), toTree_(toFolder), readOnly_(readOnly) {}

    // The source is opened first, so that a source that cannot be opened leaves no folder
    // created for it.
    bool Attempt(std::size_t item) override {
        if (list_->inTurnOnly[item]) {
            return false;
        }
        const char* name = list_->names[item];
        ItemPlace from;
        CopySource source;
        ItemPlace to;
        return fromTree_.Locate(name, from).ok() && OpenCopySource(from, source).ok() &&
               toTree_.Locate(name, to, ConfinedTree::Missing::Create).ok() &&
               CopyOpenedSourceQuietly(source, to, readOnly_);
    }

private:
    SharedListPtr list_;
    ConfinedTree fromTree_;
    ConfinedTree toTree_;
    ReadOnlyDestination readOnly_;
};

// A file that is gone already counts as not done: the calling thread then finds it gone
// itself and says nothing, as it always has.
class DeleteAttempt : public ItemAttempt {
public:
    DeleteAttempt(SharedListPtr list, const std::string& folder)
        : list_(std::move(list)), tree_(folder) {}

    bool Attempt(std::size_t item) override {
        if (list_->inTurnOnly[item]) {
            return false;
        }
        ItemPlace place;
        return tree_.Locate(list_->names[item], place).ok() && platform::DeleteFile(place).ok();
    }

private:
    SharedListPtr list_;
    ConfinedTree tree_;
};

template <typename MakeAttempt>
std::unique_ptr<WorkAhead> Start(int workers, NameList names, const MakeAttempt& makeAttempt) {
    if (workers <= 1 || names.size() < 2) {
        return nullptr;
    }
    const SharedListPtr shared =
        std::make_shared<const SharedList>(SharedList{names, InTurnOnly(names)});
    std::vector<std::unique_ptr<ItemAttempt>> attempts;
    for (int worker = 0; worker < workers; ++worker) {
        attempts.push_back(makeAttempt(shared));
    }
    return std::make_unique<WorkAhead>(names.size(), std::move(attempts),
                                       kWindowPerWorker * static_cast<std::size_t>(workers));
}

}  // namespace

std::unique_ptr<WorkAhead> StartCopiesAhead(const std::string& fromFolder,
                                            const std::string& toFolder, NameList names,
                                            ReadOnlyDestination readOnly) {
    return Start(AheadWorkerCount(toFolder, fromFolder), names, [&](const SharedListPtr& list) {
        return std::make_unique<CopyAttempt>(list, fromFolder, toFolder, readOnly);
    });
}

std::unique_ptr<WorkAhead> StartDeletesAhead(const std::string& folder, NameList names) {
    return Start(AheadWorkerCount(folder), names, [&](const SharedListPtr& list) {
        return std::make_unique<DeleteAttempt>(list, folder);
    });
}

void TellDoneAhead(WorkAhead* ahead, ItemDone what, const std::string& base, NameList names,
                   FileOpsUi& ui) {
    if (ahead == nullptr) {
        return;
    }
    const std::vector<std::size_t> done = ahead->Stop();
    for (const std::size_t item : done) {
        ui.TellItemDone(what, base, names[item]);
    }
    if (!done.empty()) {
        WriteLog(Format(kDoneAheadFormat, static_cast<int>(done.size())), 1);
    }
}

}  // namespace mirova
