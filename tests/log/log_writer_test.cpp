// The log writer against real files in a temporary folder, with a clock the test sets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "common/text.h"
#include "common/valid_utf8.h"
#include "log/log_writer.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"

namespace velquora::log {
namespace {

namespace fs = std::filesystem;
using test::ReadText;

class FixedClock : public platform::Clock {
 public:
  platform::LocalTime now{2024, 3, 5, 14, 7, 9, 42};
  platform::LocalTime Now() override { return now; }
};

class LogWriterTest : public ::testing::Test {
 protected:
  // The temporary folder plays the machine-wide folder: log folders in it are shared.
  LogWriterTest()
      : writer_(
            platform::RealFileSystem(), clock_, [this] { return dir_.path(); },
            [this] { return dir_.path(); }) {
    writer_.SetLogFolder(dir_ / "logs");
    writer_.SetLogFileName("192_168_0_10");
  }
  std::string File(const std::string& name = "192_168_0_10_2024.03.05.log") {
    return dir_ / "logs" + "/" + name;
  }
  std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::string text = ReadText(path);
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find("\r\n", at);
      out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return out;
  }

  test::TempDir dir_;
  FixedClock clock_;
  LogWriter writer_;
};

TEST_F(LogWriterTest, NothingAtDetailZeroNotEvenTheFolder) {
  writer_.WriteLog(u"Exception", u"text", TLogLevel::llError);
  EXPECT_FALSE(fs::exists(dir_ / "logs"));
}

TEST_F(LogWriterTest, HeaderOnceThenRecordsInTheirFormat) {
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"Exception", u"Сбой", TLogLevel::llError);
  writer_.WriteLog(u"Данные обмена -> ", u"F2 25 ", TLogLevel::llDebug);
  writer_.WriteLog(u"Caption", u"", TLogLevel::llInfo);
  writer_.WriteLog(u"Caption", u"   ", TLogLevel::llInfo);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], std::string(40, ' '));
  EXPECT_EQ(lines[1], "============Start log=============");
  EXPECT_EQ(lines[2].rfind("OS version:\t", 0), 0u);
  EXPECT_NE(lines[2].find(" ("), std::string::npos);
  EXPECT_EQ(lines[3].rfind("Application:\t", 0), 0u);
  EXPECT_EQ(lines[4].rfind("App. version:\t", 0), 0u);
  EXPECT_EQ(lines[5], std::string(40, ' '));
  EXPECT_EQ(lines[6], "2024.03.05 14:07:09.042\tERROR\tException: \tСбой");
  EXPECT_EQ(lines[7], "2024.03.05 14:07:09.042\tDEBUG\tДанные обмена ->: \tF2 25");
  EXPECT_EQ(lines[8], "2024.03.05 14:07:09.042\tINFO\tCaption");
  EXPECT_EQ(lines[9], "2024.03.05 14:07:09.042\tINFO\tCaption: \t");
  EXPECT_EQ(ReadText(File()).substr(0, 3), std::string(40, ' ').substr(0, 3))
      << "no byte-order mark";
}

TEST_F(LogWriterTest, DetailLevelsFilterRecords) {
  writer_.SetLogDetail(1);
  writer_.WriteLog(u"a", u"", TLogLevel::llDebug);
  writer_.WriteLog(u"b", u"", TLogLevel::llInfo);
  writer_.WriteLog(u"c", u"", TLogLevel::llError);
  writer_.SetLogDetail(2);
  writer_.WriteLog(u"d", u"", TLogLevel::llDebug);
  writer_.WriteLog(u"e", u"", TLogLevel::llInfo);
  std::string text = ReadText(File());
  EXPECT_EQ(text.find("\ta\r"), std::string::npos);
  EXPECT_EQ(text.find("\tb\r"), std::string::npos);
  EXPECT_NE(text.find("\tc\r"), std::string::npos);
  EXPECT_EQ(text.find("\td\r"), std::string::npos);
  EXPECT_NE(text.find("\te\r"), std::string::npos);
}

TEST_F(LogWriterTest, SwitchingOffWritesTheFooterAndOnAgainANewHeader) {
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"one", u"", TLogLevel::llDebug);
  writer_.SetLogDetail(0);
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"two", u"", TLogLevel::llDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[7], "============Stop log===============");
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[10], "============Start log=============");
}

