// Internal to the host check kit: the frames it carries as wire bytes, what
// those bytes hold by the host contract (host/hostFrame.h), and the report
// that counts checks, prints one line per failure and, asked to, lists
// every check it ran grouped by host function.
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
    const char* shows;  // what the frame is there to expose; "" for a plain one
};

// The frames every check runs over: FC frames of several R_CTL and TYPE
// values, with CS_CTL, F_CTL, SEQ_ID, DF_CTL (and its network header),
// SEQ_CNT and Parameter set, ELS requests and replies, frames too short for
// a payload word; Ethernet frames untagged and with one or two VLAN tags,
// FCoE, runts, frames ending in a partial word.
const std::vector<WireFrame>& wireFrames();
// Ethernet bytes that are no frame (cut inside or right after their VLAN
// tags): the adapter must refuse them.
const std::vector<WireFrame>& refusedFrames();

// What the bytes hold, read the way the host contract defines it.
uint32_t wireWord(const WireFrame& frame, size_t byteOffset);  // big-endian
bool isEls(const WireFrame& frame);                            // R_CTL routing bits 2
size_t fcPayloadWords(const WireFrame& frame);
unsigned vlanTags(const WireFrame& frame);
size_t ethPayloadOffset(const WireFrame& frame);  // first byte after the EtherType
size_t ethPayloadWords(const WireFrame& frame);

// The frame's name, and what it exposes when it is there to expose something.
std::string frameLabel(const WireFrame& frame);

// A port as the saved trace prints it: "port 7", "port 2.7".
std::string portText(port_id_t port);

class Report {
public:
    enum class Mode { failures, verbose, list };
    explicit Report(Mode mode = Mode::failures) : mode_(mode) {}

    // Counts one check; when it failed, prints
    // "<function> on <frame>: returned <returned>, the library needs <needed>".
    bool check(bool ok, const std::string& function, const std::string& frame,
               const std::string& returned, const std::string& needed);
    // check() for numbers, printed in hexadecimal.
    bool equal(const std::string& function, const std::string& frame, uint64_t returned,
               uint64_t needed);
    // In list mode: every check, grouped by host function. Otherwise nothing.
    void printList() const;

    int passed = 0;
    int failed = 0;

private:
    struct Listed {
        std::string function, frame, needed;
    };
    Mode mode_;
    std::vector<Listed> listed_;
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

// Word `offset` of the matcher's view of the frame: wire words from offset
// 25, a partial last word padded with zero bytes; false past the end.
bool viewWord(const WireFrame& frame, uint32_t offset, uint32_t* word);
// Whether the rule matches the frame by the host contract; offsets below 25
// may appear only in comparisons whose mask is 0.
bool ruleMatches(const RegisterFrameEntry& rule, const WireFrame& frame);
// Each comparison of the rule: which word it reads and with what, and
// whether it passes.
std::string explainRule(const RegisterFrameEntry& rule, const WireFrame& frame);
// For a matcher answer that was wrong about word `offset`: where the host's
// matcher finds that word instead, or that it finds it in place (and so
// gets the named comparison wrong). Empty when nothing can be told.
std::string diagnose(fcRawFrameStruct* raw, const WireFrame& frame, uint32_t offset,
                     const char* comparison);

void checkFcAccessors(Report& report);
void checkEthernetWords(Report& report);
void checkMatcher(Report& report);       // the presets' rules
void checkMatcherRules(Report& report);  // every rule word the contract defines
void checkUtilities(Report& report);
void checkTraces(Report& report);
void checkStepIds(Report& report, uint32_t idsBefore);

}  // namespace hostcheck

#endif
