// The kit's program: runs every check against the linked host and prints
// the tally, or lists the checks, or says what the kit proves. Exit status
// 0 only when every check passed.
#include <stdio.h>
#include <string.h>

#include "checkKit.h"
#include "hostCheck.h"
#include "traceStep.h"

namespace hostcheck {

std::string hex(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

std::string portText(port_id_t port)
{
    if (port.h0 == 0xFFFF)
        return "port " + std::to_string(port.h1) + "." + std::to_string(port.h2);
    return "port " + std::to_string(port.h0);
}

std::string frameLabel(const WireFrame& frame)
{
    return *frame.shows ? std::string(frame.name) + " (" + frame.shows + ")" : frame.name;
}

bool Report::check(bool ok, const std::string& function, const std::string& frame,
                   const std::string& returned, const std::string& needed)
{
    if (mode_ == Mode::list)
        listed_.push_back({function, frame, needed});
    if (ok) {
        ++passed;
        if (mode_ == Mode::verbose)
            printf("ok: %s on %s: %s\n", function.c_str(), frame.c_str(), needed.c_str());
        return true;
    }
    ++failed;
    if (mode_ != Mode::list)
        printf("%s on %s: returned %s, the library needs %s\n", function.c_str(), frame.c_str(),
               returned.c_str(), needed.c_str());
    return false;
}

bool Report::equal(const std::string& function, const std::string& frame, uint64_t returned,
                   uint64_t needed)
{
    return check(returned == needed, function, frame, hex(returned), hex(needed));
}

// Groups by the host function: the call's text up to its argument list.
void Report::printList() const
{
    auto group = [](const std::string& function) { return function.substr(0, function.find('(')); };
    std::vector<std::string> groups;
    for (const Listed& entry : listed_) {
        std::string name = group(entry.function);
        bool seen = false;
        for (const std::string& g : groups)
            seen = seen || g == name;
        if (!seen)
            groups.push_back(name);
    }
    for (const std::string& name : groups) {
        int count = 0;
        for (const Listed& entry : listed_)
            count += group(entry.function) == name;
        printf("%s: %d check%s\n", name.c_str(), count, count == 1 ? "" : "s");
        for (const Listed& entry : listed_)
            if (group(entry.function) == name)
                printf("  %s on %s: %s\n", entry.function.c_str(), entry.frame.c_str(),
                       entry.needed.c_str());
    }
}

HostFrame::HostFrame(const WireFrame& wire, Report& report)
{
    const uint8_t* bytes = wire.bytes.data();
    if (wire.kind == Kind::fc) {
        fc = hostcheckMakeFcFrame(bytes, wire.bytes.size(), wire.port);
        if (!fc)
            report.check(false, "hostcheckMakeFcFrame", frameLabel(wire), "null", "a frame");
    } else {
        ethernet = hostcheckMakeEthernetFrame(bytes, wire.bytes.size(), wire.port);
        if (!ethernet)
            report.check(false, "hostcheckMakeEthernetFrame", frameLabel(wire), "null", "a frame");
    }
}

HostFrame::~HostFrame()
{
    if (fc)
        hostcheckFreeFcFrame(fc);
    if (ethernet)
        hostcheckFreeEthernetFrame(ethernet);
}

fcRawFrameStruct* HostFrame::raw() const
{
    return fc ? fc->raw_m : ethernet ? ethernet->raw_m : nullptr;
}

}  // namespace hostcheck

namespace {

const char kHelp[] =
    "usage: %s [--list | --verbose | --help]\n"
    "\n"
    "Checks the host interface linked into this program (host/hostFrame.h,\n"
    "host/hostUtil.h) against what libtracelib needs, from frames the kit\n"
    "carries as wire bytes and hands to the adapter (hostCheck.h).\n"
    "\n"
    "What a pass proves, for the kit's frames:\n"
    "  - every fcFrame and EthernetFrame accessor returns the value the bytes\n"
    "    hold: header fields masked to their width (CS_CTL, F_CTL, SEQ_ID,\n"
    "    DF_CTL, SEQ_CNT and Parameter are set), payload words from frame\n"
    "    byte 24 (an optional network header is payload), null or failure\n"
    "    past the end, VLAN tags as header words, the EtherType in none;\n"
    "  - the matcher honours offset_from 0, 1 and 2, mask and value of\n"
    "    field_1, field_2 and field_3, lo and hi of range, offset 25 as the\n"
    "    first wire word through the Ethernet tags and EtherType, a partial\n"
    "    last word read with zero bytes, and no word past the frame's end;\n"
    "  - Timeval stores and normalizes; TimevalString gives different,\n"
    "    time-ordered texts of at most 63 characters; WorldWideNameString\n"
    "    shows the name's 16 hex digits in order; strlcpy and strlcat cut,\n"
    "    terminate and write nothing at or past size (size 0 included);\n"
    "  - traced through the library with each preset, every frame saves the\n"
    "    line its bytes call for, or no line when the preset does not want it.\n"
    "\n"
    "What it cannot prove:\n"
    "  - formats that are the host's choice: the text of a time or a name is\n"
    "    checked for what any sane format holds, not for one layout;\n"
    "  - rule offsets below 25 (the host's own descriptor) are tried only\n"
    "    with mask 0; only_rejects, exact_reject and sof_mask only as 0;\n"
    "  - frames other than the kit's, the host's own frame path (the kit\n"
    "    builds frames through the adapter), threads, speed and memory.\n"
    "\n"
    "  --list     run the checks quietly, then list every check grouped by\n"
    "             host function, with its frame and what the library needs\n"
    "  --verbose  print every check, passed ones too\n"
    "  --help     this text\n"
    "\n"
    "Prints one line per failed check and ends with \"N passed, N failed\";\n"
    "the exit status is 0 only when nothing failed.\n";

}  // namespace

int main(int argc, char** argv)
{
    using hostcheck::Report;
    Report::Mode mode = Report::Mode::failures;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--list") == 0) {
            mode = Report::Mode::list;
        } else if (strcmp(argv[i], "--verbose") == 0) {
            mode = Report::Mode::verbose;
        } else {
            bool help = strcmp(argv[i], "--help") == 0;
            fprintf(help ? stdout : stderr, kHelp, argv[0]);
            return help ? 0 : 2;
        }
    }
    uint32_t idsBefore = TraceStep::traceStepCount_m;
    Report report(mode);
    hostcheck::checkFcAccessors(report);
    hostcheck::checkEthernetWords(report);
    hostcheck::checkMatcher(report);
    hostcheck::checkMatcherRules(report);
    hostcheck::checkUtilities(report);
    hostcheck::checkTraces(report);
    hostcheck::checkStepIds(report, idsBefore);
    report.printList();
    printf("%d passed, %d failed\n", report.passed, report.failed);
    return report.failed == 0 ? 0 : 1;
}
