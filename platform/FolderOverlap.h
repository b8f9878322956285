#pragma once

#include <string>

#include "platform/SysStatus.h"

namespace mirova::platform {

// How the source and the target folder of a run lie to each other. A run between overlapping
// folders copies the target into itself or deletes the source, so any overlap refuses the run.
enum class FolderOverlap { None, Same, SourceInsideTarget, TargetInsideSource };

// Finds how two folders overlap, judged by the identity of the folders (device and inode) and
// not by the text of the paths, so that links, "..", repeated slashes, relative paths and bind
// mounts hide nothing. Links are followed as the user typed the paths.
//
// The source must exist. A target that does not exist yet is judged by its nearest existing
// ancestor: the folder the run would create lies inside the source exactly when that ancestor
// is the source or lies inside it, so only None or TargetInsideSource can result.
//
// On failure (a folder or one of its ancestors cannot be opened, a path runs through a file)
// the reason is returned and `out` is left unchanged: the run must then be refused as well.
SysStatus FindFolderOverlap(const std::string& source, const std::string& target,
                            FolderOverlap& out);

}  // namespace mirova::platform
