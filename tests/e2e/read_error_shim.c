/* A preload library for the end-to-end tests: makes reading a work file
 * fail with EIO after a given number of bytes, the way a failing disk does,
 * or has the work file grow behind the reader, the way a delivery still
 * being written does. Loaded into kranzel with LD_PRELOAD by the test alone;
 * the tool has no switch of its own for it.
 *
 *   KRANZEL_SHIM_FAIL_AFTER=<n>   every stream on a file whose name ends in
 *                                 ".wrk" delivers its first n bytes, then
 *                                 every fread fails and ferror reports it.
 *   KRANZEL_SHIM_APPEND=<path>    the first time a stream on such a file
 *                                 reads to its end, the content of <path> is
 *                                 appended to the file (once per process,
 *                                 as the writer upstream finishes).
 *
 * Each open of the file starts counting anew, so every attempt of a run
 * fails at the same place. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

struct Watched {
  FILE* stream;
  size_t delivered;
  int failed;
};

static struct Watched watched[16];

typedef size_t (*FreadFn)(void*, size_t, size_t, FILE*);
typedef int (*FerrorFn)(FILE*);
typedef int (*FcloseFn)(FILE*);

/* The next definition of `name` (the C library's); copied as bytes, as ISO C
 * has no conversion from an object pointer to a function pointer. */
static void Next(const char* name, void* fn, size_t size) {
  void* symbol = dlsym(RTLD_NEXT, name);
  memcpy(fn, &symbol, size);
}

static int IsWorkFile(FILE* stream) {
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n < 4) return 0;
  path[n] = '\0';
  return strcmp(path + n - 4, ".wrk") == 0;
}

/* The watch of `stream`, started on its first read; NULL for other files. */
static struct Watched* Watch(FILE* stream, int start) {
  struct Watched* free_slot = NULL;
  for (size_t i = 0; i < sizeof watched / sizeof watched[0]; ++i) {
    if (watched[i].stream == stream) return &watched[i];
    if (watched[i].stream == NULL && free_slot == NULL) free_slot = &watched[i];
  }
  if (!start || free_slot == NULL ||
      (getenv("KRANZEL_SHIM_FAIL_AFTER") == NULL && getenv("KRANZEL_SHIM_APPEND") == NULL) ||
      !IsWorkFile(stream))
    return NULL;
  free_slot->stream = stream;
  free_slot->delivered = 0;
  free_slot->failed = 0;
  return free_slot;
}

/* Appends KRANZEL_SHIM_APPEND's content to the file of `stream`, once. */
static void Append(FILE* stream) {
  static int appended;
  const char* from = getenv("KRANZEL_SHIM_APPEND");
  if (from == NULL || appended) return;
  appended = 1;
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return;
  path[n] = '\0';
  int in = open(from, O_RDONLY | O_CLOEXEC);
  int out = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  char buf[65536];
  ssize_t got;
  while (in >= 0 && out >= 0 && (got = read(in, buf, sizeof buf)) > 0)
    if (write(out, buf, (size_t)got) != got) break;
  if (in >= 0) close(in);
  if (out >= 0) close(out);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
  static FreadFn real;
  if (real == NULL) Next("fread", &real, sizeof real);
  struct Watched* w = Watch(stream, 1);
  if (w == NULL || size == 0) return real(buffer, size, count, stream);
  const char* failAfter = getenv("KRANZEL_SHIM_FAIL_AFTER");
  size_t limit = failAfter != NULL ? strtoul(failAfter, NULL, 10) : (size_t)-1;
  if (w->failed || w->delivered >= limit) {
    w->failed = 1;
    errno = EIO;
    return 0;
  }
  size_t allowed = (limit - w->delivered) / size;
  size_t got = real(buffer, size, count < allowed ? count : allowed, stream);
  w->delivered += got * size;
  if (got < count && feof(stream)) Append(stream);
  return got;
}

int ferror(FILE* stream) {
  static FerrorFn real;
  if (real == NULL) Next("ferror", &real, sizeof real);
  struct Watched* w = Watch(stream, 0);
  if (w != NULL && w->failed) return 1;
  return real(stream);
}

int fclose(FILE* stream) {
  static FcloseFn real;
  if (real == NULL) Next("fclose", &real, sizeof real);
  struct Watched* w = Watch(stream, 0);
  if (w != NULL) w->stream = NULL;
  return real(stream);
}
