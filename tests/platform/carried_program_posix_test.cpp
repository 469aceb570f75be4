// The helper program carried inside the library: started from a sealed file in memory through
// its descriptor, or, where the system runs nothing from memory, from a checked copy in the
// user's private cache folder, still through its descriptor. It gets nothing of the host's but
// its environment (without the loader's variables) and tells its outcome itself.
#include "platform/carried_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace velquora::platform {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// What a test needs of the system around the program, made in namespaces of the test's own.
struct Sandbox {
  bool hide_proc = false;       // an empty folder over /proc
  bool memory_refused = false;  // vm.memfd_noexec=2: no memory file may run
  std::string noexec_folder{};  // a fresh file system mounted there with noexec
  bool no_close_range = false;  // close_range fails as on kernels before 5.9
  std::string proc_view{};      // the processes, seen there (when /proc is hidden)
};

enum class SandboxRun { kPassed, kFailed, kUnsupported };

bool WriteFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// Runs `body` in a child process inside new user, mount and process namespaces set up as
// `sandbox` says. The child's failed expectations are printed by the child; the answer says
// whether there were any, or that this system cannot make the namespaces.
SandboxRun InSandbox(const Sandbox& sandbox, const std::function<void()>& body) {
  std::fflush(nullptr);
  pid_t outer = fork();
  if (outer < 0) return SandboxRun::kUnsupported;
  if (outer == 0) {
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWPID) != 0) _exit(77);
    WriteFile("/proc/self/setgroups", "deny");
    if (!WriteFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
      _exit(77);
    pid_t inner = fork();  // the first process of the new process namespace
    if (inner < 0) _exit(77);
    if (inner == 0) {
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
      if (sandbox.memory_refused && !WriteFile("/proc/sys/vm/memfd_noexec", "2")) _exit(77);
      if (!sandbox.noexec_folder.empty() &&
          mount("none", sandbox.noexec_folder.c_str(), "tmpfs", MS_NOEXEC, "mode=0700") != 0)
        _exit(77);
      if (!sandbox.proc_view.empty() &&
          mount("proc", sandbox.proc_view.c_str(), "proc", 0, nullptr) != 0)
        _exit(77);
      if (sandbox.hide_proc && mount("none", "/proc", "tmpfs", 0, "mode=0755") != 0) _exit(77);
      if (sandbox.no_close_range) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 436 /* close_range */, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
          _exit(77);
      }
      try {
        body();
      } catch (const std::exception& e) {
        ADD_FAILURE() << "exception: " << e.what();
      } catch (...) {
        ADD_FAILURE() << "exception";
      }
      std::fflush(nullptr);
      _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    while (waitpid(inner, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
  }
  int status = 0;
  while (waitpid(outer, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return SandboxRun::kUnsupported;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? SandboxRun::kPassed : SandboxRun::kFailed;
}

#define EXPECT_IN_SANDBOX(sandbox, ...)                                                      \
  do {                                                                                       \
    SandboxRun run_ = InSandbox(sandbox, __VA_ARGS__);                                       \
    if (run_ == SandboxRun::kUnsupported)                                                    \
      GTEST_SKIP() << "this system makes no namespaces (or filters) of this kind for tests"; \
    EXPECT_EQ(run_, SandboxRun::kPassed);                                                    \
  } while (false)

// The "program" is the system shell, so the test can see what ran and with which arguments.
// `finish N` reports N as the program's outcome and exits with it, as the viewer does.
class CarriedProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadBytes("/bin/sh");
    ASSERT_FALSE(image_.empty());
    const char* old = std::getenv("XDG_CACHE_HOME");
    if (old) saved_ = old;
    had_ = old != nullptr;
    UseCache(dir_ / "cache");
  }
  void UseCache(const std::string& base) {
    setenv("XDG_CACHE_HOME", base.c_str(), 1);
    folder_ = base + "/Korvanta/w_velquora";
    file_ = folder_ + "/" + CarriedProgramFileName("test-shell", image_);
  }
  void TearDown() override {
    if (had_)
      setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
    else
      unsetenv("XDG_CACHE_HOME");
  }

  ProcessResult Run(const std::string& script) {
    return RunCarriedProgram("test-shell", image_,
                             {"-c",
                              "finish() { if [ -n \"$VELQUORA_OUTCOME_FD\" ]; then echo \"$1\" "
                              ">&\"$VELQUORA_OUTCOME_FD\"; "
                              "fi; exit \"$1\"; }; " +
                                  script});
  }

  test::TempDir dir_;
  std::string image_, folder_, file_, saved_;
  bool had_ = false;
};

TEST_F(CarriedProgram, RunsFromMemoryAndWritesNoFile) {
  EXPECT_EQ(CarriedProgramFolder(), folder_);
  ProcessResult result = Run("echo \"ran $0\" >&2; finish 3");
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.error_output, "ran test-shell\n");
  EXPECT_FALSE(Exists(dir_ / "cache")) << "nothing to plant: no file is written";
}

