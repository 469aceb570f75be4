#pragma once
// The browser view of the help window. WebKitGTK is loaded when the first view is made, from
// whichever of its two API versions the machine has (4.1 on newer systems, 4.0 on older ones):
// the calls used here are the same in both, so one viewer program serves both.
#include <gtk/gtk.h>

#include <string>

namespace velquora::viewer {

// A new view showing `uri`; throws std::runtime_error with a Russian message naming the
// library and the dynamic loader's reason when neither version of WebKitGTK loads.
GtkWidget* NewWebView(const std::string& uri);

}  // namespace velquora::viewer
