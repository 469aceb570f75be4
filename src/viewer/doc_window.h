#pragma once
#include <string>

namespace velquora::viewer {
// Shows the HTML file in a browser view and returns when the user closes the window.
int RunDocWindow(const std::string& html_path, const std::string& caption);
}  // namespace velquora::viewer
