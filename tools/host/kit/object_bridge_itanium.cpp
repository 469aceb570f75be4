#include "object_bridge.h"

namespace velquora::host {

IComponentBase* WrapLibraryObject(void* object) {
  return static_cast<IComponentBase*>(object);
}

void* LibraryObjectOf(IComponentBase* component) {
  return component;
}

void ReleaseWrapper(IComponentBase*) {}

}  // namespace velquora::host
