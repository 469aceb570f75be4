#include "platform/posix/process_posix.h"
#include "platform/posix/posix_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace velquora::platform {
namespace {

using posix::Fd;

// The kernel's numbers, not the C library's SYS_ names: the release is built with C library
// 2.31, which has no name for close_range, though its kernel headers and the kernels it runs on
// have the call.
#ifdef __NR_close_range
constexpr long kCloseRange = __NR_close_range;
#else
constexpr long kCloseRange = 436;  // one number on every architecture since kernel 5.1
#endif
constexpr long kExecveat = __NR_execveat;

constexpr char kOutcomeVariable[] = "VELQUORA_OUTCOME_FD";
// The child's descriptors: 0-2 its standard streams, then the outcome pipe and, until exec, the
// image. Everything at kFirstFree and above is closed.
constexpr int kOutcomeFd = 3;
constexpr int kImageFd = 4;
constexpr int kFirstFree = 5;
// What is kept of the program's output: its end, where the program (or the loader, which says
// nothing else) says why it failed. All of it is read, so a chatty program never blocks.
constexpr std::size_t kOutputKept = 64 * 1024;

[[noreturn]] void ThrowErrno(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

// A close-on-exec copy of `fd` at kFirstFree or above, so the child's moves into 0..kImageFd
// never overwrite a source still to be moved.
int HighCopy(int fd) {
  int copy = fcntl(fd, F_DUPFD_CLOEXEC, kFirstFree);
  if (copy < 0) ThrowErrno("fcntl", errno);
  return copy;
}

struct Pipe {
  Fd read, write;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) ThrowErrno("pipe2", errno);
    Fd low_read(fds[0]), low_write(fds[1]);
    read.Reset(HighCopy(fds[0]));
    write.Reset(HighCopy(fds[1]));
  }
};

bool DroppedFromEnvironment(std::string_view entry) {
  for (std::string_view name : {"LD_PRELOAD", "LD_LIBRARY_PATH", "LD_AUDIT", kOutcomeVariable}) {
    if (entry.size() > name.size() && entry.substr(0, name.size()) == name &&
        entry[name.size()] == '=')
      return true;
  }
  return false;
}

// Everything the child needs, made before it exists: between clone and exec it may only make
// async-signal-safe calls (it shares this process's memory while the parent thread waits).
struct ChildPlan {
  int image_fd;
  int input_fd;
  int output_fd;
  int outcome_fd;
  long max_fd;  // the highest descriptor number, when neither close_range nor /proc serve
  char* const* argv;
  char* const* envp;
  int exec_error;  // set by the child when it cannot run the image
};

// No sanitizer bookkeeping on the child's stack: it is unmapped once the child has gone, and
// marks left in its shadow would outlive it.
#define VELQUORA_CHILD_CODE __attribute__((no_sanitize_address))

struct Dirent64 {
  std::uint64_t ino;
  std::int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

VELQUORA_CHILD_CODE void CloseFrom(int first, long max_fd) {
  if (syscall(kCloseRange, first, ~0U, 0) == 0) return;
  // Kernels before 5.9: the descriptors this process holds, from /proc; re-read after closing,
  // as closing changes the listing being read.
  int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    alignas(8) char buffer[2048];
    for (;;) {
      long n = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
      if (n <= 0) break;
      bool closed = false;
      for (long at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const Dirent64*>(buffer + at);
        at += entry->reclen;
        int fd = 0;
        const char* c = entry->name;
        if (*c < '0' || *c > '9') continue;
        for (; *c >= '0' && *c <= '9'; ++c) fd = fd * 10 + (*c - '0');
        if (fd >= first && fd != dir) {
          close(fd);
          closed = true;
        }
      }
      if (closed) lseek(dir, 0, SEEK_SET);
    }
    close(dir);
    return;
  }
  for (long fd = first; fd <= max_fd; ++fd) close(static_cast<int>(fd));
}

VELQUORA_CHILD_CODE int ChildMain(void* argument) {
  auto* plan = static_cast<ChildPlan*>(argument);
  // The host's handlers must not run in this copy, and the program starts with the system's
  // defaults (a host that ignores SIGCHLD or SIGPIPE passes nothing on). Signals stay blocked,
  // as the parent blocked them, until every handler is gone.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &default_action, nullptr);
  if (dup2(plan->input_fd, STDIN_FILENO) < 0 || dup2(plan->output_fd, STDOUT_FILENO) < 0 ||
      dup2(plan->output_fd, STDERR_FILENO) < 0 || dup2(plan->outcome_fd, kOutcomeFd) < 0 ||
      dup3(plan->image_fd, kImageFd, O_CLOEXEC) < 0) {
    plan->exec_error = errno;
    _exit(127);
  }
  CloseFrom(kFirstFree, plan->max_fd);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  syscall(kExecveat, kImageFd, "", plan->argv, plan->envp, AT_EMPTY_PATH);
  plan->exec_error = errno;
  _exit(127);
}

