// The POSIX file system against what a hostile user of a shared folder can plant in it: pipes,
// links, folders, a lock held for ever, and a disk that fills up in the middle of an append.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>

#include "platform/file_system.h"
#include "support/open_descriptors.h"
#include "support/temp_dir.h"

namespace velquora::platform {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using test::OpenDescriptorsOn;
using test::ReadText;
using test::WriteText;

constexpr AppendOptions kShortWait{milliseconds(30), true};

class FileSystemPosixTest : public ::testing::Test {
 protected:
  FileSystem& fs_ = RealFileSystem();
  test::TempDir dir_;
};

// Runs `f` on a thread of its own; when it has not finished after two seconds, opens the pipe
// at `fifo` from both ends (which never blocks), so that an open stuck on it returns and the
// test can report the hang instead of hanging itself.
bool FinishesWithin2s(const std::function<void()>& f, const std::string& fifo) {
  auto done = std::async(std::launch::async, f);
  if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready) {
    done.get();
    return true;
  }
  int unblock = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  done.wait();
  if (unblock >= 0) close(unblock);
  return false;
}

TEST_F(FileSystemPosixTest, APipeIsRefusedWithoutBlockingWhetherOrNotSomeoneReadsIt) {
  std::string pipe = dir_ / "today.log";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
  for (bool reader : {false, true}) {
    SCOPED_TRACE(reader ? "a reader holds the pipe open" : "nobody reads the pipe");
    int held = reader ? open(pipe.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    AppendResult result;
    EXPECT_TRUE(FinishesWithin2s(
        [&] { result = fs_.AppendExclusive(pipe, "record\r\n", kShortWait); }, pipe));
    EXPECT_EQ(result.status, AppendStatus::kRefused);
    EXPECT_EQ(result.message, "Not a regular file \"" + pipe + "\"");
    std::string error;
    EXPECT_TRUE(FinishesWithin2s(
        [&] {
          try {
            fs_.ReadAll(pipe);
          } catch (const std::exception& e) {
            error = e.what();
          }
        },
        pipe));
    EXPECT_EQ(error, "Not a regular file \"" + pipe + "\"");
    if (held >= 0) close(held);
  }
}

TEST_F(FileSystemPosixTest, LinksAndFoldersAreRefusedAndNothingBehindThemChanges) {
  WriteText(dir_ / "victim", "precious");
  fs::create_symlink(dir_ / "victim", dir_ / "link.log");
  fs::create_symlink(dir_ / "not-yet", dir_ / "dangling.log");
  fs::create_directory(dir_ / "folder.log");
  for (const char* name : {"link.log", "dangling.log", "folder.log"}) {
    SCOPED_TRACE(name);
    AppendResult result = fs_.AppendExclusive(dir_ / name, "record\r\n", kShortWait);
    EXPECT_EQ(result.status, AppendStatus::kRefused);
    EXPECT_NE(result.message.find(dir_ / name), std::string::npos);
    EXPECT_THROW(fs_.ReadAll(dir_ / name), std::runtime_error);
  }
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  EXPECT_FALSE(fs::exists(dir_ / "not-yet")) << "a dangling link must not create its target";
}

TEST_F(FileSystemPosixTest, AStrangersLockIsWaitedForOnlyAsLongAsAllowed) {
  std::string file = dir_ / "today.log";
  WriteText(file, "before\r\n");
  int stranger = open(file.c_str(), O_RDONLY);
  ASSERT_GE(stranger, 0);
  ASSERT_EQ(flock(stranger, LOCK_EX), 0);

  for (auto wait : {milliseconds(0), milliseconds(30)}) {
    auto start = std::chrono::steady_clock::now();
    AppendResult result = fs_.AppendExclusive(file, "late\r\n", {wait, true});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.status, AppendStatus::kBusy);
    EXPECT_EQ(result.message, "Log file is busy \"" + file + "\"");
    EXPECT_GE(took, wait);
    EXPECT_LT(took, wait + milliseconds(500));
  }
  EXPECT_EQ(ReadText(file), "before\r\n");

  // A lock released during the wait lets the append through.
  auto release = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(milliseconds(50));
    close(stranger);
  });
  AppendResult result = fs_.AppendExclusive(file, "after\r\n", {std::chrono::seconds(5), true});
  release.wait();
  EXPECT_EQ(result.status, AppendStatus::kWritten) << result.message;
  EXPECT_EQ(ReadText(file), "before\r\nafter\r\n");
}

