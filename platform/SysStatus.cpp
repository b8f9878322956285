#include "platform/SysStatus.h"

#include <cstring>

namespace mirova::platform {

std::string SysStatus::describe() const {
    if (error == 0) {
        return "Success";
    }
    char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace mirova::platform
