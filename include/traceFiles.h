// The saved trace file and the debug dump, written so that the caller learns
// of every failure. Opt-in: saveTrace and debugDump are unchanged and still
// report only to the system log.
//
// Both calls write the same bytes as saveTrace and debugDump. When path is a
// regular file or does not exist yet, the text goes to a temporary file
// beside it, "<path>.partial-<pid>-<n>", which replaces path only once every
// byte has been written and the file closed; on failure it is removed and
// path is left as it was (a process killed while writing leaves the
// temporary file, recognisable by its name). A symbolic link is followed and
// its target replaced; an existing file keeps its permission bits. Any other
// path (a device such as /dev/null, a FIFO) is written in place.
//
// The return value is 0, or the errno of the first failure: creating the
// file, a write, the flush, the close or the rename (EINVAL for a null api
// or path). Neither call changes any buffer, record, filter or step, logs
// anything, or is safe against other calls on the same TraceApi.
#ifndef TRACELIB_INCLUDE_TRACEFILES_H
#define TRACELIB_INCLUDE_TRACEFILES_H

class TraceApi;

int traceSaveFile(TraceApi* api, const char* path);
int traceDumpFile(TraceApi* api, const char* path);

#endif
