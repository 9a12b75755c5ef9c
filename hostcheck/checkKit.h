// Internal to the host check kit: the frames it carries as wire bytes, what
// those bytes hold by the host contract (host/hostFrame.h), and the report
// that counts checks and prints one line per failure.
#ifndef TRACELIB_HOSTCHECK_CHECKKIT_H
#define TRACELIB_HOSTCHECK_CHECKKIT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "hostFrame.h"

namespace hostcheck {

enum class Kind { fc, ethernet };

struct WireFrame {
    const char* name;
    Kind kind;
    std::vector<uint8_t> bytes;
    port_id_t port;
};

// The frames every check runs over: FC frames of several R_CTL and TYPE
// values, ELS requests and replies, FCP, FC frames too short for a payload
// word, Ethernet frames untagged and with one or two VLAN tags, FCoE, runts.
const std::vector<WireFrame>& wireFrames();

// What the bytes hold, read the way the host contract defines it.
uint32_t wireWord(const WireFrame& frame, size_t byteOffset);  // big-endian
bool isEls(const WireFrame& frame);                            // R_CTL routing bits 2
size_t fcPayloadWords(const WireFrame& frame);
unsigned vlanTags(const WireFrame& frame);
size_t ethPayloadOffset(const WireFrame& frame);  // first byte after the EtherType
size_t ethPayloadWords(const WireFrame& frame);

class Report {
public:
    // Counts one check; when it failed, prints
    // "<function> on <frame>: returned <returned>, the library needs <needed>".
    bool check(bool ok, const std::string& function, const std::string& frame,
               const std::string& returned, const std::string& needed);
    // check() for numbers, printed in hexadecimal.
    bool equal(const std::string& function, const std::string& frame, uint64_t returned,
               uint64_t needed);
    int passed = 0;
    int failed = 0;
};

// A frame object made by the host's adapter, released when it goes out of
// scope. null when the adapter returned none (already reported).
class HostFrame {
public:
    HostFrame(const WireFrame& wire, Report& report);
    ~HostFrame();
    HostFrame(const HostFrame&) = delete;
    HostFrame& operator=(const HostFrame&) = delete;

    fcFrame* fc = nullptr;
    EthernetFrame* ethernet = nullptr;
    fcRawFrameStruct* raw() const;
    bool made() const { return fc || ethernet; }
};

std::string hex(uint64_t value);

void checkFcAccessors(Report& report);
void checkEthernetWords(Report& report);
void checkMatcher(Report& report);
void checkUtilities(Report& report);
void checkTraces(Report& report);

}  // namespace hostcheck

#endif
