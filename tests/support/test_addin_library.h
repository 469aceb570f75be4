#pragma once
// The test add-in library, loaded once per test program like a host loads a driver, with its
// log folder in a temporary folder of its own.
#include <string>

#include "addin_library.h"

namespace velquora::test {

host::AddinLibrary& TestAddin();
const std::string& TestAddinLogFolder();

}  // namespace velquora::test
