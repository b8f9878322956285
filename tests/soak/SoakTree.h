#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mirova::soak {

// One item of a tree as the checker sees it, read with plain system calls and nothing of Mirova,
// so that a fault shared by the scan and the copy cannot hide itself.
struct Item {
    enum Kind { kFile, kFolder, kLink } kind = kFile;
    mode_t mode = 0;           // permission bits of files
    std::int64_t mtimeNs = 0;  // last-write time of files and links, nanoseconds since 1970
    std::string data;          // a file's content or a link's target
};

// Relative path ("sub/a") to item; the root itself is not listed.
using Tree = std::map<std::string, Item>;

// Walks a tree without following links.
Tree ReadTree(const std::string& root);

// Lists how `actual` differs from `expected` (empty when they are equal): names, kinds,
// content, link targets, last-write times of files and links, permission bits of files.
std::vector<std::string> Differences(const Tree& expected, const Tree& actual);

// A name with unprintable bytes escaped, for messages.
std::string Printable(const std::string& name);

// Nanoseconds since 1970 as the 100 ns ticks since 1601 that Mirova compares, split in halves.
std::uint64_t FileTimeTicks(std::int64_t mtimeNs);

}  // namespace mirova::soak
