#include "settings/ExclusionList.h"

#include <algorithm>
#include <string>

#include "settings/SettingsStore.h"

namespace mirova {
namespace {

// Whether fragment occurs in text starting on a character boundary. The byte search finds the
// candidates; the boundaries are stepped only as far as a candidate, so the usual case (no byte
// match at all) costs no stepping. A candidate that lies inside a multibyte character (a CP932
// trail byte, a UTF-8 continuation byte) is passed over.
bool ContainsAtBoundary(std::string_view text, std::string_view fragment,
                        platform::TextEncoding encoding) {
    std::size_t boundary = 0;
    std::size_t from = 0;
    for (;;) {
        const std::size_t hit = text.find(fragment, from);
        if (hit == std::string_view::npos) {
            return false;
        }
        while (boundary < hit) {
            boundary += std::max<std::size_t>(1, platform::CharLengthAt(text, boundary, encoding));
        }
        if (boundary == hit) {
            return true;
        }
        // The next match can start no earlier than the character after the candidate.
        from = boundary;
    }
}

// One list in its section: the count, then the entries "<prefix>-0", "<prefix>-1", ...
void LoadList(SettingsStore& store, const std::string& section, std::vector<std::string>& entries) {
    entries.clear();
    const int count = store.ReadInt(section, section + "_CNT", 0);
    // A count of zero or less is an empty list; one above the capacity keeps the first entries.
    for (int i = 0; i < count && i < ExclusionList::kCapacity; ++i) {
        entries.push_back(store.ReadText(section, section + "-" + std::to_string(i), ""));
    }
}

// Entries of higher indices from an earlier, longer list are not deleted: the count hides them.
void SaveList(SettingsStore& store, const std::string& section,
              const std::vector<std::string>& entries) {
    store.WriteInt(section, section + "_CNT", static_cast<int>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        store.WriteText(section, section + "-" + std::to_string(i), entries[i]);
    }
}

char FoldAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Equality that ignores the case of ASCII letters only. A multibyte character is compared as
// whole bytes: a CP932 trail byte can look like a letter ("ア" is 0x83 0x41) and must not fold.
bool EqualsIgnoringLatinCase(std::string_view text, std::string_view entry,
                             platform::TextEncoding encoding) {
    if (text.size() != entry.size()) {
        return false;
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length =
            std::max<std::size_t>(1, platform::CharLengthAt(text, pos, encoding));
        if (length == 1) {
            if (FoldAsciiLetter(text[pos]) != FoldAsciiLetter(entry[pos])) {
                return false;
            }
        } else if (text.compare(pos, length, entry, pos, length) != 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

}  // namespace

bool ExclusionList::AddName(std::string_view fragment) {
    if (names_.size() >= static_cast<std::size_t>(kCapacity)) {
        return false;
    }
    names_.emplace_back(fragment);
    return true;
}

bool ExclusionList::AddExtension(std::string_view extension) {
    if (extensions_.size() >= static_cast<std::size_t>(kCapacity)) {
        return false;
    }
    extensions_.emplace_back(extension);
    return true;
}

void ExclusionList::Clear() {
    names_.clear();
    extensions_.clear();
}

void ExclusionList::Load(SettingsStore& store) {
    LoadList(store, "JLIST", names_);
    LoadList(store, "ELIST", extensions_);
}

void ExclusionList::Save(SettingsStore& store) const {
    SaveList(store, "JLIST", names_);
    SaveList(store, "ELIST", extensions_);
}

bool ExclusionList::IsExcluded(std::string_view fullPath) const {
    for (const std::string& fragment : names_) {
        if (ContainsAtBoundary(fullPath, fragment, encoding_)) {
            return true;
        }
    }
    if (extensions_.empty()) {
        return false;
    }
    // "." is never part of a multibyte character in UTF-8 or CP932 (trail bytes start at 0x40,
    // continuation bytes at 0x80), so the last byte "." is the last "." character.
    const std::size_t dot = fullPath.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::string_view extension = fullPath.substr(dot + 1);
    for (const std::string& entry : extensions_) {
        if (EqualsIgnoringLatinCase(extension, entry, encoding_)) {
            return true;
        }
    }
    return false;
}

}  // namespace mirova