// The file size limit makes write() store part of the bytes and then fail, as a full disk does.
TEST_F(FileSystemPosixTest, AnAppendThatFailsPartWayIsCutBackToTheRecordBefore) {
  std::string file = dir_ / "today.log";
  std::string before = "2024.03.05 14:07:09.042\tDEBUG\tfirst\r\n";
  WriteText(file, before);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(before.size() + 7), static_cast<rlim_t>(before.size() + 7)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    AppendResult result = fs_.AppendExclusive(file, "2024.03.05 14:07:09.043\tDEBUG\tПараметры\r\n",
                                              {milliseconds(30), true});
    if (result.status != AppendStatus::kFailed) _exit(11);
    if (result.message.rfind("Cannot write log file \"" + file + "\": ", 0) != 0) _exit(12);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no limit, 11: not reported as failed, 12: message";
  EXPECT_EQ(ReadText(file), before) << "the torn part of the record is gone";
  EXPECT_EQ(fs_.AppendExclusive(file, "next\r\n", kShortWait).status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), before + "next\r\n");
}

// Whatever the umask: a shared file is readable by all and writable by its owner alone.
TEST_F(FileSystemPosixTest, NewFilesAreReadableByAllOnlyWhenShared) {
  for (mode_t mask : {mode_t{077}, mode_t{0}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    fs::remove(dir_ / "shared.log");
    fs::remove(dir_ / "own.log");
    mode_t old = umask(mask);
    AppendResult shared = fs_.AppendExclusive(dir_ / "shared.log", "x", {milliseconds(30), true});
    AppendResult own = fs_.AppendExclusive(dir_ / "own.log", "x", {milliseconds(30), false});
    umask(old);
    EXPECT_EQ(shared.status, AppendStatus::kWritten);
    EXPECT_EQ(own.status, AppendStatus::kWritten);
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "shared.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(stat((dir_ / "own.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

// A log file is appended to only when it is this user's and has no other name: a file another
// user made under today's name, or a hard link to some other file, would have root append its
// records wherever that user chose.
TEST_F(FileSystemPosixTest, AFileOfAnotherUserOrWithASecondNameIsRefused) {
  std::string file = dir_ / "today.log";
  struct Case {
    const char* what;
    std::function<bool()> plant;  // false: could not be set up
    std::string reason;
    bool needs_root = false;  // only root can give a file away
  };
  const std::vector<Case> cases = {
      {"a hard link to another file",
       [&] {
         WriteText(dir_ / "victim", "precious");
         return link((dir_ / "victim").c_str(), file.c_str()) == 0;
       },
       "Log file has another name"},
      {"a second name given to the kept file",
       [&] {
         if (fs_.AppendExclusive(file, "mine\r\n", kShortWait).status != AppendStatus::kWritten)
           return false;
         return link(file.c_str(), (dir_ / "victim").c_str()) == 0;
       },
       "Log file has another name"},
      {"a file of another user",
       [&] {
         WriteText(file, "theirs");
         return chmod(file.c_str(), 0666) == 0 && chown(file.c_str(), 65534, 65534) == 0;
       },
       "Log file belongs to another user", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && geteuid() != 0) continue;
    fs::remove(file);
    fs::remove(dir_ / "victim");
    if (!c.plant()) {
      ADD_FAILURE() << "cannot set up: " << std::strerror(errno);
      continue;
    }
    std::string before = ReadText(file);
    AppendResult result = fs_.AppendExclusive(file, "record\r\n", kShortWait);
    EXPECT_EQ(result.status, AppendStatus::kRefused);
    EXPECT_EQ(result.message, c.reason + " \"" + file + "\"");
    EXPECT_EQ(ReadText(file), before);
    EXPECT_EQ(OpenDescriptorsOn(file), 0);
  }
}

TEST_F(FileSystemPosixTest, AnUnwritableFolderIsReportedNotThrown) {
  fs::create_directory(dir_ / "ro");
  chmod(dir_.path().c_str(), 0755);
  chmod((dir_ / "ro").c_str(), 0555);
  // Root writes into any folder, so the check runs as an ordinary user.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    AppendResult result = fs_.AppendExclusive(dir_ / "ro/today.log", "x", kShortWait);
    if (result.status != AppendStatus::kFailed) _exit(11);
    if (result.message.rfind("Cannot open log file \"" + dir_ / "ro/today.log\": ", 0) != 0)
      _exit(12);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: cannot drop rights, 11: not failed, 12: message";
  EXPECT_FALSE(fs::exists(dir_ / "ro/today.log"));
}

// Appends reuse the open file, but only while its name still leads to it: a log moved away,
// removed or swapped for a link between two records must not take the next one.
TEST_F(FileSystemPosixTest, AKeptFileIsWrittenOnlyWhileItsNameLeadsToIt) {
  std::string file = dir_ / "today.log";
  auto append = [&](const char* text) { return fs_.AppendExclusive(file, text, kShortWait); };
  ASSERT_EQ(append("one\r\n").status, AppendStatus::kWritten);
  ASSERT_EQ(append("two\r\n").status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), "one\r\ntwo\r\n");

  fs::rename(file, dir_ / "moved.log");
  EXPECT_EQ(append("three\r\n").status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), "three\r\n");
  EXPECT_EQ(ReadText(dir_ / "moved.log"), "one\r\ntwo\r\n");

  fs::remove(file);
  EXPECT_EQ(append("four\r\n").status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), "four\r\n");

  WriteText(dir_ / "victim", "precious");
  fs::remove(file);
  fs::create_symlink(dir_ / "victim", file);
  EXPECT_EQ(append("five\r\n").status, AppendStatus::kRefused);
  EXPECT_EQ(ReadText(dir_ / "victim"), "precious");
  fs::remove(file);

  ASSERT_EQ(append("six\r\n").status, AppendStatus::kWritten);
  EXPECT_EQ(OpenDescriptorsOn(file), 1);
  fs_.CloseKeptFiles();
  EXPECT_EQ(OpenDescriptorsOn(file), 0);
  EXPECT_EQ(append("seven\r\n").status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), "six\r\nseven\r\n");
}

