#include "floors.h"

#include <stdio.h>
#include <sys/time.h>
#include <syslog.h>

#include "hostFrame.h"

namespace {

// The record flags and step ids of the trace format, as the hand-written
// code would define them for itself.
constexpr uint16_t kBegin = 0x0001;
constexpr uint16_t kEnd = 0x0002;
constexpr uint16_t kPort = 0x0008;
constexpr uint16_t kPortPair = 0x0010;
constexpr uint16_t kRx = 0x0020;
constexpr uint16_t kTx = 0x0040;

constexpr uint16_t kHeaderId = 1;
constexpr uint16_t kMacId = 2;
constexpr uint16_t kDataId = 3;
constexpr uint16_t kElsId = 4;
constexpr uint16_t kIdentifierId = 5;
constexpr uint16_t kEventId = 6;

constexpr int kTracePriority = LOG_LOCAL0 | LOG_INFO;

// The opening record: the time of day and the port, plain or a pair.
HandRecord* openTrace(HandRing& ring, const port_id_t& port, struct timeval* now)
{
    gettimeofday(now, nullptr);
    HandRecord* record = ring.take();
    record->id = kIdentifierId;
    record->word1 = static_cast<uint32_t>(now->tv_sec);
    record->word2 = static_cast<uint32_t>(now->tv_usec);
    if (port.h0 == 0xFFFF) {
        record->flags = kBegin | kPortPair;
        record->word3 = static_cast<uint32_t>(port.h1) << 16 | port.h2;
    } else {
        record->flags = kBegin | kPort;
        record->word3 = port.h0;
    }
    return record;
}

HandRecord* storeFcHeader(HandRing& ring, fcFrame* frame, uint16_t flags)
{
    uint32_t rCtl = frame->Get_R_CTL();
    uint32_t dId = frame->Get_D_ID();
    uint32_t sId = frame->Get_S_ID();
    uint32_t type = frame->Get_TYPE();
    uint32_t oxId = frame->Get_OX_ID();
    uint32_t rxId = frame->Get_RX_ID();
    HandRecord* record = ring.take();
    record->id = kHeaderId;
    record->flags = flags;
    record->word1 = rCtl << 24 | dId;
    record->word2 = type << 24 | sId;
    record->word3 = oxId << 16 | (rxId & 0xFFFF);
    return record;
}

}  // namespace

int floorClock()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<int>(now.tv_usec);
}

int floorFcRx(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule)
{
    if (FrameUtil::FrameMatchesEntry(frame->raw_m, rule) == 0)
        return 0;
    struct timeval now;
    openTrace(ring, frame->GetOrigPortID(), &now);
    storeFcHeader(ring, frame, kRx | kEnd);
    return 2;
}

int floorFcTx(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule, const port_id_t& port)
{
    if (FrameUtil::FrameMatchesEntry(frame->raw_m, rule) == 0)
        return 0;
    struct timeval now;
    openTrace(ring, port, &now);
    storeFcHeader(ring, frame, kTx | kEnd);
    return 2;
}

int floorElsRx(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule)
{
    if (FrameUtil::FrameMatchesEntry(frame->raw_m, rule) == 0)
        return 0;
    struct timeval now;
    openTrace(ring, frame->GetOrigPortID(), &now);
    storeFcHeader(ring, frame, kRx);
    unsigned int words[3] = {0, 0, 0};
    frame->GetPayload(0, 3, words);
    HandRecord* record = ring.take();
    record->id = kElsId;
    record->flags = kRx | kEnd;
    record->word1 = words[0];
    record->word2 = words[1];
    record->word3 = words[2];
    return 3;
}

int floorEthRx(HandRing& ring, EthernetFrame* frame, RegisterFrameEntry* rule)
{
    if (FrameUtil::FrameMatchesEntry(frame->raw_m, rule) == 0)
        return 0;
    struct timeval now;
    openTrace(ring, frame->GetOrigPortID(), &now);

    HandRecord* record = ring.take();
    unsigned char* bytes = reinterpret_cast<unsigned char*>(record);
    frame->Get_D_ID(bytes + 4);
    frame->Get_S_ID(bytes + 10);
    record->id = kMacId;
    record->flags = kRx;

    uint32_t words[3] = {0, 0, 0};
    int filled = 0;
    if (uint32_t* p = frame->PeekHeader(3))
        words[filled++] = *p;
    if (uint32_t* p = frame->PeekHeader(4))
        words[filled++] = *p;
    for (unsigned int i = 0; filled < 3; i++) {
        uint32_t* p = frame->PeekPayload(i);
        if (p == nullptr)
            break;
        words[filled++] = *p;
    }
    record = ring.take();
    record->id = kDataId;
    record->flags = kRx | kEnd;
    record->word1 = words[0];
    record->word2 = words[1];
    record->word3 = words[2];
    return 3;
}

int floorNoMatch(fcFrame* frame, RegisterFrameEntry* rules, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (FrameUtil::FrameMatchesEntry(frame->raw_m, &rules[i]) != 0)
            return 1;
    return 0;
}

int floorDeviceEvent(HandRing& ring, uint32_t address, const WorldWideName& name, int port)
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    HandRecord* record = ring.take();
    record->id = kIdentifierId;
    record->flags = kBegin | kPort;
    record->word1 = static_cast<uint32_t>(now.tv_sec);
    record->word2 = static_cast<uint32_t>(now.tv_usec);
    record->word3 = static_cast<uint32_t>(port);
    record = ring.take();
    record->id = kEventId;
    record->flags = kEnd;
    record->word1 = name.word_m[0];
    record->word2 = name.word_m[1];
    record->word3 = address;
    return 2;
}

int floorManual(HandRing& ring, const uint32_t first[3], const uint32_t second[3])
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    HandRecord* record = ring.take();
    record->id = kIdentifierId;
    record->flags = kBegin;
    record->word1 = static_cast<uint32_t>(now.tv_sec);
    record->word2 = static_cast<uint32_t>(now.tv_usec);
    record->word3 = 0;
    record = ring.take();
    record->id = kHeaderId;
    record->flags = 0;
    record->word1 = first[0];
    record->word2 = first[1];
    record->word3 = first[2];
    record = ring.take();
    record->id = kHeaderId;
    record->flags = kEnd;
    record->word1 = second[0];
    record->word2 = second[1];
    record->word3 = second[2];
    return 3;
}

// The same line the library mirrors: the identifier's text, then the FC
// header's, each followed by a blank.
int floorFcRxMirrored(HandRing& ring, fcFrame* frame, RegisterFrameEntry* rule, char* line)
{
    if (FrameUtil::FrameMatchesEntry(frame->raw_m, rule) == 0)
        return 0;
    struct timeval now;
    HandRecord* opening = openTrace(ring, frame->GetOrigPortID(), &now);
    HandRecord* header = storeFcHeader(ring, frame, kRx | kEnd);

    Timeval time(static_cast<int32_t>(now.tv_sec), static_cast<int32_t>(now.tv_usec));
    TimevalString timeText(time);
    snprintf(line, kFloorLineSize,
             "%s port %d rx r_ctl %2.2x d_id %6.6x s_id %6.6x type %2.2x ox_id %4.4x "
             "rx_id %4.4x ",
             timeText.text_m, static_cast<int>(opening->word3), header->word1 >> 24,
             header->word1 & 0xFFFFFF, header->word2 & 0xFFFFFF, header->word2 >> 24,
             header->word3 >> 16, header->word3 & 0xFFFF);
    syslog(kTracePriority, "%s", line);
    return 2;
}
