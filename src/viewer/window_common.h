#pragma once
// What both windows share: the form's font, a size that suits the screen, closing with Escape.
#include <gtk/gtk.h>

namespace velquora::viewer {

void ApplyFormStyle();
void CloseOnEscape(GtkWidget* window);
// Opens the window at `width` x `height`, or smaller to fit the screen's work area (leaving a
// margin), and centred on it.
void SizeToScreen(GtkWidget* window, int width, int height);

}  // namespace velquora::viewer
