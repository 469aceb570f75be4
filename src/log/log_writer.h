#pragma once
// The process-wide log writer: daily UTF-8 files of timestamped, levelled records.
// Every record is on disk when WriteLog returns; appends from threads and processes never
// interleave.
//
// The log is a diagnostic aid and its folder may be shared with every user of the machine, so
// a log that cannot be written (a planted link or pipe, a read-only folder, a full disk, a lock
// held by a stranger) never fails, blocks or noticeably slows the caller: the record is dropped
// and counted, and one line with the count and the reasons precedes the next record that is
// written.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "common/log_sink.h"
#include "log/dropped_records.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace velquora::log {

inline constexpr char kLogCompanyName[] = "Korvanta";

class LogWriter final : public LogSink {
 public:
  // A folder without a trailing separator.
  using FolderSource = std::function<std::string()>;

  // How long an append waits for another writer's lock. Honest writers hold it for the few
  // microseconds of one write; 50 ms also covers such a writer being descheduled on a busy
  // machine, and is still short of what a person notices in a host call. After an append found
  // the lock busy, the next ones try once without waiting until one gets through, so a lock
  // held for ever costs one wait, not one per record.
  static constexpr std::chrono::milliseconds kLockWait{50};

  // `app_data`: the application-data folder that relative log folders hang from.
  // `machine_wide`: the machine-wide application-data folder, or empty when this process cannot
  // use it. Only log folders inside it are open to other users (readable by all on POSIX);
  // any other log folder this writer creates is its owner's alone, and so are the files in it.
  LogWriter(platform::FileSystem& fs, platform::Clock& clock, FolderSource app_data,
            FolderSource machine_wide = {});

  // Never throws: a record that cannot be written is dropped and counted.
  void Write(std::u16string_view caption, std::u16string_view text, LogLevel level) override;
  bool Enabled(LogLevel level) const override;
  // Switching off writes the footer first; it cannot fail, even when the footer is lost.
  void SetLogDetail(int detail);
  int LogDetail() const { return detail_.load(); }
  // Today's log file, and the log folder with a trailing separator. Both create a missing log
  // folder; they throw when it cannot be made.
  std::string LogFilePath();
  std::string LogFolderPath();
  // The header block, once after logging is switched on (nothing while it is off).
  void WriteLogHeader();
  void WriteLogFooter();
  // Tests of many concurrent writers wait longer, so a loaded machine drops nothing.
  void SetLockWait(std::chrono::milliseconds wait);

  void SetLogFileName(std::string name);
  std::string LogFileName() const;
  void SetLogFolder(std::string folder);
  std::string LogFolder() const;
  void SetLogCompanyName(std::string name);

  // Formats one record line (without line end) as the files hold it: valid UTF-8 always.
  static std::string FormatRecord(const platform::LocalTime& t, std::u16string_view caption,
                                  std::u16string_view text, LogLevel level);

 private:
  struct LogTarget {
    std::string path;
    bool shared = false;      // inside the machine-wide folder: new files are readable by all
    bool remembered = false;  // the folder came from the last resolution, unchecked
    std::string folder;       // set when remembered
  };
  // `remembered_ok`: a folder found and checked for the same names before may be used without
  // finding and checking it again (one record costs two system calls less).
  LogTarget ResolveLogFile(bool folder_only, bool remembered_ok = false);
  bool InsideMachineWideFolder(const std::string& path) const;
  // Appends one line (valid UTF-8, without its line end); drops and counts it on failure.
  // The report of earlier drops goes before the line, or after it when the line is the header.
  void WriteLogLine(std::string_view line, bool header = false);

  platform::FileSystem& fs_;
  platform::Clock& clock_;
  FolderSource app_data_;
  FolderSource machine_wide_;
  std::atomic<int> detail_{0};
  std::atomic<bool> header_written_{false};
  mutable std::mutex settings_mutex_;  // guards the three names
  std::string file_name_;
  std::string folder_;
  std::string company_ = kLogCompanyName;
  std::mutex header_mutex_;
  std::mutex file_lock_;  // serialises this process's appends; the file lock serves processes
  // Guarded by file_lock_:
  DroppedRecords dropped_;
  bool last_busy_ = false;
  std::chrono::milliseconds lock_wait_ = kLockWait;
  // The folder last found for these names; forgotten when an append through it fails.
  struct RememberedFolder {
    std::string file_name, folder_setting, company;
    LogTarget folder;
    int dated_for = 0;  // the date (yyyymmdd) dated_path is for; 0: not made yet
    std::string dated_path;
  };
  std::mutex remembered_mutex_;
  std::optional<RememberedFolder> remembered_;
};

// The application-data folder the library uses (machine-wide if writable, else the user's).
std::string ApplicationDataFolder();
// The machine-wide application-data folder when this process can use it, else empty.
std::string MachineWideFolder();

}  // namespace velquora::log
