// The Windows platform files' shared translation of the last Windows error
// into errno, so that callers reporting strerror(errno) say something true
// on both platforms. Only the Windows build includes it.
#ifndef KRANZEL_PLATFORM_LAST_ERROR_WIN_H_
#define KRANZEL_PLATFORM_LAST_ERROR_WIN_H_
#ifdef _WIN32

namespace platform {

// Sets errno from GetLastError(): ENOENT, EACCES, EEXIST, or EIO for any
// other error.
void SetErrnoFromLastError();

}  // namespace platform

#endif
#endif  // KRANZEL_PLATFORM_LAST_ERROR_WIN_H_
