// TraceEthDmacSmac and TraceEthData, on frames the reference host
// parsed from wire bytes.
#include <gtest/gtest.h>

#include <memory>

#include "hostsim.h"
#include "stepTestUtil.h"
#include "wire.h"

namespace {

std::unique_ptr<HostEthFrame> parseEth(const Bytes& bytes, port_id_t port = hostsimPort(4))
{
    std::unique_ptr<HostEthFrame> frame(new HostEthFrame(bytes, port));
    EXPECT_TRUE(frame->ok()) << hostsimStatusText(frame->status);
    return frame;
}

const unsigned char* recordBytes(const TraceEntry& e)
{
    return reinterpret_cast<const unsigned char*>(&e);
}

const char* const kAddresses = " dmac 0e:fc:00:01:0a:0b smac 00:c0:dd:12:34:56";

struct Words {
    uint32_t w1, w2, w3;
};

Words dataOf(const Bytes& bytes)
{
    auto frame = parseEth(bytes);
    TraceEthData step;
    TraceEntry e;
    e.id = 3;
    e.flags = TRACE_ENTRY_RX;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.id, 3);
    EXPECT_EQ(e.flags, TRACE_ENTRY_RX);
    return Words{e.word1, e.word2, e.word3};
}

}  // namespace

// ---------------------------------------------------------------------------
// TraceEthDmacSmac

TEST(EthDmacSmac, CapturesBothAddressesAsBytes)
{
    auto frame = parseEth(ethFrame({}, 0x0800, ipv4Ping()));
    TraceEthDmacSmac step;
    TraceEntry e;
    e.id = 2;
    e.flags = TRACE_ENTRY_TX | TRACE_ENTRY_BEGIN;
    step.capture(&e, &frame->frame, nullptr);
    // Record bytes 4 to 9: the destination, 10 to 15: the source, in wire order.
    const unsigned char expected[12] = {0x0e, 0xfc, 0x00, 0x01, 0x0a, 0x0b,
                                        0x00, 0xc0, 0xdd, 0x12, 0x34, 0x56};
    EXPECT_EQ(memcmp(recordBytes(e) + 4, expected, 12), 0);
    EXPECT_EQ(e.id, 2) << "id is not touched";
    EXPECT_EQ(e.flags, TRACE_ENTRY_TX | TRACE_ENTRY_BEGIN) << "flags are not touched";
    EXPECT_EQ(formatted(step, e), std::string("tx") + kAddresses);
}

TEST(EthDmacSmac, TaggedFramesGiveTheSameAddresses)
{
    TraceEthDmacSmac step;
    for (const Bytes& bytes :
         {ethFrame({vlanTag(0x8100, 0x0064)}, 0x0800, ipv4Ping()),
          ethFrame({vlanTag(0x88a8, 0x000a), vlanTag(0x8100, 0x0064)}, 0x0800, ipv4Ping()),
          ethFrame({}, 0x8906, fcoeStart())}) {
        auto frame = parseEth(bytes);
        TraceEntry e;
        e.flags = TRACE_ENTRY_RX;
        step.capture(&e, &frame->frame, nullptr);
        EXPECT_EQ(formatted(step, e), std::string("rx") + kAddresses);
    }
}

TEST(EthDmacSmac, CaptureReplacesEveryDataWord)
{
    auto frame = parseEth(ethFrame({}, 0x0800, ipv4Ping()));
    TraceEthDmacSmac step;
    TraceEntry e;
    e.word1 = e.word2 = e.word3 = 0xffffffff;
    port_id_t port = hostsimPort(8);
    TraceStep& base = step;
    base.capture(&e, &frame->frame, &port);
    EXPECT_EQ(formatted(step, e), std::string("tx") + kAddresses);
}

