#pragma once

#include <string_view>

namespace mirova {

// Decides whether a scanned item is left out of a run, given its full path (the root folder
// included). Called from the scan worker; an implementation only reads its lists.
class ExclusionTest {
public:
    virtual ~ExclusionTest() = default;
    virtual bool IsExcluded(std::string_view fullPath) const = 0;
};

}  // namespace mirova
