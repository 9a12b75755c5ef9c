#include "frameMatch.h"

#include "frameFilter.h"

namespace {

constexpr int kNotReject = -1;
constexpr int kReasonMissing = -2;
constexpr unsigned kPayloadWord = kHostsimFcHeaderBytes / 4;

bool readWord(const fcRawFrameStruct* raw, uint32_t offset, uint32_t* word)
{
    if (offset >= raw->record[HOSTSIM_D_VALID_WORDS])
        return false;
    *word = raw->record[offset];
    return true;
}

bool kindMatches(const fcRawFrameStruct* raw, uint32_t offsetFrom)
{
    HostsimFrameKind kind = hostsimKind(raw);
    if (kind == HOSTSIM_KIND_NONE)
        return false;
    switch (offsetFrom) {
    case TraceFrameFilter::kAnyFrame: return true;
    case TraceFrameFilter::kFcFrames: return kind == HOSTSIM_KIND_FC;
    case TraceFrameFilter::kEthernetFrames: return kind == HOSTSIM_KIND_ETHERNET;
    default: return false;
    }
}

bool fieldMatches(const fcRawFrameStruct* raw, const RegisterFieldMatch& field)
{
    if (field.mask == 0)
        return true;
    uint32_t word = 0;
    return readWord(raw, field.offset, &word) && (word & field.mask) == (field.value & field.mask);
}

bool rangeMatches(const fcRawFrameStruct* raw, const RegisterRangeMatch& range)
{
    if (range.mask == 0)
        return true;
    uint32_t word = 0;
    if (!readWord(raw, range.offset, &word))
        return false;
    uint32_t masked = word & range.mask;
    return range.lo <= masked && masked <= range.hi;
}

// Payload byte i of an FC record, or -1 when the payload is shorter.
int payloadByte(const fcRawFrameStruct* raw, unsigned i)
{
    if (i >= raw->record[HOSTSIM_D_PAYLOAD_BYTES])
        return -1;
    return hostsimFrameByte(raw, kHostsimFcHeaderBytes + i);
}

bool rejectMatches(const fcRawFrameStruct* raw, const RegisterFrameEntry& rule)
{
    if (rule.only_rejects == 0)
        return true;
    int reason = hostsimRejectReason(raw);
    if (reason == kNotReject)
        return false;
    if (rule.exact_reject == 0)
        return true;
    return reason == static_cast<int>(rule.exact_reject & 0xFF);
}

bool sofMatches(const fcRawFrameStruct* raw, uint32_t sofMask)
{
    if (sofMask == 0)
        return true;
    uint32_t sof = raw->record[HOSTSIM_D_SOF];
    return sof != HOSTSIM_SOF_NONE && sof < 32 && (sofMask >> sof) & 1u;
}

}  // namespace

int hostsimRejectReason(const fcRawFrameStruct* raw)
{
    if (hostsimKind(raw) != HOSTSIM_KIND_FC)
        return kNotReject;
    uint32_t rctl = raw->record[kHostsimDescriptorWords] >> 24;
    if (rctl == 0x23 && payloadByte(raw, 0) == 0x01) {
        int reason = payloadByte(raw, 5);
        return reason < 0 ? kReasonMissing : reason;
    }
    if (rctl == 0x85) {
        int reason = payloadByte(raw, 1);
        return reason < 0 ? kReasonMissing : reason;
    }
    if (rctl == 0xC2 || rctl == 0xC3)
        return static_cast<int>(raw->record[kHostsimDescriptorWords + kPayloadWord - 1] >> 16 & 0xFF);
    return kNotReject;
}

int FrameUtil::FrameMatchesEntry(fcRawFrameStruct* frame, RegisterFrameEntry* entry)
{
    if (!frame || !entry)
        return 0;
    const RegisterFrameEntry& rule = *entry;
    return kindMatches(frame, rule.offset_from) && fieldMatches(frame, rule.field_1) &&
           fieldMatches(frame, rule.field_2) && fieldMatches(frame, rule.field_3) &&
           rangeMatches(frame, rule.range) && rejectMatches(frame, rule) &&
           sofMatches(frame, rule.sof_mask);
}
