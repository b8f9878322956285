#pragma once

#include <string>

#include "platform/InstanceGuard.h"

namespace mirova {

// Takes the one-copy-per-machine guard for every front end. Returns "" when this process may
// run, else the message that tells the user why it stops ("「Mirova」を複数起動することは
// できません。" or "「Mirova」は既に1ユーザーで起動中です。").
std::string TakeSingleCopyGuard(platform::InstanceGuard& guard);

}  // namespace mirova
