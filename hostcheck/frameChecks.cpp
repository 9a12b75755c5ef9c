// Every frame accessor the library calls, against the value the wire bytes
// hold (host/hostFrame.h gives the contract).
#include <stdio.h>
#include <string.h>

#include "checkKit.h"
#include "hostCheck.h"

namespace hostcheck {
namespace {

constexpr size_t kMacBytes = 6;
constexpr unsigned kFirstTagWord = 3;  // the header words the library peeks at
constexpr unsigned kSecondTagWord = 4;
constexpr uint8_t kCanary = 0xA5;

// h1 and h2 of a plain port are not read, so they may hold anything.
bool samePort(port_id_t a, port_id_t b)
{
    if (a.h0 != b.h0)
        return false;
    return a.h0 != 0xFFFF || (a.h1 == b.h1 && a.h2 == b.h2);
}

std::string wordAt(const uint32_t* p)
{
    return p ? hex(*p) : "null";
}

void checkPort(Report& report, const std::string& function, const WireFrame& wire, port_id_t port)
{
    report.check(samePort(port, wire.port), function, frameLabel(wire), portText(port),
                 portText(wire.port) + " (the port the adapter was given)");
}

void checkPayload(Report& report, fcFrame* frame, const WireFrame& wire)
{
    constexpr size_t kHeaderBytes = 24;
    size_t words = fcPayloadWords(wire);
    for (size_t i = 0; i <= words; ++i) {
        unsigned dest[2] = {0, kCanary};
        int status = frame->GetPayload(unsigned(4 * i), 1, dest);
        std::string call = "fcFrame::GetPayload(" + std::to_string(4 * i) + ", 1)";
        if (i == words) {
            report.check(status != 0, call, frameLabel(wire), "0", "non-zero (no such word)");
            continue;
        }
        size_t at = kHeaderBytes + 4 * i;
        uint32_t needed = wireWord(wire, at);
        report.check(status == 0 && dest[0] == needed && dest[1] == kCanary, call, frameLabel(wire),
                     std::to_string(status) + " with " + hex(dest[0]) +
                         (dest[1] == kCanary ? "" : " and a second word written"),
                     "0 with " + hex(needed) + " (frame bytes " + std::to_string(at) + "-" +
                         std::to_string(at + 3) + ") and one word written");
    }
}

// One header field: what it is, where it lies, and the value the bytes hold.
void checkField(Report& report, const WireFrame& wire, const char* function, uint32_t got,
                const char* field, uint32_t needed)
{
    report.check(got == needed, function, frameLabel(wire), hex(got),
                 hex(needed) + " (" + field + ", nothing else)");
}

void checkFc(Report& report, fcFrame* frame, const WireFrame& wire)
{
    uint32_t word0 = wireWord(wire, 0);
    uint32_t exchange = wireWord(wire, 16);
    checkField(report, wire, "fcFrame::Get_R_CTL()", frame->Get_R_CTL(),
               "R_CTL, the top byte of header word 0", word0 >> 24);
    checkField(report, wire, "fcFrame::Get_D_ID()", frame->Get_D_ID(),
               "D_ID, the low 24 bits of header word 0", word0 & 0xFFFFFF);
    checkField(report, wire, "fcFrame::Get_S_ID()", frame->Get_S_ID(),
               "S_ID, the low 24 bits of header word 1 without CS_CTL",
               wireWord(wire, 4) & 0xFFFFFF);
    checkField(report, wire, "fcFrame::Get_TYPE()", frame->Get_TYPE(),
               "TYPE, the top byte of header word 2 without F_CTL", wireWord(wire, 8) >> 24);
    checkField(report, wire, "fcFrame::Get_OX_ID()", frame->Get_OX_ID(),
               "OX_ID, the top half of header word 4", exchange >> 16);
    checkField(report, wire, "fcFrame::Get_RX_ID()", frame->Get_RX_ID(),
               "RX_ID, the low half of header word 4", exchange & 0xFFFF);
    checkPort(report, "fcFrame::GetOrigPortID()", wire, frame->GetOrigPortID());
    unsigned length = 0;
    int status = frame->GetLengthWords(&length);
    size_t words = fcPayloadWords(wire);
    report.check(status == 0 && length == words, "fcFrame::GetLengthWords()", frameLabel(wire),
                 std::to_string(status) + " with " + std::to_string(length),
                 "0 with " + std::to_string(words) +
                     " (whole payload words from frame byte 24, optional headers included)");
    checkPayload(report, frame, wire);
}

void checkMac(Report& report, EthernetFrame* frame, const WireFrame& wire, bool destination)
{
    uint8_t mac[kMacBytes + 1];
    memset(mac, kCanary, sizeof mac);
    if (destination)
        frame->Get_D_ID(mac);
    else
        frame->Get_S_ID(mac);
    const uint8_t* needed = wire.bytes.data() + (destination ? 0 : kMacBytes);
    auto text = [](const uint8_t* bytes, size_t count) {
        std::string out;
        char piece[8];
        for (size_t i = 0; i < count; ++i) {
            snprintf(piece, sizeof piece, "%s%02x", i ? ":" : "", bytes[i]);
            out += piece;
        }
        return out;
    };
    bool ok = memcmp(mac, needed, kMacBytes) == 0 && mac[kMacBytes] == kCanary;
    report.check(ok, destination ? "EthernetFrame::Get_D_ID()" : "EthernetFrame::Get_S_ID()",
                 frameLabel(wire), text(mac, kMacBytes + 1) + " (7 bytes shown)",
                 text(needed, kMacBytes) + " and the 7th byte untouched");
}

void checkPeek(Report& report, const std::string& call, const WireFrame& wire, const uint32_t* got,
               bool exists, size_t byteOffset, const std::string& why)
{
    if (!exists) {
        report.check(got == nullptr, call, frameLabel(wire), wordAt(got), "null (" + why + ")");
        return;
    }
    uint32_t needed = wireWord(wire, byteOffset);
    report.check(got && *got == needed, call, frameLabel(wire), wordAt(got),
                 hex(needed) + " (frame bytes " + std::to_string(byteOffset) + "-" +
                     std::to_string(byteOffset + 3) + ")");
}

void checkEthernet(Report& report, EthernetFrame* frame, const WireFrame& wire)
{
    checkMac(report, frame, wire, true);
    checkMac(report, frame, wire, false);
    checkPort(report, "EthernetFrame::GetOrigPortID()", wire, frame->GetOrigPortID());
    unsigned tags = vlanTags(wire);
    checkPeek(report, "EthernetFrame::PeekHeader(3)", wire, frame->PeekHeader(kFirstTagWord),
              tags >= 1, 12, "no VLAN tag: the EtherType is not a header word");
    checkPeek(report, "EthernetFrame::PeekHeader(4)", wire, frame->PeekHeader(kSecondTagWord),
              tags >= 2, 16, "no second VLAN tag: the EtherType is not a header word");
    size_t first = ethPayloadOffset(wire);
    size_t words = ethPayloadWords(wire);
    for (size_t i = 0; i <= words; ++i) {
        std::string call = "EthernetFrame::PeekPayload(" + std::to_string(i) + ")";
        checkPeek(report, call, wire, frame->PeekPayload(unsigned(i)), i < words, first + 4 * i,
                  "past the last whole payload word");
    }
}

}  // namespace

void checkFcAccessors(Report& report)
{
    for (const WireFrame& wire : wireFrames()) {
        if (wire.kind != Kind::fc)
            continue;
        HostFrame frame(wire, report);
        if (frame.fc)
            checkFc(report, frame.fc, wire);
    }
}

void checkEthernetWords(Report& report)
{
    for (const WireFrame& wire : refusedFrames()) {
        EthernetFrame* frame =
            hostcheckMakeEthernetFrame(wire.bytes.data(), wire.bytes.size(), wire.port);
        report.check(frame == nullptr, "hostcheckMakeEthernetFrame", frameLabel(wire), "a frame",
                     "null (cut before its EtherType: the host drops it, untraced)");
        if (frame)
            hostcheckFreeEthernetFrame(frame);
    }
    for (const WireFrame& wire : wireFrames()) {
        if (wire.kind != Kind::ethernet)
            continue;
        HostFrame frame(wire, report);
        if (frame.ethernet)
            checkEthernet(report, frame.ethernet, wire);
    }
}

}  // namespace hostcheck
