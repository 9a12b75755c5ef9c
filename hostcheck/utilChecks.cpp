// The time, name and string utilities the library calls, against what it
// relies on (host/hostUtil.h gives the contract).
#include <string.h>

#include "checkKit.h"
#include "hostUtil.h"

namespace hostcheck {
namespace {

constexpr size_t kTimeTextLimit = 63;  // the saved file cuts a longer time text
constexpr size_t kNameTextLimit = 92;  // fits "%6.6x/%s" into a 100-byte text
constexpr char kUnused = '#';

std::string pair(int64_t first, int64_t second)
{
    return "(" + std::to_string(first) + ", " + std::to_string(second) + ")";
}

void checkTimeval(Report& report)
{
    struct {
        int32_t sec, usec, normalSec, normalUsec;
    } cases[] = {{1796487552, 250000, 1796487552, 250000},
                 {0, 999999, 0, 999999},
                 {5, 1500000, 6, 500000},
                 {5, -1, 4, 999999}};
    for (const auto& c : cases) {
        Timeval tv(c.sec, c.usec);
        std::string given = pair(c.sec, c.usec);
        report.check(tv.tv_sec == c.sec && tv.tv_usec == c.usec, "Timeval(long, long)", given,
                     pair(tv.tv_sec, tv.tv_usec), given + " stored unchanged");
        tv.normalize();
        report.check(tv.tv_sec == c.normalSec && tv.tv_usec == c.normalUsec, "Timeval::normalize()",
                     given, pair(tv.tv_sec, tv.tv_usec), pair(c.normalSec, c.normalUsec));
        TimevalString text(tv);
        size_t length = strnlen(text.text_m, sizeof text.text_m);
        report.check(length > 0 && length <= kTimeTextLimit, "TimevalString(Timeval&)", given,
                     std::to_string(length) + " characters",
                     "1 to " + std::to_string(kTimeTextLimit) + " characters, terminated");
    }
}

void checkWorldWideName(Report& report)
{
    const uint32_t kFirst = 0x10000005;
    const uint32_t kSecond = 0x1e123456;
    WorldWideName name(kFirst, kSecond);
    std::string given = hex(kFirst) + ":" + hex(kSecond);
    report.check(name.word_m[0] == kFirst && name.word_m[1] == kSecond,
                 "WorldWideName(unsigned, unsigned)", given,
                 hex(name.word_m[0]) + ":" + hex(name.word_m[1]), given + " in that order");
    WorldWideNameString text(name, WorldWideNameString::STYLE_DEFAULT);
    size_t length = text.text_m ? strnlen(text.text_m, kNameTextLimit + 1) : 0;
    report.check(text.text_m && length > 0 && length <= kNameTextLimit,
                 "WorldWideNameString(WorldWideName, STYLE_DEFAULT)", given,
                 text.text_m ? std::to_string(length) + " characters" : "null",
                 "1 to " + std::to_string(kNameTextLimit) + " characters, terminated");
}

// dst holds start, then kUnused bytes; after the call it must hold result,
// terminated within size, and nothing at or past size may have changed.
void checkStrl(Report& report)
{
    struct {
        bool append;
        const char* start;
        const char* src;
        size_t size;
        const char* result;
    } cases[] = {{false, "", "hello", 1, ""},      {false, "", "hello", 5, "hell"},
                 {false, "", "hello", 6, "hello"}, {true, "ab", "cde", 6, "abcde"},
                 {true, "ab", "cde", 4, "abc"},    {true, "ab", "cde", 3, "ab"},
                 {true, "ab", "cde", 0, "ab"}};
    for (const auto& c : cases) {
        char dst[16];
        memset(dst, kUnused, sizeof dst);
        memcpy(dst, c.start, strlen(c.start) + 1);
        char before[sizeof dst];
        memcpy(before, dst, sizeof dst);
        if (c.append)
            strlcat(dst, c.src, c.size);
        else
            strlcpy(dst, c.src, c.size);
        bool untouched = memcmp(dst + c.size, before + c.size, sizeof dst - c.size) == 0;
        bool terminated = c.size == 0 || strnlen(dst, c.size) < c.size;
        bool ok = terminated && strcmp(dst, c.result) == 0 && untouched;
        std::string call = std::string(c.append ? "strlcat" : "strlcpy") + "(\"" + c.start +
                           "\", \"" + c.src + "\", " + std::to_string(c.size) + ")";
        std::string got = terminated ? "\"" + std::string(dst) + "\"" : "no terminator";
        report.check(ok, call, "text", got + (untouched ? "" : " and bytes past size written"),
                     "\"" + std::string(c.result) + "\" and nothing past size written");
    }
}

}  // namespace

void checkUtilities(Report& report)
{
    checkTimeval(report);
    checkWorldWideName(report);
    checkStrl(report);
}

}  // namespace hostcheck
