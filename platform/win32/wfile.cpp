// C run-time files over UTF-16 paths.
#include <cerrno>
#include <cstdio>
#include <string>

#include "cehost/text.h"
#include "winbase.h"

namespace {

void SetErrorFromErrno(int e) {
  switch (e) {
    case ENOENT: SetLastError(ERROR_FILE_NOT_FOUND); break;
    case ENOTDIR: SetLastError(ERROR_PATH_NOT_FOUND); break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: SetLastError(ERROR_ACCESS_DENIED); break;
    case EEXIST: SetLastError(ERROR_FILE_EXISTS); break;
    case ENAMETOOLONG: SetLastError(ERROR_FILENAME_EXCED_RANGE); break;
    case EMFILE:
    case ENFILE: SetLastError(ERROR_TOO_MANY_OPEN_FILES); break;
    case ENOSPC: SetLastError(ERROR_DISK_FULL); break;
    case ENOMEM: SetLastError(ERROR_NOT_ENOUGH_MEMORY); break;
    default: SetLastError(ERROR_GEN_FAILURE); break;
  }
}

// The device's mode letters: 't' (text) has no meaning here and ", ccs=..." is not offered.
std::string NativeMode(const WCHAR* mode) {
  std::string m;
  for (const WCHAR* p = mode; *p && *p != u','; ++p) {
    if (*p == u't' || *p == u' ') continue;
    m.push_back(static_cast<char>(*p));
  }
  return m;
}

}  // namespace

FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
  if (!path || !mode) {
    errno = EINVAL;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  FILE* f = std::fopen(cehost::ToUtf8(path).c_str(), NativeMode(mode).c_str());
  if (!f) SetErrorFromErrno(errno);
  return f;
}

int _wremove(const WCHAR* path) {
  if (!path) return -1;
  const int rc = std::remove(cehost::ToUtf8(path).c_str());
  if (rc != 0) SetErrorFromErrno(errno);
  return rc;
}

int _wrename(const WCHAR* from, const WCHAR* to) {
  if (!from || !to) return -1;
  const int rc = std::rename(cehost::ToUtf8(from).c_str(), cehost::ToUtf8(to).c_str());
  if (rc != 0) SetErrorFromErrno(errno);
  return rc;
}
