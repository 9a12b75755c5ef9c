// Traces that outlive the host process: rings kept in files, and the saved
// trace written when the process dies of a fatal signal. Both are opt-in; a
// host that calls neither records exactly as before.
//
// Persistent rings. After traceKeepRingsIn(api, dir), every buffer that
// api->initTraceBuffer creates lives in a file mapped shared under dir,
// "trace-<pid>-<bufferId>.ring": a self-describing header, the buffer object
// with its position, and the records. Recording writes straight into the
// mapping, so the file holds every record handed out, whatever ends the
// process (SIGKILL and the OOM killer included). Beside the rings,
// "trace-<pid>.steps" describes the steps that write into them and holds the
// filter list; it is rewritten (new file, then rename) when buffers, filters
// or steps change, never on the per-frame path. A buffer that is destroyed
// (replaced, or with its TraceApi) removes its file. `tracerecover` turns
// the files of a dead process into the saved trace file saveTrace would have
// written at the moment it died. One TraceApi per process can keep rings.
// A step built after the last change of buffers or filters is described from
// the next such change (TraceDeviceEvent steps are described at once).
//
// Save on a fatal signal. traceSaveOnFatalSignal(api, path) installs handlers
// for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT (failed library assertions
// end in abort) that write api->saveTrace(path), put the previous disposition
// back and let the signal take its course: the exit status and the core dump
// are what they would have been, and a handler the host installed before
// runs after the save. A second fault during the save ends the process at
// once. The handler runs saveTrace, which goes through stdio and the heap:
// it cannot promise a file when the fault corrupted the heap or the trace
// API's own data. Persistent rings do not have that limit.
//
// Threads. A fault is saved in whichever thread it happens. A stack
// overflow is saved only in a thread that has an alternate signal stack:
// the one that called traceSaveOnFatalSignal, and every thread that calls
// traceGiveThreadSignalStack (new threads do not inherit one).
//
// Files. Ring files, the step file and the fatal-signal file are each
// created as a new file under an unpredictable temporary name in their
// directory and then renamed into place: no symlink or file planted under a
// name the library uses is followed or written. A directory that others
// may write into is refused (EPERM) unless it has the sticky bit (like
// /dev/shm or /tmp); it must belong to the process's user or to root.
//
// Neither is thread-safe against other calls on the same TraceApi.
#ifndef TRACELIB_INCLUDE_TRACERECOVERY_H
#define TRACELIB_INCLUDE_TRACERECOVERY_H

#include <stddef.h>
#include <stdio.h>

class TraceApi;

// Returns 0, or an errno value (the directory is unusable or shared unsafely,
// another TraceApi already keeps rings: EBUSY), after which buffers stay in
// memory as before. Buffers created before the call stay in memory. A
// buffer whose file cannot be made (full file system, no address space for
// the mapping) is created in memory, and the half-made file is removed; an
// allocation failure propagates from initTraceBuffer as it does without
// kept rings, leaving no file, descriptor or mapping behind.
int traceKeepRingsIn(TraceApi* api, const char* directory);

// Returns 0, or an errno value when path cannot be created, its directory is
// shared unsafely, or a handler cannot be installed. A later call replaces
// api and path. At install time a new empty file replaces whatever was at
// path (a previous crash's trace never looks current), so that the handler
// only rewrites it.
int traceSaveOnFatalSignal(TraceApi* api, const char* path);

// Gives the calling thread an alternate signal stack (unless it has one) so
// that the fatal-signal save also runs when this thread's own stack has
// overflowed; the stack is freed when the thread ends. Returns 0 or an
// errno value. The thread that calls traceSaveOnFatalSignal gets one; every
// other thread, made before or after, needs this call at its start to have
// its stack overflows saved (its other faults are saved without it).
int traceGiveThreadSignalStack();

// For tracerecover, which puts a dead process's rings back into a TraceApi
// of its own (TraceBuffer::restore) with steps described as the dead
// process's were: writes to file the saved trace saveTrace would write,
// with the dead process's filter section in place of api's own:
// filterCount, then the filterTextLength bytes of filterText, the filters'
// dump lines as they were written. Returns 0, EINVAL for a null api or file
// (or a null text of non-zero length), or EIO when the stream reports a
// write error; the caller opens and closes the stream.
int traceWriteSavedTrace(TraceApi* api, FILE* file, unsigned int filterCount,
                         const char* filterText, size_t filterTextLength);

#endif
