// The bodies of the two output files, written to a stream the caller opened
// and closes: saveTrace and debugDump write them to a file of their own,
// the checked saves of traceFiles.h to a temporary file they rename.
#ifndef TRACELIB_SRC_OUTPUTWRITERS_H
#define TRACELIB_SRC_OUTPUTWRITERS_H

#include <stdio.h>

class TraceApi;

// Library-internal: not exported from libtracelib.so.
#define TRACELIB_OUTPUT_INTERNAL __attribute__((visibility("hidden")))

TRACELIB_OUTPUT_INTERNAL void writeSavedTrace(TraceApi* api, FILE* file);
TRACELIB_OUTPUT_INTERNAL void writeDebugDump(TraceApi* api, FILE* file);

#endif
