#pragma once
// Facts about a library file: where this library lies and which version it carries.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velquora::platform {

// Full path of the shared library (or program) that holds this code.
std::string OwnLibraryPath();

// The four-part file version stored in the file (major, minor, release, build), if any.
std::optional<std::array<std::uint16_t, 4>> ReadFileVersion(const std::string& path);

// "major.minor.release.build" of a file, "0.0.0.0" when it carries no version.
std::string FileVersionText(const std::string& path);

}  // namespace velquora::platform
