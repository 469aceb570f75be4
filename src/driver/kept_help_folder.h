#pragma once
// Where the help opens in the user's browser (Windows), the browser reads the page after the
// viewer program has returned: the page's temporary folder must outlive the call. The library
// keeps the one folder of the page shown last and removes it at the next help request or when
// the last of its objects is destroyed.
#include <string>

namespace velquora::driver {

// Remembers `folder` as the page shown now; removes a folder kept before.
void KeepHelpFolder(std::string folder) noexcept;
// Removes the kept folder, if any. A folder that cannot be removed is forgotten quietly.
void RemoveKeptHelpFolder() noexcept;

}  // namespace velquora::driver
