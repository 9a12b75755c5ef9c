// Frame classes and the frame matcher that the host process supplies.
//
// The library only declares and calls these; the host defines every body
// (see hostsim/ for the project's reference host). The library keeps no
// pointer to a frame after a call returns.
#ifndef TRACELIB_HOST_HOSTFRAME_H
#define TRACELIB_HOST_HOSTFRAME_H

#include <stdint.h>

struct fcRawFrameStruct;                 // defined by the host; opaque to the library

struct port_id_t {                       // h0 == 0xFFFF: (h1, h2) is a port pair
    uint16_t h0;                         // otherwise h0 is the port number
    uint16_t h1;
    uint16_t h2;
};

struct RegisterFieldMatch { uint32_t mask; uint32_t offset; uint32_t value; };
struct RegisterRangeMatch { uint32_t mask; uint32_t offset; uint32_t lo; uint32_t hi; };

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

class EthernetFrame {
public:
    fcRawFrameStruct* raw_m;             // first member, read by the library
    uint32_t* PeekHeader(unsigned int word);
    uint32_t* PeekPayload(unsigned int word);
    void Get_D_ID(unsigned char* mac);   // writes 6 bytes
    void Get_S_ID(unsigned char* mac);   // writes 6 bytes
    port_id_t GetOrigPortID();
};

class fcFrame {
public:
    fcRawFrameStruct* raw_m;             // first member, read by the library
    int GetLengthWords(unsigned int* length);
    int GetPayload(unsigned int offset, unsigned int count, unsigned int* dest);
    uint32_t Get_R_CTL();
    uint32_t Get_D_ID();
    uint32_t Get_S_ID();
    uint32_t Get_TYPE();
    uint32_t Get_OX_ID();
    uint32_t Get_RX_ID();
    port_id_t GetOrigPortID();
};

class FrameUtil {
public:
    static int FrameMatchesEntry(fcRawFrameStruct* frame, RegisterFrameEntry* entry);
};

#endif