// The descriptor this process holds on `path`; -1 when it holds none.
int DescriptorOn(const std::string& path) {
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec) == path) return std::stoi(e.path().filename().string());
  }
  return -1;
}

// A child made by fork() inherits the kept descriptor, and with it the parent's lock: appends
// of the two through it would no longer exclude each other. The child's appends go through a
// file it opened itself, so a lock the child holds keeps the parent out.
TEST_F(FileSystemPosixTest, AForkedChildKeepsItsAppendsApartFromTheParents) {
  std::string file = dir_ / "today.log";
  ASSERT_EQ(fs_.AppendExclusive(file, "parent\r\n", kShortWait).status, AppendStatus::kWritten);
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char code = 0;
    if (fs_.AppendExclusive(file, "child\r\n", kShortWait).status != AppendStatus::kWritten)
      code = 1;
    // Holds the lock through the descriptor its append used, until the parent has tried.
    int fd = DescriptorOn(file);
    if (code == 0 && (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0)) code = 2;
    (void)!write(to_parent[1], &code, 1);
    (void)!read(to_child[0], &code, 1);
    _exit(0);
  }
  char code = 9;
  ASSERT_EQ(read(to_parent[0], &code, 1), 1);
  EXPECT_EQ(code, 0) << "1: the child's append failed, 2: it could not take the lock";
  AppendResult held = fs_.AppendExclusive(file, "while the child holds the lock\r\n", kShortWait);
  (void)!write(to_child[1], "x", 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) close(fd);
  EXPECT_EQ(held.status, AppendStatus::kBusy) << "the child's lock did not keep the parent out";
  EXPECT_EQ(fs_.AppendExclusive(file, "after\r\n", kShortWait).status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), "parent\r\nchild\r\nafter\r\n");
}

// A host may close descriptors it does not own and be given the same number again: the log
// must then neither write into the host's file nor close it.
TEST_F(FileSystemPosixTest, AKeptDescriptorTakenOverByTheHostIsLeftToIt) {
  std::string file = dir_ / "today.log";
  ASSERT_EQ(fs_.AppendExclusive(file, "one\r\n", kShortWait).status, AppendStatus::kWritten);
  std::vector<int> fds = test::DescriptorsOn(file);
  ASSERT_EQ(fds.size(), 1u);
  const int kept = fds[0];
  ASSERT_EQ(close(kept), 0);
  WriteText(dir_ / "hosts.txt", "host's own");
  int hosts = open((dir_ / "hosts.txt").c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(hosts, kept) << "the host got the same number";
  EXPECT_EQ(fs_.AppendExclusive(file, "two\r\n", kShortWait).status, AppendStatus::kWritten);
  EXPECT_EQ(ReadText(file), "one\r\ntwo\r\n");
  EXPECT_EQ(ReadText(dir_ / "hosts.txt"), "host's own");
  fs_.CloseKeptFiles();
  EXPECT_EQ(fcntl(hosts, F_GETFD), 0) << "the host's descriptor was closed";
  close(hosts);
}

TEST_F(FileSystemPosixTest, ReadAllReadsARegularFileWhole) {
  std::string big(200000, 'x');
  big += "end";
  WriteText(dir_ / "big.log", big);
  EXPECT_EQ(fs_.ReadAll(dir_ / "big.log"), big);
  EXPECT_THROW(fs_.ReadAll(dir_ / "missing.log"), std::runtime_error);
}

}  // namespace
}  // namespace velquora::platform
