// The calls through which the rest of the library tells the crash-survival
// code (ringFile.cpp, ringSteps.cpp, fatalSave.cpp) what changed. None is on
// the per-frame path, and each returns at once for a host that never called
// traceKeepRingsIn or traceSaveOnFatalSignal.
#ifndef TRACELIB_SRC_RECOVERYHOOKS_H
#define TRACELIB_SRC_RECOVERYHOOKS_H

class TraceApi;
class TraceBuffer;

// Library-internal: not exported from libtracelib.so.
#define TRACELIB_INTERNAL __attribute__((visibility("hidden")))

// initTraceBuffer: `new TraceBuffer(...)`, or a buffer in a ring file.
TRACELIB_INTERNAL TraceBuffer* newTraceBuffer(TraceApi* api, int id, char* name, int numEntries);
// ~TraceBuffer: true if the buffer's records live in a ring file.
TRACELIB_INTERNAL bool isKeptRing(TraceBuffer* buffer);
// TraceBuffer's operator delete: unmaps and removes a ring file; false if
// the object is not one of them.
TRACELIB_INTERNAL bool releaseKeptRing(void* object);
// Filters or steps changed: rewrite the step file.
TRACELIB_INTERNAL void filtersChanged(TraceApi* api);
TRACELIB_INTERNAL void stepsChanged();
// ~TraceApi: no more ring files or fatal-signal saves for this object.
TRACELIB_INTERNAL void forgetTraceApi(TraceApi* api);
TRACELIB_INTERNAL void forgetFatalSave(TraceApi* api);

#endif
