#pragma once
#include <string>

namespace velquora::viewer {
// Shows the log viewer window for `folder` and returns when the user closes it.
int RunLogWindow(const std::string& folder);
}  // namespace velquora::viewer
