#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "TempDir.h"

namespace mirova::test {

// What a mirror must reproduce of one item, read independently of the code under test.
struct ItemSnapshot {
    char kind = '?';        // 'f' file, 'd' folder, 'l' link
    std::string content;    // file content or link target
    long long mtimeNs = 0;  // last-write time of files and links (folders change as they fill)
    unsigned mode = 0;      // permission bits of files and folders

    friend bool operator==(const ItemSnapshot&, const ItemSnapshot&) = default;
};
using Snapshot = std::map<std::string, ItemSnapshot>;

// Every item below root by relative name. Links are not followed.
inline Snapshot SnapshotTree(const std::string& root) {
    namespace fs = std::filesystem;
    Snapshot items;
    std::error_code error, ignored;
    for (fs::recursive_directory_iterator
             it(root, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        const std::string path = it->path().string();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        ItemSnapshot& item = items[path.substr(root.size() + 1)];
        item.kind = S_ISDIR(st.st_mode) ? 'd' : S_ISLNK(st.st_mode) ? 'l' : 'f';
        item.mode = item.kind == 'l' ? 0 : st.st_mode & 07777;
        item.mtimeNs = item.kind == 'd' ? 0 : st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
        item.content = item.kind == 'l'   ? fs::read_symlink(path, ignored).string()
                       : item.kind == 'f' ? ReadFileText(path)
                                          : "";
    }
    return items;
}

// A readable list of the differences of two snapshots ("" when they are equal).
inline std::string DescribeDifferences(const Snapshot& expected, const Snapshot& actual) {
    std::ostringstream text;
    for (const auto& [name, item] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            text << "missing: " << name << "\n";
        } else if (!(found->second == item)) {
            text << "differs: " << name << " (kind " << item.kind << "/" << found->second.kind
                 << ", mode " << std::oct << item.mode << "/" << found->second.mode << std::dec
                 << ", mtime " << item.mtimeNs << "/" << found->second.mtimeNs << ")\n";
        }
    }
    for (const auto& [name, item] : actual) {
        text << (expected.contains(name) ? "" : "extra: " + name + "\n");
    }
    return text.str();
}

}  // namespace mirova::test
