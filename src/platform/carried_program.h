#pragma once
// Helper programs the library carries inside itself as data items (the viewer windows). A host
// copies only the library file into a folder of its own, so nothing can be kept beside it: the
// program is written into a cache folder of the user's own and started from there.
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace velquora::platform {

// Runs the program whose bytes are `image` with `args` and waits until it exits. The program
// file lives in the user's cache folder (created writable by this user only) under `base_name`
// and a hash of its bytes. Before every start the file is checked to hold exactly `image`; one
// that differs (changed, foreign, a link) is replaced, never run, and the very file checked is
// the one started. Throws std::runtime_error (Russian text) when it cannot be made or started,
// or when the system lacks a library the program needs.
ProcessResult RunCarriedProgram(std::string_view base_name, std::string_view image,
                                const std::vector<std::string>& args);

// The cache folder RunCarriedProgram uses for this user (not created here).
std::string CarriedProgramFolder();

// The file name RunCarriedProgram gives `image`.
std::string CarriedProgramFileName(std::string_view base_name, std::string_view image);

}  // namespace velquora::platform
