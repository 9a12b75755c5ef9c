// The kit's program: runs every check against the linked host and prints
// the tally. Exit status 0 only when every check passed.
#include <stdio.h>

#include "checkKit.h"
#include "hostCheck.h"

namespace hostcheck {

std::string hex(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

bool Report::check(bool ok, const std::string& function, const std::string& frame,
                   const std::string& returned, const std::string& needed)
{
    if (ok) {
        ++passed;
        return true;
    }
    ++failed;
    printf("%s on %s: returned %s, the library needs %s\n", function.c_str(), frame.c_str(),
           returned.c_str(), needed.c_str());
    return false;
}

bool Report::equal(const std::string& function, const std::string& frame, uint64_t returned,
                   uint64_t needed)
{
    return check(returned == needed, function, frame, hex(returned), hex(needed));
}

HostFrame::HostFrame(const WireFrame& wire, Report& report)
{
    const uint8_t* bytes = wire.bytes.data();
    if (wire.kind == Kind::fc) {
        fc = hostcheckMakeFcFrame(bytes, wire.bytes.size(), wire.port);
        report.check(fc != nullptr, "hostcheckMakeFcFrame", wire.name, "null", "a frame");
    } else {
        ethernet = hostcheckMakeEthernetFrame(bytes, wire.bytes.size(), wire.port);
        report.check(ethernet != nullptr, "hostcheckMakeEthernetFrame", wire.name, "null",
                     "a frame");
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

int main()
{
    hostcheck::Report report;
    hostcheck::checkFcAccessors(report);
    hostcheck::checkEthernetWords(report);
    hostcheck::checkMatcher(report);
    hostcheck::checkUtilities(report);
    hostcheck::checkTraces(report);
    printf("%d passed, %d failed\n", report.passed, report.failed);
    return report.failed == 0 ? 0 : 1;
}
