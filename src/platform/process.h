#pragma once
// Starting a helper program and waiting for it (the viewer windows run in one, never in the
// host's process).
#include <string>
#include <vector>

namespace velquora::platform {

struct ProcessResult {
  int exit_code = -1;        // -1 when it ended by a signal
  std::string error_output;  // what it wrote to its standard error
};

// Runs `program` with `args` and waits until it exits; throws std::runtime_error when it
// cannot be started.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args);

// True when a desktop session is reachable (an X11 or Wayland display).
bool DisplayAvailable();

// 16 bytes from the system's random source.
void RandomBytes(unsigned char* out, std::size_t size);

}  // namespace velquora::platform
