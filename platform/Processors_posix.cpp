#include "platform/Processors.h"

#include <cstdlib>
#include <thread>

#include <sched.h>

namespace trimeld::platform {

unsigned AvailableProcessors() noexcept {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return static_cast<unsigned>(count);
    }
    const unsigned online = std::thread::hardware_concurrency();
    return online > 0 ? online : 1;
}

std::optional<std::string_view> EnvironmentValue(const char* name) noexcept {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string_view(value);
}

} // namespace trimeld::platform
