/* A preload library for the end-to-end test of two runs that rotate the log
 * (or the run summary) at the same moment. It holds the first run inside its
 * rotation, between the size check and the removal of the ".old" file, until
 * the second run either reaches its own rotation of that file or waits for a
 * lock; a slow disk or a descheduled process opens the same window, only by
 * chance. Loaded into kranzel with LD_PRELOAD by the test alone.
 *
 *   KRANZEL_SHIM_RENDEZVOUS=<dir>   an empty directory shared by the runs;
 *                                   the shim leaves its marks there:
 *     first.<name>          made (exclusively) by the first run to remove <name>
 *     in.<name>.<pid>       run <pid> is about to remove <name>
 *     renamed.<name>        a run has renamed its file onto <name>
 *     blocked.<pid>         run <pid> waits for a lock held by another
 *
 * The first run to remove <name> goes on once another run is in.<name> or
 * blocked; a second one goes on only after the first has renamed, so that
 * two rotations without a lock between them run in the order that loses a
 * generation. Each wait ends after 30 s at the latest. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

typedef int (*RemoveFn)(const char*);
typedef int (*RenameFn)(const char*, const char*);
typedef int (*FlockFn)(int, int);

static void Next(const char* name, void* fn, size_t size) {
  void* symbol = dlsym(RTLD_NEXT, name);
  memcpy(fn, &symbol, size);
}

static const char* Dir(void) { return getenv("KRANZEL_SHIM_RENDEZVOUS"); }

static const char* BaseName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != NULL ? slash + 1 : path;
}

static int EndsWith(const char* text, const char* suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcmp(text + n - m, suffix) == 0;
}

/* Makes the mark `name`; with `exclusive`, returns 0 when it existed. */
static int Mark(const char* name, int exclusive) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", Dir(), name);
  int fd = open(path, O_CREAT | O_WRONLY | O_CLOEXEC | (exclusive ? O_EXCL : 0), 0644);
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

static int Exists(const char* name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", Dir(), name);
  return access(path, F_OK) == 0;
}

/* Whether a mark beginning with `prefix` was made by another process. */
static int OtherMark(const char* prefix) {
  char mine[64];
  snprintf(mine, sizeof mine, "%ld", (long)getpid());
  DIR* dir = opendir(Dir());
  if (dir == NULL) return 0;
  int found = 0;
  struct dirent* entry;
  size_t n = strlen(prefix);
  while (!found && (entry = readdir(dir)) != NULL)
    found = strncmp(entry->d_name, prefix, n) == 0 && strcmp(entry->d_name + n, mine) != 0;
  closedir(dir);
  return found;
}

/* A real pause of 5 ms, past any fake clock in the process. */
static void Pause(void) {
  struct timespec ts = {0, 5000000};
  syscall(SYS_nanosleep, &ts, NULL);
}

int remove(const char* path) {
  static RemoveFn real;
  if (real == NULL) Next("remove", &real, sizeof real);
  if (Dir() != NULL && EndsWith(path, ".old")) {
    const char* name = BaseName(path);
    char first[512], in[512], others[512], renamed[512];
    snprintf(first, sizeof first, "first.%s", name);
    snprintf(in, sizeof in, "in.%s.%ld", name, (long)getpid());
    snprintf(others, sizeof others, "in.%s.", name);
    snprintf(renamed, sizeof renamed, "renamed.%s", name);
    const int isFirst = Mark(first, 1);
    Mark(in, 0);
    for (int i = 0; i < 6000; ++i) {
      if (isFirst ? OtherMark(others) || OtherMark("blocked.") : Exists(renamed)) break;
      Pause();
    }
  }
  return real(path);
}

int rename(const char* from, const char* to) {
  static RenameFn real;
  if (real == NULL) Next("rename", &real, sizeof real);
  int rc = real(from, to);
  if (Dir() != NULL && EndsWith(to, ".old")) {
    char renamed[512];
    snprintf(renamed, sizeof renamed, "renamed.%s", BaseName(to));
    Mark(renamed, 0);
  }
  return rc;
}

int flock(int fd, int operation) {
  static FlockFn real;
  if (real == NULL) Next("flock", &real, sizeof real);
  if (Dir() != NULL && (operation & LOCK_EX) && !(operation & LOCK_NB)) {
    char blocked[64];
    snprintf(blocked, sizeof blocked, "blocked.%ld", (long)getpid());
    Mark(blocked, 0);
  }
  return real(fd, operation);
}
