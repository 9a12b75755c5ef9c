// TraceFcHeader and TraceFcPayload, on frames the reference host
// parsed from wire bytes.
#include <gtest/gtest.h>

#include <memory>

#include "hostsim.h"
#include "stepTestUtil.h"
#include "wire.h"

namespace {

std::unique_ptr<HostFcFrame> parseFc(const Bytes& bytes, port_id_t port = hostsimPort(3))
{
    std::unique_ptr<HostFcFrame> frame(new HostFcFrame(bytes, port));
    EXPECT_TRUE(frame->ok()) << hostsimStatusText(frame->status);
    return frame;
}

// An entry as a buffer hands it out: all zero.
TraceEntry fresh() { return TraceEntry(); }

std::string payloadText(const TracePayloadWord (&selectors)[3], const TraceEntry& e)
{
    const uint32_t words[3] = {e.word1, e.word2, e.word3};
    std::string out;
    for (int k = 0; k < 3; ++k) {
        if (!selectors[k].valid)
            continue;
        char piece[20];
        snprintf(piece, sizeof piece, k == 0 ? "pld %d %8.8x" : " pld %d %8.8x",
                 selectors[k].index, words[k]);
        out += piece;
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// TraceFcHeader

TEST(FcHeader, CapturesThePlogiHeader)
{
    auto frame = parseFc(plogiRequest());
    TraceFcHeader step;
    TraceEntry e = fresh();
    e.id = 77;
    e.flags = TRACE_ENTRY_RX;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0x22fffffcu) << "R_CTL over D_ID";
    EXPECT_EQ(e.word2, 0x010000e8u) << "TYPE over S_ID";
    EXPECT_EQ(e.word3, 0x1234ffffu) << "OX_ID over RX_ID";
    EXPECT_EQ(e.id, 77) << "id is not touched";
    EXPECT_EQ(e.flags, TRACE_ENTRY_RX) << "flags are not touched";
    EXPECT_EQ(formatted(step, e),
              "rx r_ctl 22 d_id fffffc s_id 0000e8 type 01 ox_id 1234 rx_id ffff");
}

TEST(FcHeader, CapturesTheLsAccAndFcpHeaders)
{
    TraceFcHeader step;
    auto accept = parseFc(plogiAccept());
    TraceEntry a = fresh();
    a.flags = TRACE_ENTRY_TX;
    step.capture(&a, &accept->frame, nullptr);
    EXPECT_EQ(a.word1, 0x230000e8u);
    EXPECT_EQ(a.word2, 0x01fffffcu);
    EXPECT_EQ(a.word3, 0x12340456u);
    EXPECT_EQ(formatted(step, a),
              "tx r_ctl 23 d_id 0000e8 s_id fffffc type 01 ox_id 1234 rx_id 0456");

    auto fcp = parseFc(fcpCommand());
    TraceEntry c = fresh();
    c.flags = TRACE_ENTRY_RX | TRACE_ENTRY_BEGIN;
    step.capture(&c, &fcp->frame, nullptr);
    EXPECT_EQ(c.word1, 0x06020300u);
    EXPECT_EQ(c.word2, 0x08010200u);
    EXPECT_EQ(c.word3, 0x0042ffffu);
    EXPECT_EQ(formatted(step, c),
              "rx r_ctl 06 d_id 020300 s_id 010200 type 08 ox_id 0042 rx_id ffff");
}

TEST(FcHeader, CaptureThroughTheBaseInterfaceAndWithACallerPort)
{
    auto frame = parseFc(plogiRequest());
    TraceFcHeader header;
    TraceStep& step = header;
    port_id_t port = hostsimPort(9);
    TraceEntry e = fresh();
    e.word1 = e.word2 = e.word3 = 0x5a5a5a5a;
    step.capture(&e, &frame->frame, &port);
    EXPECT_EQ(e.word1, 0x22fffffcu);
    EXPECT_EQ(e.word2, 0x010000e8u);
    EXPECT_EQ(e.word3, 0x1234ffffu) << "the port is not used; every word is replaced";
}

TEST(FcHeader, HeaderWithAllFieldsAtTheirLimits)
{
    FcHeader h = {0xff, 0xffffff, 0x00, 0xffffff, 0xff, 0xffffff, 0xff, 0xff, 0xffff,
                  0xffff, 0xffff, 0xffffffff};
    auto full = parseFc(fcHeader(h));
    FcHeader z = {0x00, 0x000000, 0xff, 0x000000, 0x00, 0x000000, 0x00, 0x00, 0x0000,
                  0x0000, 0x0000, 0x00000000};
    auto empty = parseFc(fcHeader(z));
    TraceFcHeader step;
    TraceEntry e = fresh();
    step.capture(&e, &full->frame, nullptr);
    EXPECT_EQ(e.word1, 0xffffffffu);
    EXPECT_EQ(e.word2, 0xffffffffu);
    EXPECT_EQ(e.word3, 0xffffffffu);
    EXPECT_EQ(formatted(step, e),
              "tx r_ctl ff d_id ffffff s_id ffffff type ff ox_id ffff rx_id ffff");
    TraceEntry f = fresh();
    f.word1 = f.word2 = f.word3 = 0x12345678;
    step.capture(&f, &empty->frame, nullptr);
    EXPECT_EQ(f.word1, 0u);
    EXPECT_EQ(f.word2, 0u);
    EXPECT_EQ(f.word3, 0u);
    EXPECT_EQ(formatted(step, f),
              "tx r_ctl 00 d_id 000000 s_id 000000 type 00 ox_id 0000 rx_id 0000");
}

TEST(FcHeader, FormatDirectionAndFieldsFromTheWords)
{
    TraceFcHeader step;
    TraceEntry e = fresh();
    e.word1 = 0x22010203;
    e.word2 = 0x01a0b0c0;
    e.word3 = 0x00050006;
    const char* rest = " r_ctl 22 d_id 010203 s_id a0b0c0 type 01 ox_id 0005 rx_id 0006";
    e.flags = 0;
    EXPECT_EQ(formatted(step, e), std::string("tx") + rest) << "no direction flag prints tx";
    e.flags = TRACE_ENTRY_TX;
    EXPECT_EQ(formatted(step, e), std::string("tx") + rest);
    e.flags = TRACE_ENTRY_RX;
    EXPECT_EQ(formatted(step, e), std::string("rx") + rest);
    e.flags = TRACE_ENTRY_RX | TRACE_ENTRY_TX | TRACE_ENTRY_END;
    EXPECT_EQ(formatted(step, e), std::string("rx") + rest);
    e.flags = 0xffff & ~TRACE_ENTRY_RX;
    EXPECT_EQ(formatted(step, e), std::string("tx") + rest) << "only the RX bit decides";
}

TEST(FcHeader, FormatWritesInsteadOfAppending)
{
    TraceFcHeader step;
    TraceEntry e = fresh();
    char buf[100];
    strcpy(buf, "left over");
    step.format(&e, buf, sizeof buf);
    EXPECT_STREQ(buf, "tx r_ctl 00 d_id 000000 s_id 000000 type 00 ox_id 0000 rx_id 0000");
}

TEST(FcHeader, BoundedAtEverySize)
{
    auto frame = parseFc(plogiRequest());
    TraceFcHeader step;
    TraceEntry e = fresh();
    e.flags = TRACE_ENTRY_RX;
    step.capture(&e, &frame->frame, nullptr);
    expectBoundedAtEverySize(step, e,
                             "rx r_ctl 22 d_id fffffc s_id 0000e8 type 01 ox_id 1234 rx_id ffff");
}

TEST(FcHeader, AnUnparsableFrameReadsAsZeros)
{
    // 10 bytes are no FC frame: the host's accessors read zeros.
    HostFcFrame frame(Bytes(10, 0xee), hostsimPort(1));
    ASSERT_FALSE(frame.ok());
    TraceFcHeader step;
    TraceEntry e = fresh();
    e.word1 = 1;
    step.capture(&e, &frame.frame, nullptr);
    EXPECT_EQ(e.word1 | e.word2 | e.word3, 0u);
}

// ---------------------------------------------------------------------------
// TraceFcPayload

TEST(FcPayload, ConstructorSetsTheSelectors)
{
    TraceFcPayload all(0, 1, 2);
    EXPECT_TRUE(all.payload_m[0].valid);
    EXPECT_EQ(all.payload_m[0].index, 0);
    EXPECT_TRUE(all.payload_m[1].valid);
    EXPECT_EQ(all.payload_m[1].index, 1);
    EXPECT_TRUE(all.payload_m[2].valid);
    EXPECT_EQ(all.payload_m[2].index, 2);

    TraceFcPayload middle(-1, 4, -7);
    EXPECT_FALSE(middle.payload_m[0].valid);
    EXPECT_EQ(middle.payload_m[0].index, -1);
    EXPECT_TRUE(middle.payload_m[1].valid);
    EXPECT_EQ(middle.payload_m[1].index, 4);
    EXPECT_FALSE(middle.payload_m[2].valid);
    EXPECT_EQ(middle.payload_m[2].index, -1) << "a negative argument leaves the base value";

    TraceFcPayload none(-1, -1, -1);
    for (const TracePayloadWord& w : none.payload_m) {
        EXPECT_FALSE(w.valid);
        EXPECT_EQ(w.index, -1);
    }
    TraceFcPayload large(7, 100000, 2147483647);
    EXPECT_EQ(large.payload_m[1].index, 100000);
    EXPECT_EQ(large.payload_m[2].index, 2147483647);
}

TEST(FcPayload, CapturesTheFirstThreeWordsOfAnFcpCommand)
{
    auto frame = parseFc(fcpCommand());
    TraceFcPayload step(0, 1, 2);
    TraceEntry e = fresh();
    e.id = 9;
    e.flags = TRACE_ENTRY_RX;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0x00010000u);
    EXPECT_EQ(e.word2, 0x00000000u);
    EXPECT_EQ(e.word3, 0x00000002u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_RX) << "nothing missing";
    EXPECT_EQ(e.id, 9);
    EXPECT_EQ(formatted(step, e), "pld 0 00010000 pld 1 00000000 pld 2 00000002");
}

TEST(FcPayload, SelectorsPickAnyWordIntoTheirOwnDataWord)
{
    auto frame = parseFc(fcpCommand());
    TraceFcPayload step(3, 7, 5);
    TraceEntry e = fresh();
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0x28001000u) << "payload word 3: READ(10), LBA high bytes";
    EXPECT_EQ(e.word2, 0x00001000u) << "payload word 7: FCP_DL";
    EXPECT_EQ(e.word3, 0x08000000u) << "payload word 5: transfer length";
    EXPECT_EQ(e.flags, 0);
    EXPECT_EQ(formatted(step, e), "pld 3 28001000 pld 7 00001000 pld 5 08000000");

