#pragma once

#include <optional>
#include <string_view>

namespace trimeld::platform {

/// The processors this process may run on (its affinity, so that taskset
/// counts), at least 1.
[[nodiscard]] unsigned AvailableProcessors() noexcept;

/// The value of an environment variable, or nothing when it is not set.
[[nodiscard]] std::optional<std::string_view> EnvironmentValue(const char* name) noexcept;

} // namespace trimeld::platform
