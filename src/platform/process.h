#pragma once
// Helper programs the library starts and waits for (the viewer windows run in one, never in the
// host's process), and what such a program does on its side.
#include <cstddef>
#include <string>
#include <vector>

namespace velquora::platform {

struct ProcessResult {
  // The program's exit code; -1 when it ended without telling (killed, or it never got to run
  // its own code, as when the dynamic loader refused it).
  int exit_code = -1;
  std::string error_output;  // what it wrote to its standard output and error
};

// The started program's side. On Linux the host owns the library's child processes as much as
// the library does (it may ignore SIGCHLD, or reap every child from a thread of its own), so a
// program started by the library reports its exit code itself, through a pipe it is handed;
// a program that ends without reporting has failed. On Windows the library waits on the
// child's own handle and these do nothing.
// TakeOutcomeChannel: first thing in main, before any thread or child process exists; the pipe
// is kept from the program's own children.
void TakeOutcomeChannel();
// Right before main returns `exit_code`.
void ReportOutcome(int exit_code);

// True when a desktop session is reachable (an X11 or Wayland display).
bool DisplayAvailable();

// `size` bytes from the system's random source.
void RandomBytes(unsigned char* out, std::size_t size);

}  // namespace velquora::platform