    TraceFcPayload reversed(7, 7, 0);
    TraceEntry r = fresh();
    reversed.capture(&r, &frame->frame, nullptr);
    EXPECT_EQ(r.word1, 0x00001000u);
    EXPECT_EQ(r.word2, 0x00001000u);
    EXPECT_EQ(r.word3, 0x00010000u);
}

TEST(FcPayload, OnlyTheMiddleSelectorGivesALeadingBlank)
{
    auto frame = parseFc(fcpCommand());
    TraceFcPayload step(-1, 4, -1);
    TraceEntry e = fresh();
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0u);
    EXPECT_EQ(e.word2, 0x00000000u);
    EXPECT_EQ(e.word3, 0u);
    e.word2 = 0x0badcafe;
    EXPECT_EQ(formatted(step, e), " pld 4 0badcafe");

    TraceFcPayload last(-1, -1, 7);
    TraceEntry l = fresh();
    last.capture(&l, &frame->frame, nullptr);
    EXPECT_EQ(l.word3, 0x00001000u);
    EXPECT_EQ(formatted(last, l), " pld 7 00001000");

    TraceFcPayload outer(1, -1, 2);
    TraceEntry o = fresh();
    o.word1 = 0xa;
    o.word2 = 0xb;
    o.word3 = 0xc;
    EXPECT_EQ(formatted(outer, o), "pld 1 0000000a pld 2 0000000c") << "word2 is not printed";
}

