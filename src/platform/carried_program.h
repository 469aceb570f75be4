#pragma once
// Helper programs the library carries inside itself as data items (the viewer windows). A host
// copies only the library file into a folder of its own, so nothing can be kept beside it.
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace velquora::platform {

// Runs the program whose bytes are `image` with `args` and waits until it exits.
// Linux: argv[0] is `base_name`; the program runs from a sealed file in memory; where the system
// runs no program from memory, from a file in the user's cache folder (created writable by this
// user only) under `base_name` and a hash of its bytes, checked before every start to hold exactly
// `image` (one that differs, a changed or foreign file or a link, is replaced, never run).
// Either way it is started through the descriptor of the file checked, never by a path.
// Windows: from the checked file in the user's local application-data folder, held open
// against writers while it starts. Throws std::runtime_error (Russian text) when it cannot be
// made or started; when the system lacks a library the program needs, the result's text says
// which, with the loader's reason.
ProcessResult RunCarriedProgram(std::string_view base_name, std::string_view image,
                                const std::vector<std::string>& args);

// The cache folder RunCarriedProgram writes to for this user when it needs one (not created
// here).
std::string CarriedProgramFolder();

// The file name RunCarriedProgram gives `image`.
std::string CarriedProgramFileName(std::string_view base_name, std::string_view image);

}  // namespace velquora::platform
