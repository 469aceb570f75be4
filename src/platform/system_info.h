#pragma once
#include <optional>
#include <string>

namespace velquora::platform {

enum class SpecialFolder { CommonAppData, UserAppData, Temp };

// Path of a special folder without a trailing separator; created when `create` and missing.
std::optional<std::string> SpecialFolderPath(SpecialFolder folder, bool create);

// "Name (major.minor.build)" as the log header shows it; "Unknown " when unreadable.
std::string SystemDescription();

constexpr char kPathSeparator = '/';

}  // namespace velquora::platform
