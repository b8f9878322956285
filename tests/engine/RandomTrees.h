// Random changes to real trees and what a sync or a merge must make of them (runs and soak).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>

#include "TreeSnapshot.h"

namespace mirova::test {

inline constexpr std::int64_t kNsPerSecond = 1'000'000'000LL;

// Folder times and modes are not mirrored; everything else of files and links is.
inline Snapshot ReadTree(const std::string& root) {
    Snapshot tree = SnapshotTree(root);
    for (auto& [name, item] : tree) {
        item.mode = item.kind == 'd' ? 0 : item.mode;
    }
    return tree;
}

inline void SetTimeNs(const std::string& path, std::int64_t ns) {
    SetModificationTime(path, ns / kNsPerSecond, static_cast<long>(ns % kNsPerSecond));
}

// Random changes to one tree, at most three deep; new names are unique over the run and side.
struct Mutator {
    std::mt19937_64& rng;
    std::string root;
    char tag;
    int& counter;
    bool merge;
    Snapshot sameLooking{};  // source files changed to look unchanged (same size, time within 1 s)

    void Apply(int changes) {
        const Snapshot start = ReadTree(root);
        for (int i = 0; i < changes; ++i) {
            const Snapshot tree = ReadTree(root);
            std::vector<std::string> files, folders{""}, links, all;
            for (const auto& [name, item] : tree) {
                all.push_back(name);
                (item.kind == 'f' ? files : item.kind == 'd' ? folders : links).push_back(name);
            }
            const std::string folder = Pick(folders), file = Pick(files), any = Pick(all);
            const bool deeper = Depth(folder) < 3;
            // A merge deletes nothing, keeps equal-looking files, never meets a kind clash: 0-8.
            const std::size_t change = Pick(merge ? 9 : 12);
            if (change <= 1) {
                CreateFile(folder);
            } else if (change == 2 && deeper) {
                const std::string rel = Child(folder);
                ASSERT_EQ(::mkdir(Full(rel).c_str(), 0755), 0);
                CreateFile(rel);
            } else if (change == 3 && deeper) {  // dangling, into the tree, or outside it
                const std::string rel = Child(folder);
                const std::string to = Pick(3) == 0   ? "nowhere/" + NewName()
                                       : Pick(2) == 0 ? "../" + any
                                                      : "/etc/hostname";
                ASSERT_EQ(::symlink(to.c_str(), Full(rel).c_str()), 0);
                SetTimeNs(Full(rel), SomeTime());
            } else if (change == 4 && !file.empty()) {  // new content and time
                Forget(file);
                Write(file, Content(), NewTime(tree.at(file).mtimeNs));
            } else if (change == 5 && !file.empty()) {  // a mode change comes with a new time
                static const mode_t modes[] = {0600, 0640, 0644, 0664, 0700, 0755};
                Forget(file);
                ASSERT_EQ(::chmod(Full(file).c_str(), modes[Pick(6)]), 0);
                SetTimeNs(Full(file), NewTime(tree.at(file).mtimeNs));
            } else if (change == 6) {
                Rename(any, folder, tree);
            } else if (change == 7 && !links.empty()) {
                const std::string link = Pick(links);
                ::unlink(Full(link).c_str());
                ASSERT_EQ(::symlink(("changed/" + NewName()).c_str(), Full(link).c_str()), 0);
                SetTimeNs(Full(link), NewTime(tree.at(link).mtimeNs));
            } else if (change == 8 && !any.empty()) {
                Forget(any);
                std::filesystem::remove_all(Full(any));
            } else if (change == 9 && tag == 's' && start.contains(file)) {
                SameLooking(file, tree.at(file));
            } else if (change == 10 && !file.empty()) {  // the old target item must go first
                Forget(file);
                ASSERT_EQ(::unlink(Full(file).c_str()), 0);
                ASSERT_EQ(::mkdir(Full(file).c_str(), 0755), 0);
                CreateFile(file);
            } else if (change == 11 && !folder.empty()) {
                Forget(folder);
                std::filesystem::remove_all(Full(folder));
                Write(folder, Content(), SomeTime());
            }
        }
    }
    std::size_t Pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    }
    std::string Pick(const std::vector<std::string>& names) {  // "" for none, never the root
        return names.empty() ? std::string() : names[Pick(names.size())];
    }
    std::string Full(const std::string& rel) const { return rel.empty() ? root : root + "/" + rel; }
    static int Depth(const std::string& rel) {
        return rel.empty() ? 0 : 1 + static_cast<int>(std::ranges::count(rel, '/'));
    }
    // Plain names, blanks and line breaks, bytes that are not UTF-8, the longest name allowed.
    std::string NewName() {
        const std::string n = std::string(1, tag) + std::to_string(++counter);
        const std::string names[] = {n, "with  space " + n + " ", "new\nline" + n,
                                     "bad\xff\xfe" + n + "\xc3",
                                     n + std::string(255 - n.size(), 'L')};
        return names[Pick(5)];
    }
    std::string Child(const std::string& folder) {
        return folder.empty() ? NewName() : folder + "/" + NewName();
    }
    std::string Content() {
        static const std::size_t sizes[] = {0, 1, 100, 4096, 70'000};
        std::string data(sizes[Pick(5)] + Pick(50), '\0');
        std::generate(data.begin(), data.end(), [this] { return static_cast<char>(rng()); });
        return data;
    }
    void Write(const std::string& rel, const std::string& data, std::int64_t ns) {
        std::ofstream(Full(rel), std::ios::binary | std::ios::trunc) << data;
        SetTimeNs(Full(rel), ns);
    }
    // Within the last ten years, in whole microseconds.
    std::int64_t SomeTime() {
        return (1'700'000'000LL - static_cast<std::int64_t>(Pick(315'000'000))) * kNsPerSecond +
               static_cast<std::int64_t>(Pick(1'000'000)) * 1000;
    }
    // Later by 10 s or more (a merge's two sides never within 2 s); in a sync also earlier.
    std::int64_t NewTime(std::int64_t old) {
        const auto step = static_cast<std::int64_t>(Pick(1000));
        if (merge || Pick(2) == 0) {
            return old + (10 * (1 + step) + (tag == 't' ? 5 : 0)) * kNsPerSecond;
        }
        return old - (3 + step * 100) * kNsPerSecond;
    }
    void Forget(const std::string& rel) {
        std::erase_if(sameLooking, [&](const auto& entry) {
            return entry.first == rel || entry.first.starts_with(rel + "/");
        });
    }
    void CreateFile(const std::string& folder) {
        const std::string rel = Depth(folder) < 3 ? Child(folder) : "";
        if (!rel.empty()) {
            Write(rel, Content(), SomeTime());
            ::chmod(Full(rel).c_str(), Pick(2) == 0 ? 0644 : 0600);
        }
    }
    // Within one second, in the same high half of the 100 ns ticks (the tolerance stops there).
    void SameLooking(const std::string& rel, const ItemSnapshot& old) {
        const std::int64_t later = old.mtimeNs + static_cast<std::int64_t>(Pick(1000)) * 1'000'000;
        const auto high = [](std::int64_t ns) {
            return (ns / 100 + 116'444'736'000'000'000LL) >> 32;
        };
        if (sameLooking.contains(rel) || old.content.empty() || high(later) != high(old.mtimeNs)) {
            return;
        }
        std::string data = old.content;
        data[Pick(data.size())] ^= 0x5a;
        sameLooking[rel] = old;
        Write(rel, data, later);
    }
    void Rename(const std::string& rel, const std::string& folder, const Snapshot& tree) {
        if (rel.empty() || folder == rel || folder.starts_with(rel + "/")) {
            return;
        }
        int below = 0;
        for (const auto& [name, item] : tree) {
            below = name.starts_with(rel + "/") ? std::max(below, Depth(name) - Depth(rel)) : below;
        }
        const std::string to = Child(folder);
        if (Depth(to) + below <= 3) {
            Forget(rel);
            ASSERT_EQ(::rename(Full(rel).c_str(), Full(to).c_str()), 0);
        }
    }
};

// Random rounds, each then run(merge) (every fourth a merge; it returns text to read a failure).
// Model: a merge leaves every name on both sides, a file in its later version; a sync makes the
// target the source, but a file that only looks unchanged keeps an unchanged target version.
inline void Converge(const std::string& src, const std::string& dst, int firstSeed, int rounds,
                     const std::function<std::string(bool merge)>& run) {
    int counter = 0;
    for (int round = 0; round < rounds; ++round) {
        std::mt19937_64 rng(static_cast<std::uint64_t>(firstSeed + round));
        const bool merge = round % 4 == 3;
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " +
                     std::to_string(firstSeed + round) + (merge ? " (merge)" : " (sync)"));
        Mutator source{rng, src, 's', counter, merge}, target{rng, dst, 't', counter, merge};
        source.Apply(round == 0 ? 160 : 40);
        target.Apply(merge ? 40 : 5);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        const Snapshot sourceBefore = ReadTree(src), targetBefore = ReadTree(dst);
        const std::string output = run(merge);
        Snapshot expected = sourceBefore;
        for (const auto& [name, item] : merge ? targetBefore : Snapshot{}) {
            const auto found = expected.find(name);
            if (found == expected.end() || item.mtimeNs > found->second.mtimeNs) {
                expected[name] = item;
            }
        }
        for (const auto& [name, old] : merge ? Snapshot{} : source.sameLooking) {
            const auto found = targetBefore.find(name);
            if (found != targetBefore.end() && found->second == old) {
                expected[name] = old;
            }
        }
        ASSERT_EQ(DescribeDifferences(merge ? expected : sourceBefore, ReadTree(src)) +
                      DescribeDifferences(expected, ReadTree(dst)),
                  "")
            << "source above, target below\n"
            << output;
        for (const auto& [name, old] : source.sameLooking) {  // looks changed in the next round
            SetTimeNs(source.Full(name), old.mtimeNs + 7 * kNsPerSecond);
        }
    }
}

}  // namespace mirova::test
