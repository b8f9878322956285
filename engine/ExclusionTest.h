#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mirova {

// Decides whether a scanned item is left out of a run, given its full path (the root folder
// included). Called from the scan worker; an implementation only reads its lists.
class ExclusionTest {
public:
    virtual ~ExclusionTest() = default;
    virtual bool IsExcluded(std::string_view fullPath) const = 0;
    // The entries, for the run's change record.
    virtual std::vector<std::string> NameFragments() const { return {}; }
    virtual std::vector<std::string> Extensions() const { return {}; }
};

}  // namespace mirova
