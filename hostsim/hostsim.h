// The project's reference host: definitions of everything host/hostFrame.h
// and host/hostUtil.h declare, working on real wire bytes. Include this one
// header to build frames (frameParse.h, hostFrames.h), read the raw record
// layout (rawFrame.h) and the matcher's rule semantics (frameMatch.h), and
// format times and names (hostUtil.h, see hostText.cpp).
// The controllable clock lives in its own target, traceclock (hostsimClock.h).
#ifndef HOSTSIM_HOSTSIM_H
#define HOSTSIM_HOSTSIM_H

#include "frameMatch.h"
#include "frameParse.h"
#include "hostFrame.h"
#include "hostFrames.h"
#include "hostUtil.h"
#include "rawFrame.h"

// WorldWideNameString texts live in a per-thread ring of this many buffers:
// a text stays valid until this many further names have been formatted on
// the same thread.
constexpr unsigned kHostsimWwnRingSlots = 16;

// Times print as UTC; switched on, in the local time zone (TZ) in the same
// form. Process-wide: set it before times are formatted.
void hostsimTimesInLocalZone(bool local);

#endif
