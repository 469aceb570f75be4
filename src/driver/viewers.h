#pragma once
// The windows the driver's additional actions open (log viewer, help viewer). The driver only
// knows this interface; the windows live in a separate program so no toolkit is ever loaded
// into the host's process.
#include <string>

namespace velquora::driver {

class Viewers {
 public:
  virtual ~Viewers() = default;
  // Both block until the user closes the window, except the help on Windows, which opens in the
  // user's browser and returns at once. Failures raise an error with a Russian text.
  virtual void ShowLog(const std::string& log_folder) = 0;
  virtual void ShowHelp(const std::u16string& caption) = 0;
};

// The viewers of this build.
Viewers& InstalledViewers();
// Replaces the viewers (tests); nullptr restores the installed ones.
void SetViewersForTesting(Viewers* viewers);

}  // namespace velquora::driver
