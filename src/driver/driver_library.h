#pragma once
// The driver library's entry: its one log and its load and unload steps, run once by the
// library itself (driver_unit.cpp).
#include "log/log_writer.h"

namespace velquora::driver {

// The library's log, made at its first use: every component of the library is given it.
log::LogWriter& LibraryLog();

// Log folder and log name part, the one component class. Never throws: a library that cannot
// register offers no classes, and the host sees an empty list.
void LoadDriverLibrary() noexcept;
// The matching steps in reverse: the class list is emptied, then the log footer is written.
void UnloadDriverLibrary() noexcept;

}  // namespace velquora::driver
