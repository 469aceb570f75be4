// A library the release check must refuse though it exports the three entry points: beside them
// it exports a GNU unique symbol (the static of an inline function with default visibility, which
// would also keep the library loaded after dlclose), and it imports strdup, whose memory the
// caller frees.
#include <cstdlib>
#include <cstring>

#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))

__attribute__((visibility("default"))) inline int& Shared() {
  static int value;
  return value;
}

FIXTURE_EXPORT const void* GetClassNames() {
  return &Shared();
}

FIXTURE_EXPORT long GetClassObject(const char* name, void** object) {
  char* copy = strdup(name);
  *object = nullptr;
  long found = copy && std::strcmp(copy, "x") == 0;
  std::free(copy);
  return found + ++Shared();
}

FIXTURE_EXPORT long DestroyObject(void**) {
  return 0;
}