TEST(FcPayload, WordsBeyondTheFrameAreMissing)
{
    // A payload of two words: words 0 and 1 are read, word 2 is missing.
    auto frame = parseFc(elsFrame({0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03}));
    TraceFcPayload step(0, 1, 2);
    TraceEntry e = fresh();
    e.flags = TRACE_ENTRY_RX;
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0x05000000u);
    EXPECT_EQ(e.word2, 0x00010203u);
    EXPECT_EQ(e.word3, 0u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_RX | TRACE_ENTRY_PAYLOAD_MISSING);
    EXPECT_EQ(formatted(step, e), "pld 0 05000000 pld 1 00010203 pld 2 00000000")
        << "the missing flag does not change the text";

    // A word that was not read is not touched.
    TraceEntry kept = fresh();
    kept.word3 = 0x77777777;
    step.capture(&kept, &frame->frame, nullptr);
    EXPECT_EQ(kept.word3, 0x77777777u);
    EXPECT_EQ(kept.word1, 0x05000000u);
}

TEST(FcPayload, AMissingFirstWordDoesNotStopTheOthers)
{
    auto frame = parseFc(elsFrame({0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03}));
    TraceFcPayload step(9, 1, 0);
    TraceEntry e = fresh();
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0u);
    EXPECT_EQ(e.word2, 0x00010203u);
    EXPECT_EQ(e.word3, 0x05000000u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PAYLOAD_MISSING);
}

