#pragma once

#include <map>
#include <string>

namespace mirova::test {

// What a mirror must reproduce of one item, read independently of the code under test.
struct ItemSnapshot {
    char kind = '?';        // 'f' file, 'd' folder, 'l' link
    std::string content;    // file content or link target
    long long mtimeNs = 0;  // last-write time of files and links (folders change as they fill)
    unsigned mode = 0;      // permission bits of files and folders

    friend bool operator==(const ItemSnapshot&, const ItemSnapshot&) = default;
};

// Every item below root by relative name. Links are not followed.
std::map<std::string, ItemSnapshot> SnapshotTree(const std::string& root);

// A readable list of the differences of two snapshots ("" when they are equal).
std::string DescribeDifferences(const std::map<std::string, ItemSnapshot>& expected,
                                const std::map<std::string, ItemSnapshot>& actual);

}  // namespace mirova::test
