#pragma once
// Starting a program from a descriptor of its file, never by a path (only for src/platform/posix).
#include <string>
#include <vector>

#include "platform/process.h"

namespace velquora::platform::posix {

// Runs the ELF program open at `image_fd` with argv `name`, `args` and waits until it tells how
// it ended (see TakeOutcomeChannel). The program gets only its standard streams (input at end
// of file; output and error into ProcessResult::error_output) and the outcome pipe, whatever
// else this process holds open; the signal dispositions and mask the program starts with are
// the system's defaults; the environment is this process's without the dynamic loader's
// variables that bring other libraries into a program (LD_PRELOAD, LD_LIBRARY_PATH, LD_AUDIT).
// When the system refuses to run the image, nothing has run and *exec_error holds its errno;
// otherwise it is 0. Throws std::runtime_error when no process can be made.
ProcessResult RunImage(int image_fd, const std::string& name, const std::vector<std::string>& args,
                       int* exec_error);

}  // namespace velquora::platform::posix
