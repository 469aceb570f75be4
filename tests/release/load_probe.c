/* Loads and unloads the add-in library many times in each way a host may load it, as the
 * release test's host: after every dlclose the library must be gone from the process (a symbol
 * the loader keeps alive, such as a GNU unique one, would pin it), and the heap must not grow
 * from one cycle to the next.
 *   load_probe LIBRARY CYCLES MAX_BYTES_PER_CYCLE
 * Prints one line per load mode with the heap growth per cycle; exits 1 on the first fault. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>

typedef const unsigned short* (*ClassNamesFn)(void);
typedef long (*ClassObjectFn)(const unsigned short*, void**);
typedef long (*DestroyFn)(void**);

static const unsigned short kClass[] = {'w', '_', 'v', 'e', 'l', 'q', 'u', 'o', 'r', 'a', 0};

/* Bytes the C library's allocator has handed out and not yet taken back. */
static long HeapInUse(void) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  struct mallinfo m = mallinfo();
#pragma GCC diagnostic pop
  return (long)m.uordblks + (long)m.hblkhd;
}

/* One host session: load, create and destroy a component, unload; 0 when all went well. */
static int Cycle(const char* path, int mode, const char* mode_name) {
  void* library = dlopen(path, mode);
  if (!library) {
    fprintf(stderr, "FAIL: %s: cannot load: %s\n", mode_name, dlerror());
    return 1;
  }
  ClassNamesFn names = (ClassNamesFn)dlsym(library, "GetClassNames");
  ClassObjectFn create = (ClassObjectFn)dlsym(library, "GetClassObject");
  DestroyFn destroy = (DestroyFn)dlsym(library, "DestroyObject");
  void* object = NULL;
  if (!names || !create || !destroy || !names() || create(kClass, &object) != 1 || !object ||
      (destroy(&object), object != NULL)) {
    fprintf(stderr, "FAIL: %s: the entry points do not answer as they should\n", mode_name);
    return 1;
  }
  if (dlclose(library) != 0) {
    fprintf(stderr, "FAIL: %s: dlclose: %s\n", mode_name, dlerror());
    return 1;
  }
  void* still = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (still) {
    dlclose(still);
    fprintf(stderr, "FAIL: %s: the library stays loaded after dlclose\n", mode_name);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: load_probe LIBRARY CYCLES MAX_BYTES_PER_CYCLE\n");
    return 2;
  }
  const char* path = argv[1];
  long cycles = atol(argv[2]);
  double limit = atof(argv[3]);
  struct {
    int mode;
    const char* name;
  } modes[] = {
      {RTLD_LAZY | RTLD_LOCAL, "RTLD_LAZY|RTLD_LOCAL"},
      {RTLD_NOW | RTLD_LOCAL, "RTLD_NOW|RTLD_LOCAL"},
      {RTLD_NOW | RTLD_GLOBAL, "RTLD_NOW|RTLD_GLOBAL"},
      {RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND, "RTLD_NOW|RTLD_LOCAL|RTLD_DEEPBIND"},
  };
  int failed = 0;
  for (size_t m = 0; m < sizeof modes / sizeof modes[0]; ++m) {
    /* The first cycles fill the loader's and the C library's own caches. */
    for (int i = 0; i < 20; ++i)
      if (Cycle(path, modes[m].mode, modes[m].name) != 0) return 1;
    long before = HeapInUse();
    for (long i = 0; i < cycles; ++i)
      if (Cycle(path, modes[m].mode, modes[m].name) != 0) return 1;
    double per_cycle = (double)(HeapInUse() - before) / (double)cycles;
    printf("%-36s %ld cycles, heap growth %.1f bytes per cycle\n", modes[m].name, cycles,
           per_cycle);
    if (per_cycle > limit) {
      fprintf(stderr, "FAIL: %s: the heap grows by %.1f bytes per load (at most %.1f)\n",
              modes[m].name, per_cycle, limit);
      failed = 1;
    }
  }
  return failed;
}
