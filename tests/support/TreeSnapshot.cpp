#include "TreeSnapshot.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "TempDir.h"

namespace mirova::test {
namespace {

// nftw has no context argument; the walk in progress is kept here (tests run one at a time).
std::map<std::string, ItemSnapshot>* current = nullptr;
std::size_t rootLength = 0;

int Visit(const char* path, const struct stat* st, int, struct FTW*) {
    const std::string full = path;
    if (full.size() <= rootLength) {
        return 0;
    }
    ItemSnapshot item;
    if (S_ISDIR(st->st_mode)) {
        item.kind = 'd';
        item.mode = st->st_mode & 07777;
    } else if (S_ISLNK(st->st_mode)) {
        item.kind = 'l';
        char target[4096];
        const ssize_t length = ::readlink(path, target, sizeof target);
        item.content.assign(target, length > 0 ? static_cast<std::size_t>(length) : 0);
        item.mtimeNs = st->st_mtim.tv_sec * 1000000000LL + st->st_mtim.tv_nsec;
    } else {
        item.kind = 'f';
        item.content = ReadFileText(full);
        item.mode = st->st_mode & 07777;
        item.mtimeNs = st->st_mtim.tv_sec * 1000000000LL + st->st_mtim.tv_nsec;
    }
    (*current)[full.substr(rootLength + 1)] = item;
    return 0;
}

}  // namespace

std::map<std::string, ItemSnapshot> SnapshotTree(const std::string& root) {
    std::map<std::string, ItemSnapshot> items;
    current = &items;
    rootLength = root.size();
    nftw(root.c_str(), Visit, 32, FTW_PHYS);
    current = nullptr;
    return items;
}

std::string DescribeDifferences(const std::map<std::string, ItemSnapshot>& expected,
                                const std::map<std::string, ItemSnapshot>& actual) {
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
        if (expected.find(name) == expected.end()) {
            text << "extra: " << name << "\n";
        }
    }
    return text.str();
}

}  // namespace mirova::test
