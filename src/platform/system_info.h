#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace velquora::platform {

enum class SpecialFolder { kCommonAppData, kUserAppData, kTemp };

// Path of a special folder without a trailing separator; created when `create` and missing.
// CommonAppData, the folder shared by every user of the machine, is nullopt when this process
// cannot create folders in it.
std::optional<std::string> SpecialFolderPath(SpecialFolder folder, bool create);

// The folder the library keeps its files under: the machine-wide application-data folder when
// this process can use it, else the user's own (both created when missing), else the temporary
// folder; nullopt when none can be had.
std::optional<std::string> DataFolder();

// Whether `path` gives its own place: from a root ("/a"), or on Windows also from a drive
// ("C:\\a") or with the other separator; anything else is relative.
bool IsRootedPath(std::string_view path);

// "Name (major.minor.build)" as the log header shows it; "Unknown " when unreadable.
std::string SystemDescription();

// Whether the viewer program hands a help page on to the user's browser and returns at once,
// the browser reading the page later (Windows), or shows it itself until its window closes.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
constexpr char kProgramSuffix[] = ".exe";
constexpr bool kHelpPageOutlivesViewer = true;
#else
constexpr char kPathSeparator = '/';
constexpr char kProgramSuffix[] = "";
constexpr bool kHelpPageOutlivesViewer = false;
#endif

}  // namespace velquora::platform
