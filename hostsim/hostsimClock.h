// A controllable time of day for tests and the replay tool (target
// traceclock). Linking traceclock defines gettimeofday in the executable, so
// it takes the place of the C library's for the whole process, shared
// libraries included. By default it reports the real time; once set it
// reports the set time until told otherwise. The clock state is plain
// process-wide data: change it while no other thread reads the time.
#ifndef HOSTSIM_HOSTSIMCLOCK_H
#define HOSTSIM_HOSTSIMCLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Every gettimeofday from now on reports this time (usec is normalised).
void hostsimClockSet(int32_t sec, int32_t usec);

// Moves a set clock on by usec microseconds (may be negative); a clock
// that reports real time is left alone.
void hostsimClockAdvance(int64_t usec);

// Back to the real time of day (the default).
void hostsimClockUseReal(void);

// Non-zero while a set time is being reported.
int hostsimClockIsSet(void);

#ifdef __cplusplus
}
#endif

#endif
