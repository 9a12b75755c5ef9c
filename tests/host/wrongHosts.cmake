# The wrong hosts: each row is a name, a text of examples/minimalHost/
# minimalHost.cpp, the mistake that replaces it, and the lines (their
# starts) the kit must print for it. A row without lines is a host that
# chose differently where the contract lets it, which the kit must pass. A row whose text is no longer in the
# minimal host stops the configure step, so the table follows the example.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${minimal_host})
file(READ ${minimal_host} minimal_host_source)

function(hostcheck_wrong_host name correct wrong)
  string(FIND "${minimal_host_source}" "${correct}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "wrong host ${name}: the minimal host no longer has:\n${correct}")
  endif()
  string(REPLACE "${correct}" "${wrong}" source "${minimal_host_source}")
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/wrongHosts/${name}.cpp)
  file(CONFIGURE OUTPUT ${copy} CONTENT "${source}" @ONLY)
  add_executable(hostcheck_${name} ${copy})
  target_link_libraries(hostcheck_${name} PRIVATE hostcheck)
  if(NOT ARGN)  # a choice the contract leaves to the host: the kit must pass it
    add_test(NAME HostCheck.${name} COMMAND hostcheck_${name})
    return()
  endif()
  add_test(NAME HostCheck.${name}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:hostcheck_${name}> "-DLINES=${ARGN}"
            "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/expectHostCheckFailure.cmake)
endfunction()

set(cs_ctl "fc-cs-ctl (CS_CTL 0x80 above S_ID)")
hostcheck_wrong_host(sIdWithCsCtl
  "return wireWord(raw_m->bytes + 4) & 0xFFFFFF;"
  "return wireWord(raw_m->bytes + 4);"
  "fcFrame::Get_S_ID() on ${cs_ctl}: returned 0x80010200, the library needs 0x00010200 (S_ID, the low 24 bits of header word 1 without CS_CTL"
  "saved trace of traceRx with the FC preset on ${cs_ctl}: returned '1: ")
hostcheck_wrong_host(typeWithFCtl
  "return raw_m->bytes[8];"
  "return wireWord(raw_m->bytes + 8) >> 16;"
  "fcFrame::Get_TYPE() on fc-plogi: returned 0x00000129, the library needs 0x00000001 (TYPE, the top byte of header word 2 without F_CTL")
set(fcp_data "fc-fcp-data (CS_CTL 0x7f, F_CTL 0x880008, SEQ_ID 0x5a, SEQ_CNT 0x1234, Parameter 0x00010000)")
hostcheck_wrong_host(oxIdFromSeqWord
  "return wireWord(raw_m->bytes + 16) >> 16;"
  "return wireWord(raw_m->bytes + 12) >> 16;"
  "fcFrame::Get_OX_ID() on ${fcp_data}: returned 0x00005a00, the library needs 0x00000042 (OX_ID, the top half of header word 4")
hostcheck_wrong_host(rxIdFromParameter
  "return wireWord(raw_m->bytes + 16) & 0xFFFF;"
  "return wireWord(raw_m->bytes + 20) & 0xFFFF;"
  "fcFrame::Get_RX_ID() on ${fcp_data}: returned 0x00000000, the library needs 0x00000077 (RX_ID, the low half of header word 4")
set(network_header "fc-network-header (DF_CTL 0x20: a 16-byte network header starts the payload)")
hostcheck_wrong_host(payloadPastNetworkHeader
  "makeRaw(bytes, length, port, true, 0, kFcHeaderBytes);"
  "makeRaw(bytes, length, port, true, 0, kFcHeaderBytes + (bytes[13] & 0x20 ? 16 : 0));"
  "fcFrame::GetLengthWords() on ${network_header}: returned 0 with 2, the library needs 0 with 6 (whole payload words from frame byte 24, optional headers included)"
  "fcFrame::GetPayload(0, 1) on ${network_header}: returned 0 with 0xaaaa0300, the library needs 0 with 0x10000000")
hostcheck_wrong_host(timeWithoutZeroPadding
  "\"%s.%06ld\""
  "\"%s.%ld\""
  "TimevalString(Timeval&) on (1796487599, 20000) then (1796487599, 100000): returned '")
hostcheck_wrong_host(nameWordsSwapped
  "name.word_m[0], name.word_m[1]"
  "name.word_m[1], name.word_m[0]"
  "WorldWideNameString(WorldWideName, STYLE_DEFAULT) on 0x0123c9a5:0x0b3e7d46: returned '0b3e7d460123c9a5', the library needs the 16 hex digits 0123c9a50b3e7d46 in this order")
hostcheck_wrong_host(matcherIgnoresMask
  "(word & field.mask) == (field.value & field.mask)"
  "word == field.value"
  "FrameUtil::FrameMatchesEntry(ELS preset: offset_from 1, field_1 offset 25 mask 0xf0000000 value 0x20000000) on fc-plogi: returned 0 (it finds the whole word 0x22fffffc at offset 25, so its test (word & mask) == (value & mask) is wrong)")
hostcheck_wrong_host(matcherFirstWordAt24
  "const uint32_t first = 25;"
  "const uint32_t first = 24;"
  "FrameUtil::FrameMatchesEntry(ELS preset: offset_from 1, field_1 offset 25 mask 0xf0000000 value 0x20000000) on fc-plogi: returned 0 (its view has 0x22fffffc at offset 24, the library needs it at offset 25)")
string(CONCAT els_rule_fails
  "FrameUtil::FrameMatchesEntry(ELS preset: offset_from 1, field_1 offset 25 mask 0xf0000000"
  " value 0x20000000) on fc-plogi: returned 0 (its view has 0x22fffffc at offset 0, the library"
  " needs it at offset 25), the library needs non-zero: offset_from 1 selects FC"
  " frames only, and field_1 compares word 25 (frame bytes 0-3, 0x22fffffc) & 0xf0000000 = 0x20000000"
  " with value & mask 0x20000000")
string(CONCAT els_trace_missing
  "saved trace of traceRx with the ELS preset on fc-plogi: returned no trace, the library needs"
  " '1: <time> port 7  rx r_ctl 22 d_id fffffc s_id 010200 type 01 ox_id 1234 rx_id ffff"
  "  ELS PLOGI (03000000 20200000 88000800)'")
hostcheck_wrong_host(matcherIgnoresOffset25
  "const uint32_t first = 25;"
  "const uint32_t first = 0;"
  "${els_rule_fails}" "${els_trace_missing}")
hostcheck_wrong_host(matcherIgnoresRange
  "bool inRange =\n        range.mask == 0 ||"
  "bool inRange = true ||"
  "FrameUtil::FrameMatchesEntry(offset_from 0, range mask 0x0ff00ff0 offset 25 lo 0x02f00ff1 hi 0xffffffff) on fc-plogi: returned non-zero (it finds the whole word 0x22fffffc at offset 25, so its range test lo <= (word & mask) <= hi is wrong)")
hostcheck_wrong_host(matcherViewWithoutEtherType
  "size_t at = 4 * size_t(offset - first);"
  "size_t at = 4 * size_t(offset - first);\n    if (!raw->fc && at >= 4 * raw->headerWords)\n        at += 2;  // header words, then payload words"
  "FrameUtil::FrameMatchesEntry(offset_from 2, field_1 mask 0xff00ff00 offset 28 value 0x08ff45ff) on eth-ipv4: returned 0 (its view has 0x08004500 at no offset from 0 to 35), the library needs non-zero: offset_from 2 selects Ethernet frames only, and field_1 compares word 28 (frame bytes 12-15, the EtherType at byte 12, 0x08004500)")
hostcheck_wrong_host(matcherReadsPastTheEnd
  "offset - first >= (raw->length + 3) / 4"
  "offset - first >= kMaxFrameBytes / 4"
  "FrameUtil::FrameMatchesEntry(offset_from 0, field_1 mask 0xffffffff offset 36 value 0x00000000) on fc-plogi: returned non-zero, the library needs 0: offset_from 0 selects any frame, and field_1 reads word 36, which the frame does not have: it fails [fails]")
hostcheck_wrong_host(etherTypeAsHeaderWord
  "size_t headerWords = macsAndTags / 4;"
  "size_t headerWords = (macsAndTags + 2 + 3) / 4;"
  "EthernetFrame::PeekHeader(3) on eth-ipv4: returned 0x08004500, the library needs null"
  "EthernetFrame::PeekHeader(4) on eth-vlan-ipv4 (one VLAN tag): returned 0x08004500, the library needs null"
  "saved trace of traceRx with the Ethernet preset on eth-arp: returned '1: ")
hostcheck_wrong_host(cutTagAsUntagged
  "kMacBytes + kTagBytes * tags + 2 <= length &&"
  "kMacBytes + kTagBytes * tags + 6 <= length &&"
  "hostcheckMakeEthernetFrame on eth-tag-without-ethertype (one VLAN tag, then the frame ends): returned a frame, the library needs null")
hostcheck_wrong_host(traceApiPerFrame
  "fcFrame* hostcheckMakeFcFrame(const uint8_t* bytes, size_t length, port_id_t port)\n{"
  "#include \"traceApi.h\"\nfcFrame* hostcheckMakeFcFrame(const uint8_t* bytes, size_t length, port_id_t port)\n{\n    delete new TraceApi;"
  "TraceStep ids registered on the whole run: returned ")
hostcheck_wrong_host(matcherDropsPartialLastWord
  "offset - first >= (raw->length + 3) / 4"
  "offset - first >= raw->length / 4"
  "FrameUtil::FrameMatchesEntry(offset_from 0, field_1 mask 0x00ffffff offset 31 value 0xfc000000) on fc-els-3-payload-bytes (a payload of 3 bytes): returned 0 (the frame's last word is partial: it must read as 0x03000000, its missing bytes zero)")

# Choices that are the host's: the kit must pass them.
hostcheck_wrong_host(plainPortWithOtherHalves
  "port_id_t fcFrame::GetOrigPortID()\n{\n    return raw_m->port;"
  "port_id_t fcFrame::GetOrigPortID()\n{\n    if (raw_m->port.h0 != 0xFFFF)\n        return port_id_t{raw_m->port.h0, 0xdead, 0xbeef};  // unread\n    return raw_m->port;")
hostcheck_wrong_host(timeAsSecondsCount
  "\"%s.%06ld\", date, long(tv.tv_usec)"
  "\"%ld.%06ld (%s)\", long(tv.tv_sec), long(tv.tv_usec), date")
hostcheck_wrong_host(nameAsUpperCaseBytes
  "snprintf(text_m, 24, \"%08x%08x\", name.word_m[0], name.word_m[1]);"
  "unsigned char b[8];\n    for (int i = 0; i < 8; ++i)\n        b[i] = (unsigned char)(name.word_m[i / 4] >> (24 - 8 * (i % 4)));\n    snprintf(text_m, 24, \"%02X:%02X:%02X:%02X:%02X:%02X:%02X:%02X\", b[0], b[1], b[2], b[3], b[4],\n             b[5], b[6], b[7]);")

# The minimal host defines strlcpy only where the C library has none.
include(CheckSymbolExists)
check_symbol_exists(strlcpy string.h c_library_has_strlcpy)
if(NOT c_library_has_strlcpy)
  hostcheck_wrong_host(strlcpyTerminatesAtSizeZero
    "    if (size > 0) {\n        size_t copy = length < size - 1 ? length : size - 1;"
    "    {\n        size_t copy = size == 0 ? 0 : length < size - 1 ? length : size - 1;"
    "strlcpy(\"ab\", \"hello\", 0) on text: returned \"\" and bytes outside dst[0..size) written, the library needs \"ab\" and nothing written at or past size (size 0: nothing at all)")
endif()
