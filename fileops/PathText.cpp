#include "fileops/PathText.h"

namespace mirova {

std::string StripTrailingBackslash(std::string_view path) {
    if (!path.empty() && path.back() == kPathSeparator) {
        path.remove_suffix(1);
    }
    return std::string(path);
}

std::string FolderToOpen(std::string_view base) {
    std::string folder = StripTrailingBackslash(base);
    if (folder.empty() && !base.empty()) {
        folder.push_back(kPathSeparator);
    }
    return folder;
}

std::string JoinPath(std::string_view base, std::string_view name) {
    std::string path;
    path.reserve(base.size() + 1 + name.size());
    path.append(base);
    path.push_back(kPathSeparator);
    path.append(name);
    return path;
}

}  // namespace mirova
