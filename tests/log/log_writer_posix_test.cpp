// What the log writer does with what only a POSIX system offers: file modes and the umask,
// symbolic links, a lock held by another process (flock), a file size limit standing in for a
// full disk, and writers in other processes (fork).
#include <fcntl.h>
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
#include "log/log_writer_fixture.h"
#include "support/open_descriptors.h"

namespace velquora::log {
namespace {

namespace fs = std::filesystem;
using test::OpenDescriptorsOn;
using test::ReadText;

// Only a process that may create folders in the machine-wide folder logs there (root, as a
// rule): every user may read its records, nobody else may add, change or remove any. Missing
// parents are made no wider, whatever the umask.
TEST_F(LogWriterTest, ANewMachineWideFolderIsWritableByItsCreatorAlone) {
  for (mode_t mask : {mode_t{077}, mode_t{0}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    fs::remove_all(dir_ / "Korvanta");
    writer_.SetLogFolder(dir_ / "Korvanta/w_velquora");
    mode_t old = umask(mask);
    writer_.SetLogDetail(3);
    writer_.Write(u"x", u"", LogLevel::kDebug);
    writer_.SetLogDetail(0);
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "Korvanta/w_velquora").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((dir_ / "Korvanta/w_velquora/192_168_0_10_2024.03.05.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    if (mask == 0) {
      ASSERT_EQ(stat((dir_ / "Korvanta").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0755u) << "a parent folder others may write to";
    }
  }
}

TEST_F(LogWriterTest, AnExistingFolderKeepsItsRights) {
  fs::create_directory(dir_ / "logs");
  chmod((dir_ / "logs").c_str(), 0750);
  writer_.SetLogDetail(3);
  writer_.Write(u"x", u"", LogLevel::kDebug);
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "logs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}

// A day file an earlier version made writable by everyone is narrowed at its next record.
TEST_F(LogWriterTest, AnOwnFileWritableByOthersIsNarrowed) {
  fs::create_directory(dir_ / "logs");
  test::WriteText(File(), "");
  chmod(File().c_str(), 0666);
  writer_.SetLogDetail(3);
  writer_.Write(u"x", u"", LogLevel::kDebug);
  struct stat st {};
  ASSERT_EQ(stat(File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_NE(ReadText(File()).find("\tDEBUG\tx\r\n"), std::string::npos) << "still written";
}

TEST_F(LogWriterTest, AFolderOutsideTheMachineWideOneIsTheOwnersAlone) {
  LogWriter own(
      platform::RealFileSystem(), clock_, [this] { return dir_.path(); },
      [] { return std::string("/nonexistent-machine-folder"); });
  own.SetLogFolder(dir_ / "home/.local/share/Korvanta/w_velquora");
  own.SetLogFileName("192_168_0_10");
  mode_t old = umask(0);
  own.SetLogDetail(3);
  own.Write(u"x", u"", LogLevel::kDebug);
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

TEST_F(LogWriterTest, ALinkInTheFolderIsNeverFollowedNorFailsTheCaller) {
  fs::create_directory(dir_ / "logs");
  test::WriteText(dir_ / "victim", "precious");
  fs::create_symlink(dir_ / "victim", File());
  writer_.SetLogDetail(3);
  EXPECT_NO_THROW(writer_.Write(u"x", u"y", LogLevel::kError));
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  fs::remove(File());
  writer_.Write(u"z", u"", LogLevel::kError);
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  EXPECT_EQ(Lines(File()),
            (std::vector<std::string>{"2024.03.05 14:07:09.042\tERROR\tLog: \t2 records not "
                                      "written: 2 refused (Not a regular file \"" +
                                          File() + "\")",
                                      "2024.03.05 14:07:09.042\tERROR\tz"}));
}

// Another name for today's file (a hard link to a file someone wants root to write into) is
// refused like a symbolic link: the records are counted and reported once a file takes them.
TEST_F(LogWriterTest, ALogFileWithASecondNameIsNotWritten) {
  fs::create_directory(dir_ / "logs");
  test::WriteText(dir_ / "victim", "precious");
  fs::create_hard_link(dir_ / "victim", File());
  writer_.SetLogDetail(3);
  EXPECT_NO_THROW(writer_.Write(u"x", u"y", LogLevel::kError));
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  fs::remove(File());
  writer_.Write(u"z", u"", LogLevel::kError);
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  EXPECT_EQ(Lines(File()),
            (std::vector<std::string>{"2024.03.05 14:07:09.042\tERROR\tLog: \t2 records not "
                                      "written: 2 refused (Log file has another name \"" +
                                          File() + "\")",
                                      "2024.03.05 14:07:09.042\tERROR\tz"}));
}

TEST_F(LogWriterTest, ALockHeldForEverCostsOneShortWait) {
  writer_.SetLogDetail(3);
  writer_.Write(u"first", u"", LogLevel::kDebug);
  int stranger = open(File().c_str(), O_RDONLY);
  ASSERT_GE(stranger, 0);
  ASSERT_EQ(flock(stranger, LOCK_EX), 0);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) writer_.Write(u"lost", u"", LogLevel::kDebug);
  auto took = std::chrono::steady_clock::now() - start;
  close(stranger);
  // One wait of kLockWait, not a hundred (5 s).
  EXPECT_LT(took, std::chrono::seconds(2));
  writer_.Write(u"next", u"", LogLevel::kDebug);
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
  writer_.Write(u"first", u"", LogLevel::kDebug);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = static_cast<rlim_t>(fs::file_size(File()) + 30);
    if (setrlimit(RLIMIT_FSIZE, &full) != 0) _exit(10);
    writer_.Write(u"Данные обмена -> ", u"F1 25 00 00 00 01 02 03 04", LogLevel::kDebug);
    if (setrlimit(RLIMIT_FSIZE, &old) != 0) _exit(11);
    writer_.Write(u"next", u"", LogLevel::kDebug);
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

// 4 threads here and 2 more processes append 10,000 records each: every record arrives whole, once.
TEST_F(LogWriterTest, ConcurrentWritersNeverInterleaveOrLoseRecords) {
  constexpr int kRecords = 10000;
  writer_.SetLockWait(std::chrono::seconds(5));  // a loaded machine must drop nothing here
  writer_.SetLogDetail(3);
  writer_.Write(u"start", u"", LogLevel::kInfo);
  auto write_many = [&](LogWriter& w, const std::string& who) {
    for (int i = 0; i < kRecords; ++i) {
      w.Write(u"writer", ToUtf16(who + "#" + std::to_string(i) + " " + std::string(60, 'x')),
              LogLevel::kDebug);
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
  writer.Write(u"first", u"", LogLevel::kDebug);
  clock.Hold();
  std::thread late([&] { writer.Write(u"late", u"", LogLevel::kDebug); });
  clock.WaitUntilHeld();  // past the level check, stamping its record
  writer.SetLogDetail(0);
  clock.Release();
  late.join();
  EXPECT_NE(ReadText(File()).find("\tDEBUG\tlate\r\n"), std::string::npos);
  EXPECT_EQ(OpenDescriptorsOn(File()), 0) << "the log file is kept open while logging is off";
}

}  // namespace
}  // namespace velquora::log
