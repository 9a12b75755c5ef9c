// The time, name and string utilities the library calls, against what it
// relies on (host/hostUtil.h gives the contract).
#include <ctype.h>
#include <stdio.h>
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

// The text is the host's choice, but later times must give texts that
// differ and sort after earlier ones (as a reader and sort(1) expect):
// microseconds 100 against 20000 and 100000, a second and a minute boundary.
void checkTimeOrder(Report& report)
{
    constexpr int32_t kSec = 1796487599;  // hh:mm:59
    const int32_t times[][2] = {{kSec, 0},      {kSec, 100},   {kSec, 20000}, {kSec, 100000},
                                {kSec, 999999}, {kSec + 1, 0}, {kSec + 1, 1}, {kSec + 10, 5}};
    std::string before;
    std::string beforeGiven;
    for (const auto& t : times) {
        Timeval tv(t[0], t[1]);
        std::string text = TimevalString(tv).text_m;
        std::string given = pair(t[0], t[1]);
        if (!before.empty())
            report.check(before < text, "TimevalString(Timeval&)", beforeGiven + " then " + given,
                         "'" + before + "' then '" + text + "'",
                         "texts that differ and sort in time order (the format is the host's)");
        before = text;
        beforeGiven = given;
    }
}

void checkWorldWideName(Report& report)
{
    // Every byte differs and each word starts with a zero digit, so swapped
    // words or bytes and unpadded words show.
    const uint32_t kFirst = 0x0123c9a5;
    const uint32_t kSecond = 0x0b3e7d46;
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
    if (!text.text_m || length > kNameTextLimit)
        return;
    // Separators and case are the host's choice; the digits and their order are not.
    std::string digits;
    for (const char* p = text.text_m; *p; ++p)
        if (isxdigit(static_cast<unsigned char>(*p)))
            digits += char(tolower(static_cast<unsigned char>(*p)));
    char needed[17];
    snprintf(needed, sizeof needed, "%08x%08x", kFirst, kSecond);
    report.check(digits.find(needed) != std::string::npos,
                 "WorldWideNameString(WorldWideName, STYLE_DEFAULT)", given,
                 "'" + std::string(text.text_m) + "'",
                 std::string("the 16 hex digits ") + needed + " in this order, first word first");
}

// dst holds start, then kUnused bytes; after the call it must hold result,
// terminated within size, and nothing at or past size, nor before dst, may
// have changed.
void checkStrl(Report& report)
{
    struct {
        bool append;
        const char* start;
        const char* src;
        size_t size;
        const char* result;
    } cases[] = {{false, "", "hello", 1, ""},      {false, "", "hello", 5, "hell"},
                 {false, "", "hello", 6, "hello"}, {false, "ab", "hello", 0, "ab"},
                 {true, "ab", "cde", 6, "abcde"},  {true, "ab", "cde", 4, "abc"},
                 {true, "ab", "cde", 3, "ab"},     {true, "ab", "cde", 0, "ab"}};
    for (const auto& c : cases) {
        char area[20];  // a guard byte, dst, then room to overrun into
        char* dst = area + 1;
        memset(area, kUnused, sizeof area);
        memcpy(dst, c.start, strlen(c.start) + 1);
        char before[sizeof area];
        memcpy(before, area, sizeof area);
        if (c.append)
            strlcat(dst, c.src, c.size);
        else
            strlcpy(dst, c.src, c.size);
        size_t from = 1 + c.size;
        bool untouched =
            area[0] == before[0] && memcmp(area + from, before + from, sizeof area - from) == 0;
        bool terminated = c.size == 0 || strnlen(dst, c.size) < c.size;
        bool ok = terminated && strncmp(dst, c.result, strlen(c.result) + 1) == 0 && untouched;
        std::string call = std::string(c.append ? "strlcat" : "strlcpy") + "(\"" + c.start +
                           "\", \"" + c.src + "\", " + std::to_string(c.size) + ")";
        std::string got =
            terminated ? "\"" + std::string(dst, strnlen(dst, 18)) + "\"" : "no terminator";
        report.check(ok, call, "text",
                     got + (untouched ? "" : " and bytes outside dst[0..size) written"),
                     "\"" + std::string(c.result) + "\" and nothing written at or past size" +
                         (c.size == 0 ? " (size 0: nothing at all)" : ""));
    }
}

}  // namespace

void checkUtilities(Report& report)
{
    checkTimeval(report);
    checkTimeOrder(report);
    checkWorldWideName(report);
    checkStrl(report);
}

}  // namespace hostcheck
