#pragma once
// What both windows share: the form's font and closing with Escape.
#include <gtk/gtk.h>

namespace velquora::viewer {

void ApplyFormStyle();
void CloseOnEscape(GtkWidget* window);

}  // namespace velquora::viewer
