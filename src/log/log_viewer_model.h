#pragma once
// What the log viewer window does, apart from its widgets: the sorted list of log files, the
// selection, loading the chosen file, and the once-a-second check that reloads a file the
// writer has appended to. The window only wires widgets to these operations.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace velquora::log {

class LogViewerModel {
 public:
  LogViewerModel(platform::FileSystem& fs, std::string folder);

  // The window opens: fill the list, select its last entry, load it.
  void Open();
  // Lists every ".log" entry of the folder (extension in any case), sorted ignoring case;
  // clears the selection.
  void FillLogFileList();
  // The list is about to drop down: refresh it (files created meanwhile appear).
  void DropDown() { FillLogFileList(); }
  // The user picked entry `index`; loads it. A file that cannot be read leaves the text as it
  // was and sets Error().
  void Select(int index);
  // The timer: true when the shown file changed since it was loaded and a reload was tried
  // (Text() and Error() may have changed).
  bool Tick();

  const std::vector<std::string>& Files() const { return files_; }
  int Selected() const { return selected_; }
  std::string SelectedText() const {
    return selected_ < 0 ? std::string() : files_[static_cast<std::size_t>(selected_)];
  }
  const std::string& Folder() const { return folder_; }
  // The shown file's content as valid UTF-8 (ill-formed bytes replaced), line ends as "\n".
  const std::string& Text() const { return text_; }
  // Why the last load failed (the file has gone, is no regular file, cannot be read); empty
  // after a load that succeeded.
  const std::string& Error() const { return error_; }

 private:
  void LoadSelectedLog();

  platform::FileSystem& fs_;
  std::string folder_;
  std::int64_t last_write_time_ = 0;
  std::vector<std::string> files_;
  int selected_ = -1;
  std::string text_;
  std::string error_;
};

}  // namespace velquora::log
