#pragma once
// The driver library's load and unload steps, run once by the library itself.

namespace velquora::driver {

// Log folder and log name part, the driver information, the one component class. Never throws:
// a library that cannot register offers no classes, and the host sees an empty list.
void LoadDriverLibrary() noexcept;
// The matching steps in reverse: the class list is emptied, then the log footer is written.
void UnloadDriverLibrary() noexcept;

}  // namespace velquora::driver