// A cache on a noexec mount, and no /proc: neither stops the program (nothing is run by a path).
TEST_F(CarriedProgram, RunsWithoutProcAndFromANoexecCache) {
  ASSERT_EQ(mkdir((dir_ / "cache").c_str(), 0700), 0);
  EXPECT_IN_SANDBOX((Sandbox{.hide_proc = true, .noexec_folder = dir_ / "cache"}), [&] {
    ASSERT_FALSE(Exists("/proc/self"));
    ProcessResult result = Run("echo genuine >&2; finish 0");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.error_output, "genuine\n");
  });
  // Where no memory file may run either, the message says what stops the program.
  EXPECT_IN_SANDBOX((Sandbox{.memory_refused = true, .noexec_folder = dir_ / "cache"}), [&] {
    try {
      Run("finish 0");
      ADD_FAILURE() << "the program ran";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("Permission denied (система не разрешает запускать "
                                           "программы ни из памяти, ни из этой папки"),
                std::string::npos)
          << e.what();
    }
  });
}

// Where no memory file may run, the program is written to the cache once, reused while intact,
// and started through the descriptor that was checked, with /proc or without.
TEST_F(CarriedProgram, WhereMemoryMayNotRunTheCheckedCopyRuns) {
  for (bool hide_proc : {false, true}) {
    SCOPED_TRACE(hide_proc ? "without /proc" : "with /proc");
    UseCache(dir_ / (hide_proc ? "without-proc" : "with-proc"));
    EXPECT_IN_SANDBOX((Sandbox{.hide_proc = hide_proc, .memory_refused = true}), [&] {
      ProcessResult first = Run("echo \"ran $0\" >&2; finish 3");
      EXPECT_EQ(first.exit_code, 3);
      EXPECT_EQ(first.error_output, "ran test-shell\n");
      EXPECT_EQ(ReadBytes(file_), image_);
      EXPECT_EQ(Stat(folder_).st_mode & 07777, 0700u);
      EXPECT_EQ(Stat(folder_.substr(0, folder_.rfind('/'))).st_mode & 07777, 0700u);
      EXPECT_EQ(Stat(file_).st_mode & 07777, 0700u);

      struct stat before = Stat(file_);
      EXPECT_EQ(Run("finish 0").exit_code, 0);
      struct stat after = Stat(file_);
      EXPECT_EQ(after.st_ino, before.st_ino) << "an intact copy is reused, not rewritten";
      EXPECT_EQ(after.st_mtime, before.st_mtime);
    });
  }
}

TEST_F(CarriedProgram, WhereMemoryMayNotRunAChangedOrForeignCopyIsReplacedNotRun) {
  EXPECT_IN_SANDBOX((Sandbox{.memory_refused = true}), [&] {
    ASSERT_EQ(Run("finish 0").exit_code, 0);
    std::string marker = dir_ / "marker";
    std::string planted = "#!/bin/sh\ntouch " + marker + "\n";
    struct Case {
      const char* what;
      void (*plant)(const std::string& file, const std::string& content, const std::string& dir);
    };
    const Case cases[] = {
        {"changed in place",
         [](const std::string& file, const std::string& content, const std::string&) {
           test::WriteText(file, content);
           chmod(file.c_str(), 0700);
         }},
        {"same size, one byte changed",
         [](const std::string& file, const std::string&, const std::string&) {
           std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
           f.seekp(100);
           f.put('\x7f');
         }},
        {"a link to another program",
         [](const std::string& file, const std::string& content, const std::string& dir) {
           test::WriteText(dir + "/other", content);
           chmod((dir + "/other").c_str(), 0700);
           unlink(file.c_str());
           ASSERT_EQ(symlink((dir + "/other").c_str(), file.c_str()), 0);
         }},
        {"open to other users", [](const std::string& file, const std::string&,
                                   const std::string&) { chmod(file.c_str(), 0777); }},
    };
    for (const auto& c : cases) {
      c.plant(file_, planted, dir_.path());
      ProcessResult result = Run("echo genuine >&2; finish 0");
      EXPECT_EQ(result.exit_code, 0) << c.what;
      EXPECT_EQ(result.error_output, "genuine\n") << c.what;
      EXPECT_FALSE(Exists(marker)) << c.what << ": the planted program ran";
      EXPECT_TRUE(S_ISREG(Stat(file_).st_mode)) << c.what;
      EXPECT_EQ(Stat(file_).st_mode & 07777, 0700u) << c.what;
      EXPECT_EQ(ReadBytes(file_), image_) << c.what;
    }
  });
}