// The outcome record: the exit code in decimal and a line end.
bool ParseOutcome(const std::string& text, int* code) {
  if (text.size() < 2 || text.size() > 4 || text.back() != '\n') return false;
  int value = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (value > 255) return false;
  *code = value;
  return true;
}

// Keeps the last `limit` bytes.
void Append(std::string& out, const char* bytes, std::size_t size, std::size_t limit) {
  out.append(bytes, size);
  if (out.size() > limit) out.erase(0, out.size() - limit);
}

int g_outcome_fd = -1;

}  // namespace

namespace posix {

ProcessResult RunImage(int image_fd, const std::string& name, const std::vector<std::string>& args,
                       int* exec_error) {
  *exec_error = 0;
  std::vector<std::string> environment;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (!DroppedFromEnvironment(*entry)) environment.emplace_back(*entry);
  }
  environment.push_back(std::string(kOutcomeVariable) + "=" + std::to_string(kOutcomeFd));
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments{name};
  arguments.insert(arguments.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);

  Pipe input, output, outcome;
  input.write.Reset();  // the program reads end of file at once
  Fd image(HighCopy(image_fd));
  struct rlimit limit {};
  long max_fd = 65535;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    max_fd = static_cast<long>(limit.rlim_cur) - 1;
  ChildPlan plan{image.get(), input.read.get(), output.write.get(), outcome.write.get(),
                 max_fd,      argv.data(),      envp.data(),        0};

  // The child runs on a stack of its own in this process's memory until it execs (CLONE_VFORK
  // holds this thread until then), so nothing of the host is copied.
  constexpr std::size_t kStackSize = 256 * 1024;
  void* stack = mmap(nullptr, kStackSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack == MAP_FAILED) ThrowErrno("mmap", errno);
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  pid_t pid = clone(ChildMain, static_cast<char*>(stack) + kStackSize,
                    CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
  int clone_error = errno;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  munmap(stack, kStackSize);
  if (pid < 0) ThrowErrno("clone", clone_error);
  image.Reset();
  input.read.Reset();
  output.write.Reset();
  outcome.write.Reset();

  ProcessResult result;
  if (plan.exec_error != 0) {
    *exec_error = plan.exec_error;
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
  }
  // Until the outcome pipe ends (the program has exited: its children never hold it). The
  // output pipe may be held longer by what the program started (the browser's helpers), so it is
  // only read, not waited for.
  std::string outcome_text;
  bool output_open = true;
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{outcome.read.get(), POLLIN, 0},
                     {output_open ? output.read.get() : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) {
      ssize_t n = read(output.read.get(), buffer, sizeof buffer);
      if (n > 0)
        Append(result.error_output, buffer, static_cast<std::size_t>(n), kOutputKept);
      else if (n == 0 || errno != EINTR)
        output_open = false;
    }
    if (fds[0].revents != 0) {
      ssize_t n = read(outcome.read.get(), buffer, sizeof buffer);
      if (n > 0) {
        // More than a record is no record (ParseOutcome refuses it).
        if (outcome_text.size() <= 16) outcome_text.append(buffer, std::min<std::size_t>(n, 17));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  }
  // What the program wrote before it exited is in the pipe now (a pipe holds less than this
  // bound; what its children write on is not waited for).
  if (output_open && fcntl(output.read.get(), F_SETFL, O_NONBLOCK) == 0) {
    ssize_t n;
    for (int reads = 0; reads < 256 && (n = read(output.read.get(), buffer, sizeof buffer)) > 0;
         ++reads)
      Append(result.error_output, buffer, static_cast<std::size_t>(n), kOutputKept);
  }
  // Reaped here unless the host reaps its children itself or has the system do it; either way
  // the status is only a detail for a program that did not report.
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  int reported = 0;
  if (ParseOutcome(outcome_text, &reported)) {
    result.exit_code = reported;
  } else if (waited == pid && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    result.exit_code = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace posix

void TakeOutcomeChannel() {
  const char* value = std::getenv(kOutcomeVariable);
  if (value && std::strcmp(value, "3") == 0 && fcntl(kOutcomeFd, F_SETFD, FD_CLOEXEC) == 0)
    g_outcome_fd = kOutcomeFd;
  unsetenv(kOutcomeVariable);
}

void ReportOutcome(int exit_code) {
  if (g_outcome_fd < 0) return;
  char text[16];
  int size = std::snprintf(text, sizeof text, "%d\n", exit_code & 255);
  while (write(g_outcome_fd, text, static_cast<std::size_t>(size)) < 0 && errno == EINTR) {
  }
  g_outcome_fd = -1;  // reported once; the pipe ends when the program does
}

bool DisplayAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

void RandomBytes(unsigned char* out, std::size_t size) {
  std::ifstream in("/dev/urandom", std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size))) {
    throw std::runtime_error("/dev/urandom cannot be read");
  }
}

}  // namespace velquora::platform