// A clock that stops the first thread asking for the time after Hold() until Release().
class GatedClock : public platform::Clock {
 public:
  platform::LocalTime Now() override {
    std::unique_lock lock(mutex_);
    if (hold_) {
      hold_ = false;
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
    return {2024, 3, 5, 14, 7, 9, 42};
  }
  void Hold() {
    std::lock_guard lock(mutex_);
    hold_ = true;
  }
  void WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return held_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool hold_ = false, held_ = false, released_ = false;
};

// How many descriptors this process holds on `path`.
int OpenDescriptorsOn(const std::string& path) {
  int count = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec) == path) ++count;
  }
  return count;
}

// A record that passed the level check just before logging was switched off from another
// thread is still written, but the file is not left open while logging is off.
TEST_F(LogWriterTest, ARecordRacingTheSwitchOffLeavesNoFileOpen) {
  GatedClock clock;
  LogWriter writer(
      platform::RealFileSystem(), clock, [this] { return dir_.path(); },
      [this] { return dir_.path(); });
  writer.SetLogFolder(dir_ / "logs");
  writer.SetLogFileName("192_168_0_10");
  writer.SetLogDetail(3);
  writer.WriteLog(u"first", u"", TLogLevel::llDebug);
  clock.Hold();
  std::thread late([&] { writer.WriteLog(u"late", u"", TLogLevel::llDebug); });
  clock.WaitUntilHeld();  // past the level check, stamping its record
  writer.SetLogDetail(0);
  clock.Release();
  late.join();
  EXPECT_NE(ReadText(File()).find("\tDEBUG\tlate\r\n"), std::string::npos);
  EXPECT_EQ(OpenDescriptorsOn(File()), 0) << "the log file is kept open while logging is off";
}

TEST_F(LogWriterTest, ANewDayGoesToANewFileWithoutHeader) {
  writer_.SetLogDetail(3);
  clock_.now = {2024, 3, 5, 23, 59, 59, 999};
  writer_.WriteLog(u"late", u"", TLogLevel::llDebug);
  clock_.now = {2024, 3, 6, 0, 0, 0, 0};
  writer_.WriteLog(u"early", u"", TLogLevel::llDebug);
  EXPECT_EQ(Lines(File()).size(), 7u);
  EXPECT_EQ(Lines(File("192_168_0_10_2024.03.06.log")),
            std::vector<std::string>{"2024.03.06 00:00:00.000\tDEBUG\tearly"});
}

TEST_F(LogWriterTest, NamePartAndFolderRules) {
  writer_.SetLogFileName("192.168.0.10");
  EXPECT_EQ(writer_.GetLogFileName(false), File("192.168.0_2024.03.05.log"));
  writer_.SetLogFileName("sub/dir/name.ext");
  EXPECT_EQ(writer_.GetLogFileName(false), File("name_2024.03.05.log"));
  writer_.SetLogFileName(dir_ / "fixed.txt");
  EXPECT_EQ(writer_.GetLogFileName(false), dir_ / "fixed.txt");
  EXPECT_EQ(writer_.GetLogFileName(true), dir_ / "fixed.txt");
  writer_.SetLogFileName("w_velquora");
  writer_.SetLogFolder("");
  EXPECT_EQ(writer_.GetLogFileName(true), dir_ / "Korvanta/w_velquora/");
  writer_.SetLogFolder("relative/folder");
  EXPECT_EQ(writer_.GetLogFileName(true), dir_ / "relative/folder/");
}

TEST_F(LogWriterTest, ANewFolderIsOpenToAllAndFilesAreWritableByAll) {
  mode_t old = umask(077);
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"x", u"", TLogLevel::llDebug);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "logs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  ASSERT_EQ(stat(File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(LogWriterTest, AnExistingFolderKeepsItsRights) {
  fs::create_directory(dir_ / "logs");
  chmod((dir_ / "logs").c_str(), 0750);
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"x", u"", TLogLevel::llDebug);
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "logs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}