TEST_F(CarriedProgram, WhereMemoryMayNotRunAnOpenFolderIsClosedAndALinkInItsPlaceRefused) {
  EXPECT_IN_SANDBOX((Sandbox{.memory_refused = true}), [&] {
    std::string vendor = dir_ / "cache/Korvanta";
    ASSERT_EQ(mkdir((dir_ / "cache").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(vendor.c_str(), 0777), 0);
    chmod(vendor.c_str(), 0777);
    EXPECT_EQ(Run("finish 0").exit_code, 0);
    EXPECT_EQ(Stat(vendor).st_mode & 07777, 0700u);

    // Somebody's folder linked in where ours belongs: refused, nothing written there.
    std::string elsewhere = dir_ / "elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    test::TempDir fresh;
    setenv("XDG_CACHE_HOME", fresh.path().c_str(), 1);
    ASSERT_EQ(mkdir((fresh / "Korvanta").c_str(), 0700), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (fresh / "Korvanta/w_velquora").c_str()), 0);
    EXPECT_THROW(Run("finish 0"), std::runtime_error);
    EXPECT_FALSE(Exists(elsewhere + "/" + CarriedProgramFileName("test-shell", image_)));
  });
}

// Another user who may rename entries in the folder above the cache swaps it, again and again,
// with a folder of his own holding his program under the carried program's name: the program
// that runs is always the one checked.
TEST_F(CarriedProgram, ASwappedCacheFolderNeverRunsTheSwappedInProgram) {
  for (bool memory_refused : {false, true}) {
    SCOPED_TRACE(memory_refused ? "from the cache" : "from memory");
    std::string base = dir_ / (memory_refused ? "from-cache" : "from-memory");
    ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
    UseCache(base + "/cache");
    EXPECT_IN_SANDBOX((Sandbox{.hide_proc = true, .memory_refused = memory_refused}), [&] {
      std::string cache = base + "/cache";
      std::string own = base + "/other";
      std::string marker = base + "/planted-ran";
      for (const std::string& folder : {cache, own}) {
        for (const char* part : {"", "/Korvanta", "/Korvanta/w_velquora"})
          ASSERT_EQ(mkdir((folder + part).c_str(), 0700), 0);
      }
      ASSERT_EQ(Run("finish 0").exit_code, 0);
      std::string name = "/Korvanta/w_velquora/" + CarriedProgramFileName("test-shell", image_);
      std::string planted = "#!/bin/sh\ntouch " + marker + "\n";
      std::atomic<bool> stop{false};
      std::thread swapper([&] {
        while (!stop) {
          // Whichever folder is his now gets his program back; then the two are swapped.
          std::string his = Exists(own + "/.his") ? own : cache;
          if (ReadBytes(his + name) != planted) {
            unlink((his + name).c_str());
            test::WriteText(his + name, planted);
            chmod((his + name).c_str(), 0700);
          }
          syscall(SYS_renameat2, AT_FDCWD, cache.c_str(), AT_FDCWD, own.c_str(), 2 /* exchange */);
        }
      });
      test::WriteText(own + "/.his", "");
      int failures = 0;
      for (int i = 0; i < 40; ++i) {
        try {
          if (Run("finish 0").exit_code != 0) ++failures;
        } catch (const std::exception&) {
          ++failures;  // a folder swapped under the check may be refused; never run
        }
      }
      stop = true;
      swapper.join();
      EXPECT_FALSE(Exists(marker))
          << "the swapped-in program ran (" << failures << " of 40 starts failed)";
    });
  }
}

