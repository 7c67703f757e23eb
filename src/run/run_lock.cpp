// The run's lock files: naming, waiting and reporting.
#include "run/run_lock.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "log/log.h"

namespace run {

namespace {

std::string LogDirFile(const std::string& name) {
  return platform::NativePath("../../Valdura_php/log/" + name);
}

std::uint32_t Fnv1a(const std::string& text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

// The work file's absolute path with "." and ".." resolved, so that two
// runs naming one file differently share its lock.
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) return path;
  return p.string();
}

void Report(const std::string& message) {
  std::fprintf(stderr, "kranzel: %s\n", message.c_str());
  std::fflush(stderr);
  klog::WriteLog(message);
}

void Take(platform::FileLock& lock, const std::string& path, const std::string& what) {
  std::string error;
  for (;;) {
    platform::FileLock::Status status = lock.TryLock(path, error);
    if (status == platform::FileLock::Status::Locked) return;
    if (status == platform::FileLock::Status::Busy) {
      klog::LogF("Warte auf Sperre fuer %s (%s)", what.c_str(), path.c_str());
      status = lock.Wait(error);
      if (status == platform::FileLock::Status::Locked) return;
      // Busy: the lock file was removed while we waited; the one the path
      // names now is taken (and, when held, waited for) again.
      if (status == platform::FileLock::Status::Busy) continue;
    }
    break;
  }
  Report("Sperrdatei " + path + " konnte nicht angelegt werden: " + error +
         ". Weiter ohne Sperre.");
}

}  // namespace

std::string TypeLockPath(const std::string& fileType) {
  return LogDirFile("kranzel-" + fileType + ".lock");
}

std::string WorkLockPath(const std::string& work) {
  const std::string absolute = AbsolutePath(work);
  std::string name = std::filesystem::path(absolute).filename().string();
  for (char& c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  // The hash tells long names apart; the name is there for the reader.
  if (name.size() > 100) name.resize(100);
  char hash[9];
  std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(Fnv1a(absolute)));
  return LogDirFile("kranzel-wrk-" + name + "-" + hash + ".lock");
}

void TakeRunLocks(const std::string& fileType, const std::string& work, RunLocks& locks) {
  if (!fileType.empty()) Take(locks.type, TypeLockPath(fileType), "Dateityp " + fileType);
  Take(locks.work, WorkLockPath(work), "Arbeitsdatei " + work);
}

}  // namespace run