TEST(FcPayload, ShortPayloadsCountWholeWordsOnly)
{
    // Six payload bytes hold one whole word; the partial second word is
    // beyond the length.
    auto frame = parseFc(elsFrame({0x03, 0x00, 0x00, 0x00, 0xaa, 0xbb}));
    TraceFcPayload step(0, 1, -1);
    TraceEntry e = fresh();
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0x03000000u);
    EXPECT_EQ(e.word2, 0u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PAYLOAD_MISSING);

    TraceFcPayload first(0, -1, -1);
    TraceEntry f = fresh();
    first.capture(&f, &frame->frame, nullptr);
    EXPECT_EQ(f.word1, 0x03000000u);
    EXPECT_EQ(f.flags, 0) << "the one selected word is there";
}

TEST(FcPayload, HeaderOnlyFrameMissesEverySelectedWord)
{
    auto frame = parseFc(fcHeader(kPlogiHeader));
    TraceFcPayload step(0, 1, 2);
    TraceEntry e = fresh();
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1 | e.word2 | e.word3, 0u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PAYLOAD_MISSING);

    TraceFcPayload none(-1, -1, -1);
    TraceEntry n = fresh();
    none.capture(&n, &frame->frame, nullptr);
    EXPECT_EQ(n.flags, 0) << "no selector, nothing missing";
}

TEST(FcPayload, NoSelectorsMissOnlyWhenTheLengthQueryFails)
{
    auto good = parseFc(fcpCommand());
    TraceFcPayload step(-1, -1, -1);
    TraceEntry e = fresh();
    step.capture(&e, &good->frame, nullptr);
    EXPECT_EQ(e.flags, 0);
    EXPECT_EQ(e.word1 | e.word2 | e.word3, 0u);
    EXPECT_EQ(formatted(step, e), "");

    HostFcFrame bad(Bytes(12, 0x01), hostsimPort(1));   // too short to be a frame
    ASSERT_FALSE(bad.ok());
    TraceEntry m = fresh();
    step.capture(&m, &bad.frame, nullptr);
    EXPECT_EQ(m.flags, TRACE_ENTRY_PAYLOAD_MISSING);
    EXPECT_EQ(formatted(step, m), "");
}

