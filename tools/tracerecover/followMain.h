// tracerecover --follow: the loop that drives a Follower (follow.h) until
// the process ends, the user interrupts, or nobody reads the output.
#ifndef TRACELIB_TOOLS_TRACERECOVER_FOLLOWMAIN_H
#define TRACELIB_TOOLS_TRACERECOVER_FOLLOWMAIN_H

#include <string>
#include <vector>

// Exit status: 0 when the process ended, on an interrupt, or when the reader
// of the output went away; 1 when nothing could be followed.
int followRings(const std::vector<std::string>& paths);

#endif