TEST_F(LogWriterTest, AFolderOutsideTheMachineWideOneIsTheOwnersAlone) {
  LogWriter own(
      platform::RealFileSystem(), clock_, [this] { return dir_.path(); },
      [] { return std::string("/nonexistent-machine-folder"); });
  own.SetLogFolder(dir_ / "home/.local/share/Korvanta/w_velquora");
  own.SetLogFileName("192_168_0_10");
  mode_t old = umask(0);
  own.SetLogDetail(3);
  own.WriteLog(u"x", u"", TLogLevel::llDebug);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "home/.local/share/Korvanta/w_velquora").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(
      stat((dir_ / "home/.local/share/Korvanta/w_velquora/192_168_0_10_2024.03.05.log").c_str(),
           &st),
      0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The real file system, except for appends whose outcomes the test scripts.
class ScriptedAppends : public platform::FileSystem {
 public:
  bool DirectoryExists(const std::string& p) override { return real_.DirectoryExists(p); }
  bool FileExists(const std::string& p) override { return real_.FileExists(p); }
  void CreateDirectories(const std::string& p) override { real_.CreateDirectories(p); }
  void GrantEveryoneFullAccess(const std::string& p) override { real_.GrantEveryoneFullAccess(p); }
  platform::AppendResult AppendExclusive(const std::string& path, std::string_view bytes,
                                         const platform::AppendOptions& options) override {
    waits.push_back(options.lock_wait.count());
    if (!script.empty()) {
      platform::AppendStatus status = script.front();
      script.erase(script.begin());
      if (status != platform::AppendStatus::kWritten)
        return {status, "scripted " + std::to_string(static_cast<int>(status))};
    }
    return real_.AppendExclusive(path, bytes, options);
  }
  std::vector<std::string> ListNames(const std::string& f) override { return real_.ListNames(f); }
  std::optional<std::int64_t> LastWriteTimeNs(const std::string& p) override {
    return real_.LastWriteTimeNs(p);
  }
  std::string ReadAll(const std::string& p) override { return real_.ReadAll(p); }
  bool CreatePrivateDirectory(const std::string& p) override {
    return real_.CreatePrivateDirectory(p);
  }
  void WriteFile(const std::string& p, std::string_view b) override { real_.WriteFile(p, b); }
  void RemoveAll(const std::string& p) override { real_.RemoveAll(p); }

  std::vector<platform::AppendStatus> script;
  std::vector<long> waits;  // the lock wait of every append, in ms

 private:
  platform::FileSystem& real_ = platform::RealFileSystem();
};

// The folder is found and checked once, not for every record: when it goes away, the next
// record makes it again and is written, as before, and a day change still starts a new file.
TEST_F(LogWriterTest, ARemovedFolderIsMadeAgainWithoutLosingARecord) {
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"first", u"", TLogLevel::llDebug);
  fs::remove_all(dir_ / "logs");
  writer_.WriteLog(u"second", u"", TLogLevel::llDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(24), "DEBUG\tsecond");
  clock_.now.day = 6;
  writer_.WriteLog(u"third", u"", TLogLevel::llDebug);
  lines = Lines(File("192_168_0_10_2024.03.06.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(24), "DEBUG\tthird");
  writer_.SetLogFileName("10_0_0_1");
  writer_.WriteLog(u"fourth", u"", TLogLevel::llDebug);
  EXPECT_EQ(Lines(File("10_0_0_1_2024.03.06.log")).size(), 1u) << "a new name, a new file";
}

class LogTroubleTest : public LogWriterTest {
 protected:
  LogTroubleTest() {
    scripted_.SetLogFolder(dir_ / "logs");
    scripted_.SetLogFileName("192_168_0_10");
  }
  ScriptedAppends fs_;
  LogWriter scripted_{fs_, clock_, [this] { return dir_.path(); }, [this] { return dir_.path(); }};
};

TEST_F(LogTroubleTest, DroppedRecordsAreCountedAndReportedBeforeTheNextWrittenOne) {
  using S = platform::AppendStatus;
  scripted_.SetLogDetail(3);
  scripted_.WriteLog(u"first", u"", TLogLevel::llDebug);  // header and record written
  fs_.script = {S::kBusy, S::kRefused, S::kFailed, S::kFailed};
  for (const char16_t* lost : {u"a", u"b", u"c", u"d"})
    EXPECT_NO_THROW(scripted_.WriteLog(u"lost", lost, TLogLevel::llDebug));
  scripted_.WriteLog(u"next", u"", TLogLevel::llDebug);
  scripted_.WriteLog(u"after", u"", TLogLevel::llDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[6].substr(24), "DEBUG\tfirst");
  EXPECT_EQ(lines[7].substr(24),
            "ERROR\tLog: \t4 records not written: 1 busy (scripted 1), 1 refused (scripted 2), "
            "2 failed (scripted 3)");
  EXPECT_EQ(lines[8].substr(24), "DEBUG\tnext");
  EXPECT_EQ(lines[9].substr(24), "DEBUG\tafter") << "the count starts again";
  // After the busy lock the next appends tried once without waiting, until one got through.
  EXPECT_EQ(fs_.waits, (std::vector<long>{50, 50, 50, 0, 0, 0, 0, 50}));
}

TEST_F(LogTroubleTest, SwitchingOffCannotFailWhenTheFooterIsLost) {
  using S = platform::AppendStatus;
  scripted_.SetLogDetail(3);
  fs_.script = {S::kFailed, S::kFailed, S::kFailed};  // header, record, footer
  scripted_.WriteLog(u"lost", u"", TLogLevel::llDebug);
  EXPECT_NO_THROW(scripted_.SetLogDetail(0));
  EXPECT_EQ(scripted_.LogDetail(), 0);
  EXPECT_FALSE(std::filesystem::exists(File()));
  scripted_.SetLogDetail(3);
  scripted_.WriteLog(u"back", u"", TLogLevel::llDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1], "============Start log=============") << "the header still comes first";
  EXPECT_EQ(lines[6].substr(24), "ERROR\tLog: \t3 records not written: 3 failed (scripted 3)");
  EXPECT_EQ(lines[7].substr(24), "DEBUG\tback");
}

TEST_F(LogWriterTest, ALinkInTheFolderIsNeverFollowedNorFailsTheCaller) {
  fs::create_directory(dir_ / "logs");
  test::WriteText(dir_ / "victim", "precious");
  fs::create_symlink(dir_ / "victim", File());
  writer_.SetLogDetail(3);
  EXPECT_NO_THROW(writer_.WriteLog(u"x", u"y", TLogLevel::llError));
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  fs::remove(File());
  writer_.WriteLog(u"z", u"", TLogLevel::llError);
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  EXPECT_EQ(Lines(File()),
            (std::vector<std::string>{"2024.03.05 14:07:09.042\tERROR\tLog: \t2 records not "
                                      "written: 2 refused (Not a regular file \"" +
                                          File() + "\")",
                                      "2024.03.05 14:07:09.042\tERROR\tz"}));
}

TEST_F(LogWriterTest, ALockHeldForEverCostsOneShortWait) {
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"first", u"", TLogLevel::llDebug);
  int stranger = open(File().c_str(), O_RDONLY);
  ASSERT_GE(stranger, 0);
  ASSERT_EQ(flock(stranger, LOCK_EX), 0);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) writer_.WriteLog(u"lost", u"", TLogLevel::llDebug);
  auto took = std::chrono::steady_clock::now() - start;
  close(stranger);
  // One wait of kLockWait, not a hundred (5 s).
  EXPECT_LT(took, std::chrono::seconds(2));
  writer_.WriteLog(u"next", u"", TLogLevel::llDebug);
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[7].substr(24),
            "ERROR\tLog: \t100 records not written: 100 busy (Log file is "
            "busy \"" +
                File() + "\")");
}