TEST(FcPayload, AFailingLengthQueryReadsNoWord)
{
    HostFcFrame bad(Bytes(23, 0x01), hostsimPort(1));   // one byte short of a header
    ASSERT_FALSE(bad.ok());
    TraceFcPayload step(0, 1, 2);
    TraceEntry e = fresh();
    e.flags = TRACE_ENTRY_TX;
    step.capture(&e, &bad.frame, nullptr);
    EXPECT_EQ(e.flags, TRACE_ENTRY_TX | TRACE_ENTRY_PAYLOAD_MISSING);
    EXPECT_EQ(e.word1 | e.word2 | e.word3, 0u);

    TraceEntry kept = fresh();
    kept.word1 = 0x11111111;
    kept.word2 = 0x22222222;
    kept.word3 = 0x33333333;
    step.capture(&kept, &bad.frame, nullptr);
    EXPECT_EQ(kept.word1, 0x11111111u) << "no word is read";
    EXPECT_EQ(kept.word2, 0x22222222u);
    EXPECT_EQ(kept.word3, 0x33333333u);

    // An Ethernet record handed over as an FC frame has no FC length either.
    HostEthFrame eth(ethFrame({}, 0x0800, ipv4Ping()), hostsimPort(1));
    ASSERT_TRUE(eth.ok());
    fcFrame wrongKind{eth.frame.raw_m};
    TraceEntry w = fresh();
    step.capture(&w, &wrongKind, nullptr);
    EXPECT_EQ(w.flags, TRACE_ENTRY_PAYLOAD_MISSING);
}

TEST(FcPayload, HugeIndexesAreMissingAndCutInTheText)
{
    auto frame = parseFc(fcpCommand());
    TraceFcPayload step(0, 100000, 2147483647);
    TraceEntry e = fresh();
    step.capture(&e, &frame->frame, nullptr);
    EXPECT_EQ(e.word1, 0x00010000u);
    EXPECT_EQ(e.word2, 0u);
    EXPECT_EQ(e.word3, 0u);
    EXPECT_EQ(e.flags, TRACE_ENTRY_PAYLOAD_MISSING);
    e.word2 = 0x12345678;
    e.word3 = 0x9abcdef0;
    // " pld 100000 12345678" has 20 characters: the scratch buffer keeps 19.
    EXPECT_EQ(formatted(step, e), "pld 0 00010000 pld 100000 1234567 pld 2147483647 9ab");

    TraceFcPayload third(-1, -1, 100000);
    TraceEntry t = fresh();
    t.word3 = 0xabcdef12;
    EXPECT_EQ(formatted(third, t), " pld 100000 abcdef1");
    TraceFcPayload first(100000, -1, -1);
    TraceEntry f = fresh();
    f.word1 = 0xabcdef12;
    EXPECT_EQ(formatted(first, f), "pld 100000 abcdef12") << "19 characters fit";
}

TEST(FcPayload, FormatStartsFromAnEmptyText)
{
    TraceFcPayload step(0, -1, -1);
    TraceEntry e = fresh();
    e.word1 = 1;
    char buf[100];
    strcpy(buf, "left over");
    step.format(&e, buf, sizeof buf);
    EXPECT_STREQ(buf, "pld 0 00000001");
    TraceFcPayload none(-1, -1, -1);
    strcpy(buf, "left over");
    none.format(&e, buf, sizeof buf);
    EXPECT_STREQ(buf, "");
}

TEST(FcPayload, BoundedAtEverySize)
{
    auto frame = parseFc(fcpCommand());
    struct Case {
        int a, b, c;
    };
    for (Case k : {Case{0, 1, 2}, Case{-1, 4, -1}, Case{-1, -1, 7}, Case{-1, -1, -1},
                   Case{100000, 5, 2147483647}}) {
        SCOPED_TRACE(testing::Message() << k.a << "," << k.b << "," << k.c);
        TraceFcPayload step(k.a, k.b, k.c);
        TraceEntry e = fresh();
        step.capture(&e, &frame->frame, nullptr);
        e.word1 |= 0xf0000000;
        std::string full = payloadText(step.payload_m, e);
        EXPECT_EQ(formatted(step, e), full);
        expectBoundedAtEverySize(step, e, full);
    }
}
