#pragma once
// The process-wide log writer: daily UTF-8 files of timestamped, levelled records.
// Every record is on disk when WriteLog returns; appends from threads and processes never
// interleave.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace velquora::log {

enum class TLogLevel { llInfo, llDebug, llError };

inline constexpr char kLogCompanyName[] = "Korvanta";

class LogWriter {
 public:
  // The machine-wide application-data folder, without a trailing separator.
  using FolderSource = std::function<std::string()>;

  LogWriter(platform::FileSystem& fs, platform::Clock& clock, FolderSource app_data);
  static LogWriter& Instance();

  void WriteLog(std::u16string_view caption, std::u16string_view text, TLogLevel level);
  void SetLogDetail(int detail);
  int LogDetail() const { return detail_.load(); }
  std::string GetLogFileName(bool folder_only);
  // The header block, once after logging is switched on (nothing while it is off).
  void WriteLogHeader();
  void WriteLogFooter();

  void SetLogFileName(std::string name);
  std::string LogFileName() const;
  void SetLogFolder(std::string folder);
  std::string LogFolder() const;
  void SetLogCompanyName(std::string name);

  // Formats one record line (without line end) as the files hold it.
  static std::string FormatRecord(const platform::LocalTime& t, std::u16string_view caption,
                                  std::u16string_view text, TLogLevel level);

 private:
  void WriteLogLine(std::string_view line);
  static bool IsRooted(const std::string& path);

  platform::FileSystem& fs_;
  platform::Clock& clock_;
  FolderSource app_data_;
  std::atomic<int> detail_{0};
  std::atomic<bool> header_written_{false};
  mutable std::mutex settings_mutex_;  // guards the three names
  std::string file_name_;
  std::string folder_;
  std::string company_ = kLogCompanyName;
  std::mutex header_mutex_;
  std::mutex file_lock_;  // serialises this process's appends; the file lock serves processes
};

// The application-data folder the library uses (machine-wide if writable, else the user's).
std::string ApplicationDataFolder();

}  // namespace velquora::log
