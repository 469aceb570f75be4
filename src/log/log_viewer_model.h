#pragma once
// What the log viewer window does, apart from its widgets: the sorted list of log files, the
// selection, loading the chosen file, and the once-a-second check that adds what the writer has
// appended. The window only wires widgets to these operations.
//
// The folder may hold anything another user put there: a file is shown from its last
// kShownBytes only (a line says the start was skipped), a line of megabytes in pieces, NUL bytes
// and ill-formed UTF-8 as U+FFFD; a file that grows is read from where the last read ended,
// never again whole.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace velquora::log {

class LogViewerModel {
 public:
  // The most of a file that one read takes in: its last 4 MB.
  static constexpr std::uint64_t kShownBytes = 4u << 20;
  // A longer line is shown in pieces of this many bytes.
  static constexpr std::size_t kLineBytes = 64u << 10;

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
  // The timer: true when the shown file changed since it was loaded and a read was tried
  // (Text() and Error() may have changed). What was appended is added to the end of Text();
  // a file that was cut short or replaced, or grew past what is kept, is loaded afresh.
  bool Tick();

  const std::vector<std::string>& Files() const { return files_; }
  int Selected() const { return selected_; }
  std::string SelectedText() const {
    return selected_ < 0 ? std::string() : files_[static_cast<std::size_t>(selected_)];
  }
  const std::string& Folder() const { return folder_; }
  // The shown file's content as valid UTF-8 without NUL (ill-formed bytes and NUL replaced by
  // U+FFFD), line ends as "\n", lines broken after kLineBytes; for a big file, a line saying
  // the start was skipped, then its end from a line start on.
  const std::string& Text() const { return text_; }
  // Changes whenever Text() is replaced rather than added to: a window that shows the first n
  // bytes of Text() of the same generation shows it all by adding Text().substr(n).
  std::uint64_t TextGeneration() const { return generation_; }
  // Why the last load failed (the file has gone, is no regular file, cannot be read); empty
  // after a load that succeeded.
  const std::string& Error() const { return error_; }

 private:
  void LoadSelectedLog();
  // Adds what was appended to the shown file since it was read; false when it must be loaded
  // afresh instead.
  bool AddAppended(const std::string& path, std::int64_t stamp);

  platform::FileSystem& fs_;
  std::string folder_;
  std::int64_t last_write_time_ = 0;
  std::vector<std::string> files_;
  int selected_ = -1;
  std::string text_;
  std::string error_;
  std::uint64_t generation_ = 0;
  // The shown file: which one it is, where the shown part starts, and how far it has been
  // taken into Text() (bytes that may be the start of a character or of a CR LF still to come
  // wait for the next read).
  std::string shown_name_;
  std::uint64_t volume_ = 0, index_ = 0;
  std::uint64_t shown_from_ = 0, consumed_ = 0;
  std::size_t line_bytes_ = 0;  // the length of Text()'s last line
};

}  // namespace velquora::log