// The file size limit makes a write store part of a record and fail, as a full disk does.
TEST_F(LogWriterTest, AFullDiskLeavesNoTornRecord) {
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"first", u"", TLogLevel::llDebug);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = static_cast<rlim_t>(fs::file_size(File()) + 30);
    if (setrlimit(RLIMIT_FSIZE, &full) != 0) _exit(10);
    writer_.WriteLog(u"Данные обмена -> ", u"F1 25 00 00 00 01 02 03 04", TLogLevel::llDebug);
    if (setrlimit(RLIMIT_FSIZE, &old) != 0) _exit(11);
    writer_.WriteLog(u"next", u"", TLogLevel::llDebug);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string text = ReadText(File());
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  auto lines = Lines(File());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6].substr(24), "DEBUG\tfirst");
  EXPECT_EQ(lines[7].rfind("2024.03.05 14:07:09.042\tERROR\tLog: \t1 record not written: 1 "
                           "failed (Cannot write log file",
                           0),
            0u)
      << lines[7];
  EXPECT_EQ(lines[8].substr(24), "DEBUG\tnext");
  EXPECT_EQ(ValidUtf8(text), text);
}

TEST_F(LogWriterTest, LoneSurrogatesAreWrittenAsReplacementCharacters) {
  writer_.SetLogDetail(3);
  std::u16string caption = u"> Method";
  caption += char16_t(0xD800);
  std::u16string text = u"Params: [";
  text += char16_t(0xDC00);
  text += u"Сыр]";
  writer_.WriteLog(caption, text, TLogLevel::llDebug);
  std::string file = ReadText(File());
  EXPECT_EQ(ValidUtf8(file), file);
  EXPECT_EQ(Lines(File())[6].substr(24),
            "DEBUG\t> Method\xEF\xBF\xBD: \tParams: [\xEF\xBF\xBDСыр]");
}