TEST(EthDmacSmac, FormatPrintsTwoDigitsPerByte)
{
    TraceEthDmacSmac step;
    TraceEntry e;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&e);
    const unsigned char macs[12] = {0x00, 0x01, 0x0f, 0x10, 0xa0, 0xff,
                                    0xf0, 0x0a, 0x99, 0x5b, 0x00, 0x07};
    memcpy(bytes + 4, macs, 12);
    EXPECT_EQ(formatted(step, e), "tx dmac 00:01:0f:10:a0:ff smac f0:0a:99:5b:00:07");
    e.flags = TRACE_ENTRY_RX;
    EXPECT_EQ(formatted(step, e), "rx dmac 00:01:0f:10:a0:ff smac f0:0a:99:5b:00:07");
    e.flags = TRACE_ENTRY_TX;
    EXPECT_EQ(formatted(step, e), "tx dmac 00:01:0f:10:a0:ff smac f0:0a:99:5b:00:07");
    e.flags = 0xffff & ~TRACE_ENTRY_RX;
    EXPECT_EQ(formatted(step, e), "tx dmac 00:01:0f:10:a0:ff smac f0:0a:99:5b:00:07");
    TraceEntry zero;
    EXPECT_EQ(formatted(step, zero), "tx dmac 00:00:00:00:00:00 smac 00:00:00:00:00:00");
}

TEST(EthDmacSmac, FormatWritesInsteadOfAppending)
{
    TraceEthDmacSmac step;
    TraceEntry e;
    char buf[100];
    strcpy(buf, "left over");
    step.format(&e, buf, sizeof buf);
    EXPECT_STREQ(buf, "tx dmac 00:00:00:00:00:00 smac 00:00:00:00:00:00");
}

TEST(EthDmacSmac, BoundedAtEverySize)
{
    auto frame = parseEth(ethFrame({}, 0x0800, ipv4Ping()));
    TraceEthDmacSmac step;
    TraceEntry e;
    e.flags = TRACE_ENTRY_RX;
    step.capture(&e, &frame->frame, nullptr);
    expectBoundedAtEverySize(step, e, std::string("rx") + kAddresses);
}

// ---------------------------------------------------------------------------
// TraceEthData

TEST(EthData, UntaggedFrameRecordsPayloadWordsZeroToTwo)
{
    Words w = dataOf(ethFrame({}, 0x0800, ipv4Ping()));
    EXPECT_EQ(w.w1, 0x45000054u);
    EXPECT_EQ(w.w2, 0x1c464000u);
    EXPECT_EQ(w.w3, 0x4001a05bu);
}

TEST(EthData, FcoeFrameRecordsTheTagAndTheEncapsulationHeader)
{
    // FCoE on VLAN 101, priority 3: tag, then the version and reserved
    // words of the FCoE header; the SOF and the FC frame come later.
    Bytes payload = join({fcoeStart(), plogiRequest()});
    Words w = dataOf(ethFrame({vlanTag(0x8100, 0x6065)}, 0x8906, payload));
    EXPECT_EQ(w.w1, 0x81006065u);
    EXPECT_EQ(w.w2, 0u);
    EXPECT_EQ(w.w3, 0u);
    // Untagged, the fourth payload word holds the SOF and the start of the
    // FC header; the step records only the first three.
    Words u = dataOf(ethFrame({}, 0x8906, payload));
    EXPECT_EQ(u.w1 | u.w2 | u.w3, 0u);
}

TEST(EthData, SingleTaggedFrameRecordsTheTagThenPayloadWords)
{
    Words w = dataOf(ethFrame({vlanTag(0x8100, 0x0064)}, 0x0800, ipv4Ping()));
    EXPECT_EQ(w.w1, 0x81000064u) << "header word 3: the tag";
    EXPECT_EQ(w.w2, 0x45000054u);
    EXPECT_EQ(w.w3, 0x1c464000u);
}

TEST(EthData, DoubleTaggedFrameRecordsBothTagsThenPayloadWordZero)
{
    Words w = dataOf(
        ethFrame({vlanTag(0x88a8, 0x000a), vlanTag(0x8100, 0x0064)}, 0x0800, ipv4Ping()));
    EXPECT_EQ(w.w1, 0x88a8000au) << "header word 3: the outer tag";
    EXPECT_EQ(w.w2, 0x81000064u) << "header word 4: the inner tag";
    EXPECT_EQ(w.w3, 0x45000054u);
}

