#pragma once
#include <string>

namespace velquora::viewer {

// Shows the log viewer for `folder` (UTF-8) until the user closes it; the exit code.
int RunLogWindow(const std::string& folder);

}  // namespace velquora::viewer