class FailingFolders : public platform::FileSystem {
 public:
  bool DirectoryExists(const std::string&) override { return false; }
  bool FileExists(const std::string&) override { return false; }
  void CreateDirectories(const std::string& path) override {
    throw std::runtime_error("Permission denied: " + path);
  }
  void GrantEveryoneFullAccess(const std::string&) override {}
  platform::AppendResult AppendExclusive(const std::string&, std::string_view,
                                         const platform::AppendOptions&) override {
    appended = true;
    return {};
  }
  std::vector<std::string> ListNames(const std::string&) override { return {}; }
  std::optional<std::int64_t> LastWriteTimeNs(const std::string&) override { return std::nullopt; }
  std::string ReadAll(const std::string&) override { return {}; }
  bool CreatePrivateDirectory(const std::string&) override { return false; }
  void WriteFile(const std::string&, std::string_view) override {}
  void RemoveAll(const std::string&) override {}
  bool appended = false;
};

TEST(LogWriterFailure, AFolderThatCannotBeCreatedDropsRecordsQuietly) {
  FailingFolders fs;
  FixedClock clock;
  LogWriter writer(fs, clock, [] { return std::string("/nowhere"); });
  writer.SetLogDetail(3);
  EXPECT_NO_THROW(writer.WriteLog(u"x", u"", TLogLevel::llError));
  EXPECT_FALSE(fs.appended);
  EXPECT_EQ(writer.LogDetail(), 3);
  EXPECT_THROW(writer.GetLogFileName(true), std::runtime_error) << "asked for, it still raises";
}

// 4 threads here and 2 more processes append 10,000 records each: every record arrives whole, once.
TEST_F(LogWriterTest, ConcurrentWritersNeverInterleaveOrLoseRecords) {
  constexpr int kRecords = 10000;
  writer_.SetLockWait(std::chrono::seconds(5));  // a loaded machine must drop nothing here
  writer_.SetLogDetail(3);
  writer_.WriteLog(u"start", u"", TLogLevel::llInfo);
  auto write_many = [&](LogWriter& w, const std::string& who) {
    for (int i = 0; i < kRecords; ++i) {
      w.WriteLog(u"writer", ToUtf16(who + "#" + std::to_string(i) + " " + std::string(60, 'x')),
                 TLogLevel::llDebug);
    }
  };
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      // A writer of its own, as another process has.
      LogWriter child(platform::RealFileSystem(), clock_, [this] { return dir_.path(); });
      child.SetLogFolder(dir_ / "logs");
      child.SetLockWait(std::chrono::seconds(5));
      child.SetLogFileName("192_168_0_10");
      child.SetLogDetail(1);
      child.SetLogDetail(3);
      write_many(child, "p" + std::to_string(p));
      _exit(0);
    }
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] { write_many(writer_, "t" + std::to_string(t)); });
  for (auto& t : threads) t.join();
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto lines = Lines(File());
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[1], "============Start log=============") << "the header comes first and whole";
  EXPECT_EQ(lines[5], std::string(40, ' '));
  std::set<std::string> seen;
  std::size_t records = 0;
  for (const auto& line : lines) {
    std::size_t at = line.find("\twriter: \t");
    if (at == std::string::npos) continue;
    std::string body = line.substr(at + 10);
    ASSERT_EQ(body.size(), body.find(' ') + 61) << "torn line: " << line;
    ASSERT_TRUE(seen.insert(body.substr(0, body.find(' '))).second) << "duplicate: " << line;
    ++records;
  }
  EXPECT_EQ(records, 6u * kRecords);
}

}  // namespace
}  // namespace velquora::log
