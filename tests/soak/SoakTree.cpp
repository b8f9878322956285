#include "SoakTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace mirova::soak {
namespace {

std::string ReadAll(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + Printable(path));
    }
    std::string data;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

void Walk(const std::string& root, const std::string& relative, Tree& tree) {
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        throw std::runtime_error("cannot list " + Printable(folder));
    }
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const std::string full = root + "/" + rel;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0) {
            throw std::runtime_error("cannot stat " + Printable(full));
        }
        Item item;
        item.mtimeNs = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
        if (S_ISDIR(st.st_mode)) {
            item.kind = Item::kFolder;
            item.mtimeNs = 0;  // folder times are not compared
            tree[rel] = item;
            Walk(root, rel, tree);
        } else if (S_ISLNK(st.st_mode)) {
            item.kind = Item::kLink;
            std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
            const ssize_t n = ::readlink(full.c_str(), target.data(), target.size());
            target.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
            item.data = target;
            tree[rel] = item;
        } else if (S_ISREG(st.st_mode)) {
            item.mode = st.st_mode & 07777;
            item.data = ReadAll(full);
            tree[rel] = item;
        }
    }
}

const char* KindName(Item::Kind kind) {
    return kind == Item::kFile ? "file" : kind == Item::kFolder ? "folder" : "link";
}

}  // namespace

Tree ReadTree(const std::string& root) {
    Tree tree;
    Walk(root, "", tree);
    return tree;
}

std::vector<std::string> Differences(const Tree& expected, const Tree& actual) {
    std::vector<std::string> out;
    for (const auto& [name, want] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            out.push_back("missing " + std::string(KindName(want.kind)) + " " + Printable(name));
            continue;
        }
        const Item& got = found->second;
        if (got.kind != want.kind) {
            out.push_back(Printable(name) + ": " + KindName(got.kind) + " instead of " +
                          KindName(want.kind));
            continue;
        }
        if (got.data != want.data) {
            out.push_back(Printable(name) + ": different " +
                          (want.kind == Item::kLink ? "link target" : "content"));
        }
        if (got.mtimeNs != want.mtimeNs) {
            out.push_back(Printable(name) + ": last-write time " + std::to_string(got.mtimeNs) +
                          " instead of " + std::to_string(want.mtimeNs));
        }
        if (got.mode != want.mode) {
            char text[64];
            std::snprintf(text, sizeof text, ": mode %04o instead of %04o", got.mode, want.mode);
            out.push_back(Printable(name) + text);
        }
    }
    for (const auto& [name, got] : actual) {
        if (expected.find(name) == expected.end()) {
            out.push_back("extraneous " + std::string(KindName(got.kind)) + " " + Printable(name));
        }
    }
    return out;
}

std::string Printable(const std::string& name) {
    std::string out;
    for (const unsigned char c : name) {
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02x", c);
            out += text;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.size() > 120) {
        out = out.substr(0, 50) + "...(" + std::to_string(name.size()) + " bytes)..." +
              out.substr(out.size() - 50);
    }
    return out;
}

std::uint64_t FileTimeTicks(std::int64_t mtimeNs) {
    return static_cast<std::uint64_t>(mtimeNs / 100 + 11'644'473'600LL * 10'000'000LL);
}

}  // namespace mirova::soak
