/* A preload library for the end-to-end tests: makes writing to the log and
 * the run summary fail the way a full disk does, in the middle of a line.
 * Loaded into kranzel with LD_PRELOAD by the test alone.
 *
 *   KRANZEL_SHIM_FULL=<name>[:<name>...]   every fwrite to a file whose name
 *                                          ends in one of the names writes
 *                                          the first half of its bytes (at
 *                                          least one) and then fails with
 *                                          ENOSPC. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef size_t (*FwriteFn)(const void*, size_t, size_t, FILE*);

static void Next(const char* name, void* fn, size_t size) {
  void* symbol = dlsym(RTLD_NEXT, name);
  memcpy(fn, &symbol, size);
}

static int IsFull(FILE* stream) {
  const char* names = getenv("KRANZEL_SHIM_FULL");
  if (names == NULL) return 0;
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  while (*names != '\0') {
    const char* end = strchr(names, ':');
    size_t m = end != NULL ? (size_t)(end - names) : strlen(names);
    if (m > 0 && (size_t)n >= m && strncmp(path + n - m, names, m) == 0) return 1;
    names += m;
    if (*names == ':') ++names;
  }
  return 0;
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
  static FwriteFn real;
  if (real == NULL) Next("fwrite", &real, sizeof real);
  if (size != 1 || count == 0 || !IsFull(stream)) return real(buffer, size, count, stream);
  size_t half = count / 2 > 0 ? count / 2 : 1;
  size_t got = real(buffer, 1, half, stream);
  fflush(stream);
  errno = ENOSPC;
  return got < count ? got : count - 1;
}