TEST(EthData, ShortFramesLeaveTheRestZero)
{
    Words one = dataOf(ethFrame({}, 0x0800, {0x45, 0x00, 0x00, 0x54, 0x1c, 0x46}));
    EXPECT_EQ(one.w1, 0x45000054u) << "one whole payload word";
    EXPECT_EQ(one.w2, 0u) << "a partial word is not a word";
    EXPECT_EQ(one.w3, 0u);

    Words two = dataOf(ethFrame({}, 0x0800, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(two.w1, 0x01020304u);
    EXPECT_EQ(two.w2, 0x05060708u);
    EXPECT_EQ(two.w3, 0u);

    Words none = dataOf(ethFrame({}, 0x0800, {}));
    EXPECT_EQ(none.w1 | none.w2 | none.w3, 0u);

    Words tagOnly = dataOf(ethFrame({vlanTag(0x8100, 0x0fff)}, 0x0800, {0xaa, 0xbb}));
    EXPECT_EQ(tagOnly.w1, 0x81000fffu);
    EXPECT_EQ(tagOnly.w2, 0u);
    EXPECT_EQ(tagOnly.w3, 0u);

    Words tagsOnly =
        dataOf(ethFrame({vlanTag(0x9100, 0x0001), vlanTag(0x8100, 0x0002)}, 0x0800, {}));
    EXPECT_EQ(tagsOnly.w1, 0x91000001u);
    EXPECT_EQ(tagsOnly.w2, 0x81000002u);
    EXPECT_EQ(tagsOnly.w3, 0u);
}

TEST(EthData, UnparsableFrameRecordsZeros)
{
    HostEthFrame frame(Bytes(9, 0x42), hostsimPort(1));
    ASSERT_FALSE(frame.ok());
    TraceEthData data;
    TraceEthDmacSmac addresses;
    TraceEntry d;
    data.capture(&d, &frame.frame, nullptr);
    EXPECT_EQ(d.word1 | d.word2 | d.word3, 0u) << "the scan ends although no word is found";
    TraceEntry a;
    addresses.capture(&a, &frame.frame, nullptr);
    EXPECT_EQ(formatted(addresses, a), "tx dmac 00:00:00:00:00:00 smac 00:00:00:00:00:00");
}

TEST(EthData, CaptureThroughTheBaseInterface)
{
    auto frame = parseEth(ethFrame({vlanTag(0x8100, 0x0064)}, 0x0800, ipv4Ping()));
    TraceEthData step;
    TraceStep& base = step;
    TraceEntry e;
    port_id_t port = hostsimPortPair(1, 2);
    base.capture(&e, &frame->frame, &port);
    EXPECT_EQ(e.word1, 0x81000064u);
    EXPECT_EQ(e.word2, 0x45000054u);
    EXPECT_EQ(e.word3, 0x1c464000u);
}

TEST(EthData, FormatPrintsThreeWordsEachFollowedByABlank)
{
    TraceEthData step;
    TraceEntry e;
    e.word1 = 1;
    e.word2 = 2;
    e.word3 = 3;
    EXPECT_EQ(formatted(step, e), "00000001 00000002 00000003 ");
    e.word1 = 0x81000064;
    e.word2 = 0xffffffff;
    e.word3 = 0;
    e.flags = TRACE_ENTRY_RX | TRACE_ENTRY_END;
    std::string text = formatted(step, e);
    EXPECT_EQ(text, "81000064 ffffffff 00000000 ");
    EXPECT_EQ(text.size(), 27u);
    char buf[100];
    strcpy(buf, "left over");
    step.format(&e, buf, sizeof buf);
    EXPECT_STREQ(buf, "81000064 ffffffff 00000000 ") << "starts from an empty text";
}

TEST(EthData, CutBelowTwentyEight)
{
    TraceEthData step;
    TraceEntry e;
    e.word1 = 0x45000054;
    e.word2 = 0x1c464000;
    e.word3 = 0x4001a05b;
    expectBoundedAtEverySize(step, e, "45000054 1c464000 4001a05b ");
    char buf[40];
    buf[0] = '\0';
    step.format(&e, buf, 27);
    EXPECT_STREQ(buf, "45000054 1c464000 4001a05b");
    buf[0] = '\0';
    step.format(&e, buf, 28);
    EXPECT_STREQ(buf, "45000054 1c464000 4001a05b ");
    buf[0] = '\0';
    step.format(&e, buf, 12);
    EXPECT_STREQ(buf, "45000054 1c");
}
