#pragma once
// Starting a program by its path on Windows, where the file the library checked is held open
// without write or delete sharing while it starts (see carried_program_win.cpp).
#include <string>
#include <vector>

#include "platform/process.h"

namespace velquora::platform::win {

// Runs `program` with `args` and waits until it exits; throws std::runtime_error when it
// cannot be started.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args);

}  // namespace velquora::platform::win
