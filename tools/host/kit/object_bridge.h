#pragma once
// Between the host kit's C++ view of a component and the object the library hands out.
// Where this compiler lays out objects as the library's hosts do (Linux), the bridge is the
// identity. On Windows the library's objects have MSVC's layout, which MinGW's classes do not
// share: the bridge wraps each object in a C++ class that calls through its hand-laid tables, and
// hands the library hand-laid copies of the host's own objects.
#include "host_interfaces.h"

namespace velquora::host {

IComponentBase* WrapLibraryObject(void* object);
// The library's object behind `component`.
void* LibraryObjectOf(IComponentBase* component);
// After the library has destroyed the object (the wrapper's host objects live until then).
void ReleaseWrapper(IComponentBase* component);

}  // namespace velquora::host
