// Frame classes and the frame matcher that the host process supplies.
//
// The library only declares and calls these; the host defines every body
// (hostsim/ is the project's reference host; docs/integrating.md shows a
// minimal one, and the host check kit, hostcheck/hostCheck.h, checks a host
// against every statement below). Each comment says what the library passes
// and what it relies on; anything not stated is the host's choice.
//
// Calls come synchronously on the thread that called the trace API. The
// library keeps no pointer to a frame, a raw record or a returned word after
// the call returns. It never passes a null frame object (traceRx/traceTx
// return early on null), so the methods need not check `this`.
//
// Byte order: a frame's wire words are big-endian; every 32-bit value the
// host returns (header fields, payload and header words, rule words) is the
// numeric value of its wire word in the host's own native order. On a
// little-endian host PeekPayload(0) of a frame whose payload starts
// 45 00 00 54 points at the value 0x45000054, not at the bytes as received.
#ifndef TRACELIB_HOST_HOSTFRAME_H
#define TRACELIB_HOST_HOSTFRAME_H

#include <stdint.h>

// The host's raw frame record. Opaque to the library, which only passes
// pointers to it (to FrameUtil::FrameMatchesEntry).
struct fcRawFrameStruct;

// The port a frame came through, returned by value. h0 == 0xFFFF: (h1, h2)
// is a port pair, saved as " port h1.h2"; otherwise h0 is the port number,
// saved as " port h0", and h1, h2 are not read. A plain port 0xFFFF cannot be
// expressed.
struct port_id_t {
    uint16_t h0;
    uint16_t h1;
    uint16_t h2;
};

// One comparison of a rule: the word at `offset` (see RegisterFrameEntry)
// matches when (word & mask) == (value & mask). mask 0 switches it off.
struct RegisterFieldMatch { uint32_t mask; uint32_t offset; uint32_t value; };
// The range comparison: lo <= (word & mask) <= hi, unsigned. mask 0
// switches it off.
struct RegisterRangeMatch { uint32_t mask; uint32_t offset; uint32_t lo; uint32_t hi; };

// A frame filter's matching rule, judged only by FrameUtil::FrameMatchesEntry.
// The library zeroes all twenty words and sets only what a filter asks for;
// its presets set:
//   captureFcFrame   offset_from 1
//   captureEthFrame  offset_from 2
//   captureELS       offset_from 1; field_1 mask 0xF0000000, offset 25,
//                    value 0x20000000 (R_CTL routing bits 0010: an ELS frame)
// For the presets to work, a host matcher must give these words this meaning:
//   offset_from  1: FC frames only; 2: Ethernet frames only; 0: any frame.
//   offset       the index of a 32-bit word of the rule's view of the frame:
//                offset 25 is the frame's first wire word (FC: R_CTL << 24 |
//                D_ID), 26 the second, and so on through header and payload
//                as the bytes crossed the wire: an Ethernet frame's view
//                holds its MACs, VLAN tags, EtherType and payload without a
//                gap. A partial last word is in the view, its missing bytes
//                zero (a frame of 27 bytes has words 25 to 31). Offsets below
//                25 are the host's own (the reference host puts a descriptor
//                there). A word past the end fails the comparison whatever
//                its value and mask, zero included.
//   field_n, range  as RegisterFieldMatch and RegisterRangeMatch say; all
//                comparisons whose mask is non-zero must pass.
// The other words (reserved0, only_rejects, exact_reject, sof_mask) are
// never set by the library; a host may give them a meaning for filters of
// its own (hostsim/frameMatch.h documents the reference host's).
struct RegisterFrameEntry {              // 20 words, 80 bytes
    uint32_t reserved0[3];               // words 0-2
    RegisterFieldMatch field_1;          // words 3-5
    RegisterFieldMatch field_2;          // words 6-8
    RegisterFieldMatch field_3;          // words 9-11
    RegisterRangeMatch range;            // words 12-15
    uint32_t only_rejects;               // word 16
    uint32_t exact_reject;               // word 17
    uint32_t sof_mask;                   // word 18
    uint32_t offset_from;                // word 19
};

