#pragma once

#include "engine/Run.h"
#include "fileops/Progress.h"

namespace mirova {

// Carries out a confirmed synchronisation with the file operations: extraneous files, then
// extraneous folders (deepest first), then copies, then the folders still missing.
class SyncExecutor final : public ChangeExecutor {
public:
    explicit SyncExecutor(FileOpsUi& ui) : ui_(ui) {}
    bool CarryOutChanges(const RunPreset& preset, WorkLists& work, const RunState& state) override;

private:
    FileOpsUi& ui_;
};

}  // namespace mirova
