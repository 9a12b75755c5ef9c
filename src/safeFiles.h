// The files the library itself creates (ring files, the step file, the
// fatal-signal save file) and the directories they go into. A directory
// that someone else could write into lets them plant a symlink or a file
// under a name the library will use; these helpers never follow one and
// never reuse an existing file.
#ifndef TRACELIB_SRC_SAFEFILES_H
#define TRACELIB_SRC_SAFEFILES_H

#include "recoveryHooks.h"

// 0, or an errno value: ENOTDIR; EPERM for a directory that is not owned
// by us or by root, that others may write into without the sticky bit, or
// that is reached through a symlink someone else owns; or what stat or
// access report.
TRACELIB_INTERNAL int checkFileDirectory(const char* directory);

// The directory part of path (up to its last '/', "." without one),
// checked as above.
TRACELIB_INTERNAL int checkDirectoryOf(const char* path);

// Creates "<finalPath>.new.XXXXXX" (a fresh file under a name nobody can
// predict, mode 0644) and returns its descriptor, close-on-exec, with the
// name in *tempPath (owned by the caller). -1 with errno set, and
// *tempPath null, if it cannot. The caller renames it to finalPath when
// complete: rename replaces whatever is there and follows no symlink.
TRACELIB_INTERNAL int createFileBeside(const char* finalPath, char** tempPath);

#endif