// An Ethernet frame: destination MAC, source MAC, up to two VLAN tags
// (TPID 0x8100, 0x88A8 or 0x9100 and a TCI), the EtherType, the payload; no
// FCS. The library sees it as 32-bit words:
//   header words  the bytes before the EtherType, from the first byte:
//                   0, 1, 2  destination and source MAC (always)
//                   3        the outer VLAN tag, TPID << 16 | TCI (tagged only)
//                   4        the inner VLAN tag (two tags only)
//                 The EtherType is in no header word: an untagged frame has
//                 header words 0-2 only.
//   payload words from the first byte after the EtherType: untagged at frame
//                 byte 14, one tag 18, two tags 22. Only whole words exist; a
//                 runt whose payload is shorter than 4 bytes has none.
// A frame that ends inside a VLAN tag or before the two EtherType bytes that
// follow its tags is not an Ethernet frame: the host drops it and never
// hands it to the library (the reference host's parser refuses it, the
// replay tool counts it as skipped, the host check kit needs the adapter to
// refuse it).
// The Ethernet preset saves header words 3 and 4 where they exist, then
// payload words from 0 on, three words in all.
class EthernetFrame {
public:
    // Read directly: passed to FrameUtil::FrameMatchesEntry. Must stay the
    // first member; the host owns what it points at.
    fcRawFrameStruct* raw_m;
    // Address of header word `word` (native value, see above), or null when
    // the frame has no such word. The library calls it with 3, then 4.
    uint32_t* PeekHeader(unsigned int word);
    // Address of payload word `word`, or null past the last whole payload
    // word. The library calls it with 0, 1, 2, ... until it has its words
    // or reaches index 2303, so null past the end is required.
    uint32_t* PeekPayload(unsigned int word);
    // Writes exactly 6 bytes, the destination MAC in wire order, to mac (a
    // place inside a trace record, not aligned).
    void Get_D_ID(unsigned char* mac);
    // Writes exactly 6 bytes, the source MAC in wire order.
    void Get_S_ID(unsigned char* mac);
    // The port the frame came through. traceRx records it; traceTx records
    // the caller's port instead when one is given.
    port_id_t GetOrigPortID();
};

// A Fibre Channel frame: the 24-byte FC-2 header (R_CTL first), then the
// payload; no SOF, EOF or CRC. Header words 0-5 are R_CTL|D_ID,
// CS_CTL|S_ID, TYPE|F_CTL, SEQ_ID|DF_CTL|SEQ_CNT, OX_ID|RX_ID, Parameter;
// payload word 0 starts at frame byte 24.
class fcFrame {
public:
    // As EthernetFrame::raw_m.
    fcRawFrameStruct* raw_m;
    // Stores the payload length in whole 32-bit words (a partial last word
    // does not count) and returns 0; non-zero means the length is unknown,
    // and the payload steps then mark their record as missing words. The
    // library presets *length to 0 and never passes null.
    int GetLengthWords(unsigned int* length);
    // Copies `count` payload words from byte offset `offset` of the payload
    // to dest and returns 0; non-zero when they are not all in the payload.
    // The library calls it only with offset 4 x word index, count 1 and
    // dest a word of a trace record, and only for an index below the length
    // GetLengthWords reported.
    int GetPayload(unsigned int offset, unsigned int count, unsigned int* dest);
    // Header fields, right-aligned, the other bits zero: R_CTL and TYPE 8
    // bits, D_ID and S_ID 24 bits, OX_ID and RX_ID 16 bits.
    uint32_t Get_R_CTL();
    uint32_t Get_D_ID();
    uint32_t Get_S_ID();
    uint32_t Get_TYPE();
    uint32_t Get_OX_ID();
    uint32_t Get_RX_ID();
    // As EthernetFrame::GetOrigPortID.
    port_id_t GetOrigPortID();
};

class FrameUtil {
public:
    // Non-zero when the frame matches the rule (see RegisterFrameEntry). The
    // library passes the frame object's raw_m, Ethernet and FC frames alike,
    // and the rule at the start of a TraceFrameFilter; neither is null. It
    // calls this once per filter, newest filter first, for every frame
    // traced, so it should read a few words and allocate nothing.
    static int FrameMatchesEntry(fcRawFrameStruct* frame, RegisterFrameEntry* entry);
};

#endif
