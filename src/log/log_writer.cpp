#include "log/log_writer.h"

#include <cstdio>
#include <stdexcept>

#include "common/text.h"
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

bool LevelPasses(int detail, TLogLevel level) {
  switch (detail) {
    case 0:
      return false;
    case 1:
      return level == TLogLevel::llError;
    case 2:
      return level != TLogLevel::llDebug;
    default:
      return true;
  }
}

const char* LevelWord(TLogLevel level) {
  switch (level) {
    case TLogLevel::llInfo:
      return "INFO";
    case TLogLevel::llDebug:
      return "DEBUG";
    case TLogLevel::llError:
      return "ERROR";
  }
  return "INFO";
}

}  // namespace

std::string ApplicationDataFolder() {
  auto folder = platform::SpecialFolderPath(platform::SpecialFolder::CommonAppData, true);
  if (!folder) folder = platform::SpecialFolderPath(platform::SpecialFolder::UserAppData, true);
  if (!folder) folder = platform::SpecialFolderPath(platform::SpecialFolder::Temp, false);
  return folder.value_or("/tmp");
}

LogWriter::LogWriter(platform::FileSystem& fs, platform::Clock& clock, FolderSource app_data)
    : fs_(fs), clock_(clock), app_data_(std::move(app_data)) {}

LogWriter& LogWriter::Instance() {
  static LogWriter writer(platform::RealFileSystem(), platform::SystemClock(),
                          &ApplicationDataFolder);
  return writer;
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

bool LogWriter::IsRooted(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string LogWriter::GetLogFileName(bool folder_only) {
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
  } else if (IsRooted(file_name)) {
    return file_name;
  } else {
    name = WithoutExtension(FileNameOf(file_name));
  }

  std::string folder;
  if (folder_setting.empty()) {
    folder = app_data_() + kSep + company + kSep + name;
  } else if (IsRooted(folder_setting)) {
    folder = folder_setting;
  } else {
    folder = app_data_() + kSep + folder_setting;
  }
  if (folder.back() != kSep) folder += kSep;

  if (!fs_.DirectoryExists(folder)) {
    fs_.CreateDirectories(folder.substr(0, folder.size() - 1));
    fs_.GrantEveryoneFullAccess(folder);
  }
  if (folder_only) return folder;

  platform::LocalTime t = clock_.Now();
  char date[16];
  std::snprintf(date, sizeof date, "%04d.%02d.%02d", t.year, t.month, t.day);
  return folder + name + "_" + date + ".log";
}

std::string LogWriter::FormatRecord(const platform::LocalTime& t, std::u16string_view caption,
                                    std::u16string_view text, TLogLevel level) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  std::string line =
      std::string(stamp) + "\t" + LevelWord(level) + "\t" + ToUtf8(TrimControl(caption));
  if (!text.empty()) line += ": \t" + ToUtf8(TrimControl(text));
  return line;
}

void LogWriter::WriteLog(std::u16string_view caption, std::u16string_view text, TLogLevel level) {
  if (!LevelPasses(detail_.load(), level)) return;
  WriteLogHeader();
  WriteLogLine(FormatRecord(clock_.Now(), caption, text, level));
}

void LogWriter::WriteLogLine(std::string_view line) {
  std::string path = GetLogFileName(false);
  std::string bytes(line);
  bytes += "\r\n";
  std::lock_guard lock(file_lock_);
  platform::AppendResult result =
      fs_.AppendExclusive(path, bytes, {std::chrono::seconds(5), /*shared=*/true});
  if (result.status != platform::AppendStatus::kWritten) throw std::runtime_error(result.message);
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
    block += line + "\r\n";
  }
  block.resize(block.size() - 2);  // WriteLogLine adds the last line end
  WriteLogLine(block);
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
    try {
      WriteLogFooter();
    } catch (...) {
      // The footer is a courtesy; switching off must still work when the folder is gone.
    }
    header_written_ = false;
  }
  detail_ = detail;
}

}  // namespace velquora::log
