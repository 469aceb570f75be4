#include "log/log_writer.h"

#include <cstdio>

#include "common/text.h"
#include "common/valid_utf8.h"
#include "platform/library_file.h"
#include "platform/system_info.h"

namespace velquora::log {
namespace {

constexpr char kSep = platform::kPathSeparator;

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool LevelPasses(int detail, LogLevel level) {
  switch (detail) {
    case 0:
      return false;
    case 1:
      return level == LogLevel::kError;
    case 2:
      return level != LogLevel::kDebug;
    default:
      return true;
  }
}

const char* LevelWord(LogLevel level) {
  switch (level) {
    case LogLevel::kInfo:
      return "INFO";
    case LogLevel::kDebug:
      return "DEBUG";
    case LogLevel::kError:
      return "ERROR";
  }
  return "INFO";
}

// One record line; caption and text are valid UTF-8 already.
std::string FormatLine(const platform::LocalTime& t, const char* level, std::string_view caption,
                       std::string_view text, bool with_text) {
  // "yyyy.mm.dd hh:mm:ss.mmm", written by hand: formatting it costs more than the rest of a line.
  char stamp[] = "0000.00.00 00:00:00.000";
  auto put = [&stamp](int at, int width, int field) {
    unsigned value = field > 0 ? static_cast<unsigned>(field) : 0;
    for (int i = at + width - 1; i >= at; --i, value /= 10)
      stamp[i] = static_cast<char>('0' + value % 10);
  };
  put(0, 4, t.year);
  put(5, 2, t.month);
  put(8, 2, t.day);
  put(11, 2, t.hour);
  put(14, 2, t.minute);
  put(17, 2, t.second);
  put(20, 3, t.millisecond);
  std::string line;
  line.reserve(40 + caption.size() + text.size());
  line.append(stamp, sizeof stamp - 1).append("\t").append(level).append("\t").append(caption);
  if (with_text) line.append(": \t").append(text);
  return line;
}

}  // namespace

std::string MachineWideFolder() {
  return platform::SpecialFolderPath(platform::SpecialFolder::kCommonAppData, true).value_or("");
}

std::string ApplicationDataFolder() {
  return platform::DataFolder().value_or("/tmp");
}

LogWriter::LogWriter(platform::FileSystem& fs, platform::Clock& clock, FolderSource app_data,
                     FolderSource machine_wide)
    : fs_(fs),
      clock_(clock),
      app_data_(std::move(app_data)),
      machine_wide_(std::move(machine_wide)) {}

void LogWriter::SetLockWait(std::chrono::milliseconds wait) {
  std::lock_guard lock(file_lock_);
  lock_wait_ = wait;
}

void LogWriter::SetLogFileName(std::string name) {
  std::lock_guard lock(settings_mutex_);
  file_name_ = std::move(name);
}

std::string LogWriter::LogFileName() const {
  std::lock_guard lock(settings_mutex_);
  return file_name_;
}

void LogWriter::SetLogFolder(std::string folder) {
  std::lock_guard lock(settings_mutex_);
  folder_ = std::move(folder);
}

std::string LogWriter::LogFolder() const {
  std::lock_guard lock(settings_mutex_);
  return folder_;
}

void LogWriter::SetLogCompanyName(std::string name) {
  std::lock_guard lock(settings_mutex_);
  company_ = std::move(name);
}

bool LogWriter::InsideMachineWideFolder(const std::string& path) const {
  std::string root = machine_wide_ ? machine_wide_() : std::string();
  while (!root.empty() && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  if (root.empty() || path.size() <= root.size() + 1) return false;
  char after = path[root.size()];
  return path.compare(0, root.size(), root) == 0 && (after == '/' || after == '\\');
}

std::string LogWriter::LogFilePath() {
  return ResolveLogFile(false).path;
}

std::string LogWriter::LogFolderPath() {
  return ResolveLogFile(true).path;
}

LogWriter::LogTarget LogWriter::ResolveLogFile(bool folder_only, bool remembered_ok) {
  auto dated = [&](const std::string& folder, const std::string& name,
                   const platform::LocalTime& t) {
    char date[16];
    std::snprintf(date, sizeof date, "%04d.%02d.%02d", t.year, t.month, t.day);
    return folder + name + "_" + date + ".log";
  };
  if (remembered_ok && !folder_only) {
    // Every record comes this way: the settings are compared where they lie, and the dated name
    // is made once a day.
    platform::LocalTime t = clock_.Now();
    const int date = t.year * 10000 + t.month * 100 + t.day;
    std::lock_guard lock(settings_mutex_);
    std::lock_guard remembered_lock(remembered_mutex_);
    if (remembered_ && remembered_->file_name == file_name_ &&
        remembered_->folder_setting == folder_ && remembered_->company == company_) {
      RememberedFolder& r = *remembered_;
      if (r.dated_for != date) {
        r.dated_path = dated(r.folder.path,
                             WithoutExtension(FileNameOf(
                                 file_name_.empty() ? platform::OwnLibraryPath() : file_name_)),
                             t);
        r.dated_for = date;
      }
      return {r.dated_path, r.folder.shared, true, r.folder.path};
    }
  }
  std::string file_name, folder_setting, company;
  {
    std::lock_guard lock(settings_mutex_);
    file_name = file_name_;
    folder_setting = folder_;
    company = company_;
  }
  std::string name;
  if (file_name.empty()) {
    name = WithoutExtension(FileNameOf(platform::OwnLibraryPath()));
  } else if (platform::IsRootedPath(file_name)) {
    return {file_name, InsideMachineWideFolder(file_name), false, {}};
  } else {
    name = WithoutExtension(FileNameOf(file_name));
  }

  std::string folder;
  if (folder_setting.empty()) {
    folder = app_data_() + kSep + company + kSep + name;
  } else if (platform::IsRootedPath(folder_setting)) {
    folder = folder_setting;
  } else {
    folder = app_data_() + kSep + folder_setting;
  }
  if (folder.back() != kSep) folder += kSep;

  bool shared = InsideMachineWideFolder(folder);
  if (!fs_.DirectoryExists(folder)) {
    std::string path = folder.substr(0, folder.size() - 1);
    if (shared) {
      fs_.CreateDirectories(path);
      fs_.GrantEveryoneFullAccess(folder);
    } else {
      // A folder of this user's own: nobody else may plant anything in it.
      std::size_t parent = path.find_last_of("/\\");
      if (parent != std::string::npos && parent > 0) fs_.CreateDirectories(path.substr(0, parent));
      fs_.CreatePrivateDirectory(path);
      if (!fs_.DirectoryExists(folder)) fs_.CreateDirectories(path);  // throws the reason
    }
  }
  {
    std::lock_guard lock(remembered_mutex_);
    remembered_ =
        RememberedFolder{file_name, folder_setting, company, {folder, shared, false, {}}, 0, {}};
  }
  if (folder_only) return {folder, shared, false, {}};
  return {dated(folder, name, clock_.Now()), shared, false, {}};
}

std::string LogWriter::FormatRecord(const platform::LocalTime& t, std::u16string_view caption,
                                    std::u16string_view text, LogLevel level) {
  return FormatLine(t, LevelWord(level), ToValidUtf8(TrimControl(caption)),
                    ToValidUtf8(TrimControl(text)), !text.empty());
}

bool LogWriter::Enabled(LogLevel level) const {
  return LevelPasses(detail_.load(), level);
}

void LogWriter::Write(std::u16string_view caption, std::u16string_view text, LogLevel level) {
  if (!LevelPasses(detail_.load(), level)) return;
  try {
    WriteLogHeader();
    WriteLogLine(FormatRecord(clock_.Now(), caption, text, level));
  } catch (...) {
    // Out of memory while forming a diagnostic line: the caller's work goes on without it.
  }
}

void LogWriter::WriteLogLine(std::string_view line, bool header) {
  LogTarget target;
  std::string error;
  try {
    target = ResolveLogFile(false, true);
  } catch (const std::exception& e) {
    error = e.what();
  }
  std::string bytes;
  bytes.reserve(line.size() + 2);
  bytes.append(line).append("\r\n");

  std::lock_guard lock(file_lock_);
  if (target.path.empty()) {
    dropped_.Count(platform::AppendStatus::kFailed, error.empty() ? "No log file" : error);
    return;
  }
  if (dropped_.Any()) {
    std::string report =
        ValidUtf8(FormatLine(clock_.Now(), "ERROR", "Log", dropped_.Text(), true)) + "\r\n";
    bytes = header ? bytes + report : report + bytes;
  }
  // After a busy lock, one attempt each until an append gets through (see kLockWait).
  auto wait = last_busy_ ? std::chrono::milliseconds(0) : lock_wait_;
  platform::AppendResult result = fs_.AppendExclusive(target.path, bytes, {wait, target.shared});
  if (result.status == platform::AppendStatus::kFailed && target.remembered &&
      !fs_.DirectoryExists(target.folder)) {
    // The folder went since it was found: make it again, as the check before every record did.
    {
      std::lock_guard forget(remembered_mutex_);
      remembered_.reset();
    }
    try {
      target = ResolveLogFile(false);
      result = fs_.AppendExclusive(target.path, bytes, {wait, target.shared});
    } catch (const std::exception& e) {
      result = {platform::AppendStatus::kFailed, e.what()};
    }
  }
  if (result.status == platform::AppendStatus::kWritten) {
    last_busy_ = false;
    dropped_.Clear();
  } else {
    last_busy_ = last_busy_ || result.status == platform::AppendStatus::kBusy;
    dropped_.Count(result.status, std::move(result.message));
  }
  if (detail_.load() == 0) fs_.CloseKeptFiles();  // switched off while this record was on its way
}

void LogWriter::WriteLogHeader() {
  if (detail_.load() == 0 || header_written_.load()) return;
  // Records of other threads wait here until the header is on disk, and the six lines go out in
  // one append, so nothing lands inside or before them.
  std::lock_guard header_lock(header_mutex_);
  if (header_written_.load()) return;
  std::string library = platform::OwnLibraryPath();
  std::string blanks(40, ' ');
  std::string block;
  for (const std::string& line :
       {blanks, std::string("============Start log============="),
        "OS version:\t" + platform::SystemDescription(), "Application:\t" + FileNameOf(library),
        "App. version:\t" + platform::FileVersionText(library), blanks}) {
    block += ValidUtf8(line) + "\r\n";
  }
  block.resize(block.size() - 2);  // WriteLogLine adds the last line end
  WriteLogLine(block, /*header=*/true);
  // A header that could not be written is counted like any record and not tried again: a
  // header in the middle of records would mislead more than a missing one.
  header_written_ = true;
}

void LogWriter::WriteLogFooter() {
  if (detail_.load() == 0 || !header_written_.load()) return;
  WriteLogLine("============Stop log===============\r\n");
}

void LogWriter::SetLogDetail(int detail) {
  if (detail < 0) detail = 0;
  if (detail > 3) detail = 3;
  if (detail_.load() != 0 && detail == 0) {
    // The footer is a courtesy: when it cannot be written it is dropped and counted like any
    // record, and logging is switched off all the same.
    try {
      WriteLogFooter();
    } catch (...) {
    }
    // Off before the file is closed: a record already past the level check closes it again
    // after its append (see WriteLogLine) instead of leaving it open while logging is off.
    detail_ = 0;
    header_written_ = false;
    std::lock_guard lock(file_lock_);
    fs_.CloseKeptFiles();
  }
  detail_ = detail;
}

}  // namespace velquora::log