TEST_F(CarriedProgram, GetsNoDescriptorOfTheHostButItsStreamsAndOutcomePipe) {
  test::TempDir files;
  int file = open((files / "host-file").c_str(), O_RDWR | O_CREAT, 0600);
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  int host_pipe[2];
  ASSERT_EQ(pipe(host_pipe), 0);
  ASSERT_GE(file, 0);
  // Without close_range the descriptors are found in /proc, without /proc too by trying them
  // all. The program lists what it holds and what each leads to.
  std::string view = dir_ / "proc-view";
  ASSERT_EQ(mkdir(view.c_str(), 0700), 0);
  struct Case {
    const char* what;
    Sandbox sandbox;
  };
  const Case cases[] = {
      {"close_range", {.proc_view = view}},
      {"no close_range", {.no_close_range = true, .proc_view = view}},
      {"no close_range, no /proc", {.hide_proc = true, .no_close_range = true, .proc_view = view}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_IN_SANDBOX(c.sandbox, [&] {
      ProcessResult result = Run("(ls -l " + view + "/$$/fd) >&2; finish 0");
      EXPECT_EQ(result.exit_code, 0);
      std::string held;
      std::istringstream lines(result.error_output);
      for (std::string line; std::getline(lines, line);) {
        std::size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        std::size_t name = line.rfind(' ', arrow - 1) + 1;
        held += line.substr(name, arrow - name) + " " +
                line.substr(arrow + 4, line.find(':', arrow) - arrow - 4) + "\n";
      }
      EXPECT_EQ(held, "0 pipe\n1 pipe\n2 pipe\n3 pipe\n") << result.error_output;
    });
  }
  for (int fd : {file, listener, host_pipe[0], host_pipe[1]}) close(fd);
}

// A host whose library path holds other libraries (an older C++ runtime) must not hand them to
// the program; the host's own environment stays as it was.
TEST_F(CarriedProgram, TheLoaderVariablesAreNotPassedOn) {
  setenv("LD_LIBRARY_PATH", (dir_ / "old-libs").c_str(), 1);
  setenv("LD_PRELOAD", "libvelquora-host-preload.so", 1);
  setenv("LD_AUDIT", "libvelquora-host-audit.so", 1);
  setenv("VELQUORA_TEST_KEPT", "kept", 1);
  ProcessResult result = Run(
      "echo \"${LD_LIBRARY_PATH-none} ${LD_PRELOAD-none} ${LD_AUDIT-none} $VELQUORA_TEST_KEPT\" "
      ">&2; finish 0");
  EXPECT_STREQ(std::getenv("LD_PRELOAD"), "libvelquora-host-preload.so");
  for (const char* name : {"LD_LIBRARY_PATH", "LD_PRELOAD", "LD_AUDIT", "VELQUORA_TEST_KEPT"})
    unsetenv(name);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.error_output, "none none none kept\n");
}

// However the host treats its children (SIGCHLD ignored, so the system reaps them; a thread of
// its own reaping every child; a handler that reaps), a program that fails, is killed or ends
// without telling its outcome fails the call, and one that reports success succeeds.
TEST_F(CarriedProgram, TheOutcomeDoesNotDependOnTheHostsChildHandling) {
  struct sigaction saved {};
  sigaction(SIGCHLD, nullptr, &saved);
  std::atomic<bool> stop{false};
  struct Host {
    const char* what;
    std::function<void()> start;
  };
  std::thread reaper;
  const Host hosts[] = {
      {"SIGCHLD ignored", [] { signal(SIGCHLD, SIG_IGN); }},
      {"a reaper thread",
       [&] {
         reaper = std::thread([&] {
           while (!stop) {
             if (waitpid(-1, nullptr, 0) < 0) usleep(200);
           }
         });
       }},
      {"a handler that reaps",
       [] {
         struct sigaction reap {};
         reap.sa_handler = [](int) {
           int saved_errno = errno;
           while (waitpid(-1, nullptr, WNOHANG) > 0) {
           }
           errno = saved_errno;
         };
         reap.sa_flags = SA_RESTART;
         sigaction(SIGCHLD, &reap, nullptr);
       }},
  };
  for (const auto& host : hosts) {
    SCOPED_TRACE(host.what);
    host.start();
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(Run("finish 0").exit_code, 0);
      EXPECT_EQ(Run("finish 3").exit_code, 3);
      EXPECT_NE(Run("exit 0").exit_code, 0) << "no outcome reported";
      EXPECT_NE(Run("exit 3").exit_code, 0);
      EXPECT_NE(Run("kill -9 $$").exit_code, 0);
    }
    stop = true;
    if (reaper.joinable()) {
      // Wakes the reaper if it waits for a child.
      if (fork() == 0) _exit(0);
      reaper.join();
    }
    stop = false;
    sigaction(SIGCHLD, &saved, nullptr);
  }
}

TEST_F(CarriedProgram, AMissingSystemLibraryIsNamedWithTheLoadersReason) {
  ProcessResult result =
      Run("echo 'velquora-viewer: error while loading shared libraries: libgtk-3.so.0: cannot "
          "open shared object file: No such file or directory' >&2; exit 127");
  EXPECT_NE(result.exit_code, 0);
  EXPECT_EQ(result.error_output,
            "Для окон драйвера нужна библиотека libgtk-3.so.0 графической среды GTK 3, её нет на "
            "этом компьютере: установите пакет libgtk-3-0 (и libwebkit2gtk-4.1-0 для справки). "
            "Ответ загрузчика: libgtk-3.so.0: cannot open shared object file: No such file or "
            "directory");
}

}  // namespace
}  // namespace velquora::platform
