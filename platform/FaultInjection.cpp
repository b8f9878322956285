#include "platform/FaultInjection.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace mirova::platform {
namespace {

struct Fault {
    FaultCall call;
    int error;
    std::string nameContains;
    int skip;
    int times;
};

std::atomic<bool> g_armed{false};
std::mutex g_mutex;
std::vector<Fault> g_faults;

// Calls without a name (reads and writes of an open file) match any fault of their kind.
bool NameMatches(const Fault& fault, const char* name) {
    return fault.nameContains.empty() || name == nullptr ||
           std::strstr(name, fault.nameContains.c_str()) != nullptr;
}

}  // namespace

void InjectFaultForTesting(FaultCall call, int error, std::string nameContains, int skip,
                           int times) {
    const std::lock_guard lock(g_mutex);
    g_faults.push_back(Fault{call, error, std::move(nameContains), skip, times});
    g_armed.store(true, std::memory_order_release);
}

void ClearFaultsForTesting() {
    const std::lock_guard lock(g_mutex);
    g_faults.clear();
    g_armed.store(false, std::memory_order_release);
}

int InjectedFault(FaultCall call, const char* name) {
    if (!g_armed.load(std::memory_order_relaxed)) {
        return 0;
    }
    const std::lock_guard lock(g_mutex);
    for (Fault& fault : g_faults) {
        if (fault.call != call || fault.times == 0 || !NameMatches(fault, name)) {
            continue;
        }
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.times > 0) {
            --fault.times;
        }
        return fault.error;
    }
    return 0;
}

}  // namespace mirova::platform
