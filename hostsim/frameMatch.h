// The reference host's frame matcher, FrameUtil::FrameMatchesEntry: how a
// RegisterFrameEntry rule is judged against a raw frame record. Rules are
// owned by the caller; the matcher only reads them and the record.
//
// A rule indexes the record as 32-bit words (layout in rawFrame.h): words
// 0..24 the host descriptor, words 25.. the frame's big-endian wire words in
// host order (FC: word 25 = R_CTL << 24 | D_ID, 26 = CS_CTL | S_ID,
// 27 = TYPE | F_CTL, 28 = SEQ_ID | DF_CTL | SEQ_CNT, 29 = OX_ID | RX_ID,
// 30 = Parameter, 31.. payload; Ethernet: word 25 = first 4 bytes of the
// destination MAC). A frame matches when every test below passes:
//
//  offset_from   0 any kind of frame; 1 FC frames only; 2 Ethernet frames
//                only; any other value matches nothing.
//  field_1/2/3   skipped when mask is 0; otherwise
//                (record[offset] & mask) == (value & mask).
//  range         skipped when mask is 0; otherwise
//                lo <= (record[offset] & mask) <= hi (unsigned).
//                A field or range whose offset is at or past the record's
//                valid words (record[HOSTSIM_D_VALID_WORDS]) fails.
//  only_rejects  non-zero: only FC reject frames pass:
//                  LS_RJT  R_CTL 0x23 with payload byte 0 == 0x01,
//                          reason code = payload byte 5;
//                  BA_RJT  R_CTL 0x85, reason code = payload byte 1;
//                  F_RJT / P_RJT  R_CTL 0xC2 / 0xC3, reason code = byte 1
//                          of the Parameter field (bits 23-16).
//  exact_reject  used only with only_rejects; non-zero: the reason code must
//                equal exact_reject & 0xFF (so 0x100 asks for reason 0x00).
//                Then a reject too short to hold its reason code fails.
//  sof_mask      non-zero: bit (1 << SOF code) must be set (HostsimSof in
//                rawFrame.h); frames without delimiters (SOF code "none",
//                all Ethernet frames) fail any non-zero mask.
//  reserved0     ignored.
// A null record or rule, or a record that holds no parsed frame, never
// matches. The matcher reads at most a handful of words: no allocation, no
// walk over the frame.
#ifndef HOSTSIM_FRAMEMATCH_H
#define HOSTSIM_FRAMEMATCH_H

#include "hostFrame.h"
#include "rawFrame.h"

// The reason code of an FC reject frame, or -1 when the frame is not a reject
// (see only_rejects above) and -2 when it is one but too short for its code.
int hostsimRejectReason(const fcRawFrameStruct* raw);

#endif
