/* A host's own allocator, preloaded into the release test's host: hands out blocks from one
 * static arena and never reuses them. A block of the C library's allocator given to this free,
 * or one of these given to the C library's, is a block that crossed between the two: this side
 * stops the process with a message, the C library's side aborts on its own.
 *   LD_PRELOAD=bump_malloc.so program ...     (BUMP_MALLOC_COUNT=1: print the count at exit) */
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define ARENA_SIZE ((size_t)1 << 30) /* lazily mapped: only what is used costs memory */
#define ALIGN ((size_t)16)

static char arena[ARENA_SIZE] __attribute__((aligned(64)));
static size_t used; /* bytes of the arena handed out, headers included */
static size_t blocks;

/* Each block is preceded by a header holding its size. */
struct header {
  size_t size;
  size_t magic;
};
#define MAGIC ((size_t)0x62756d70616c6c6fULL)

static int Ours(const void* p) {
  return (const char*)p >= arena && (const char*)p < arena + ARENA_SIZE;
}

static void Crossed(const char* what, const void* p) {
  char text[160];
  int n = snprintf(text, sizeof text,
                   "bump_malloc: %s(%p): a block this allocator never handed out\n", what, p);
  if (n > 0) (void)!write(2, text, (size_t)n);
  _exit(99);
}

static void* Take(size_t size, size_t alignment) {
  if (alignment < ALIGN) alignment = ALIGN;
  if (alignment & (alignment - 1) || size > ARENA_SIZE) {
    errno = alignment & (alignment - 1) ? EINVAL : ENOMEM;
    return NULL;
  }
  const uintptr_t base = (uintptr_t)arena;
  for (;;) {
    size_t start = __atomic_load_n(&used, __ATOMIC_RELAXED);
    uintptr_t address = (base + start + sizeof(struct header) + alignment - 1) & ~(alignment - 1);
    size_t body = (size_t)(address - base);
    size_t end = body + ((size + ALIGN - 1) & ~(ALIGN - 1));
    if (end > ARENA_SIZE) {
      errno = ENOMEM;
      return NULL;
    }
    if (__atomic_compare_exchange_n(&used, &start, end, 0, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
      struct header* h = (struct header*)(arena + body) - 1;
      h->size = size;
      h->magic = MAGIC;
      __atomic_add_fetch(&blocks, 1, __ATOMIC_RELAXED);
      return arena + body;
    }
  }
}

static size_t SizeOf(const char* what, void* p) {
  struct header* h = (struct header*)p - 1;
  if (!Ours(p) || h->magic != MAGIC) Crossed(what, p);
  return h->size;
}

void* malloc(size_t size) {
  return Take(size, ALIGN);
}

void free(void* p) {
  if (p) SizeOf("free", p);
}

void* calloc(size_t count, size_t size) {
  if (size && count > SIZE_MAX / size) {
    errno = ENOMEM;
    return NULL;
  }
  return Take(count * size, ALIGN); /* never used before: still zero */
}

void* realloc(void* p, size_t size) {
  if (!p) return malloc(size);
  size_t old = SizeOf("realloc", p);
  void* q = malloc(size);
  if (q) memcpy(q, p, old < size ? old : size);
  return q;
}

void* reallocarray(void* p, size_t count, size_t size) {
  if (size && count > SIZE_MAX / size) {
    errno = ENOMEM;
    return NULL;
  }
  return realloc(p, count * size);
}

void* memalign(size_t alignment, size_t size) {
  return Take(size, alignment);
}

void* aligned_alloc(size_t alignment, size_t size) {
  return Take(size, alignment);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
  void* p = Take(size, alignment);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

void* valloc(size_t size) {
  return Take(size, 4096);
}

void* pvalloc(size_t size) {
  return Take((size + 4095) & ~(size_t)4095, 4096);
}

size_t malloc_usable_size(void* p) {
  return p ? SizeOf("malloc_usable_size", p) : 0;
}

__attribute__((destructor)) static void Report(void) {
  if (!getenv("BUMP_MALLOC_COUNT")) return;
  char text[96];
  int n = snprintf(text, sizeof text, "bump_malloc: %zu blocks, %zu bytes\n", blocks, used);
  if (n > 0) (void)!write(2, text, (size_t)n);
}
