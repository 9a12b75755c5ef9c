#include "optionText.h"

#include <cerrno>
#include <cstdlib>

#include "options.h"

namespace replay {

namespace {

uint32_t parseWithBase(const std::string& text, int base, uint32_t max, const std::string& what)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        throw UsageError("bad " + what + " '" + text + "'");
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || end == text.c_str())
        throw UsageError("bad " + what + " '" + text + "'");
    if (value > max)
        throw UsageError(what + " '" + text + "' is too large (at most " +
                         std::to_string(max) + ")");
    return static_cast<uint32_t>(value);
}

}  // namespace

std::vector<std::string> splitText(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::vector<std::pair<std::string, std::string>> parseKeyValues(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& part : splitText(text, ',')) {
        size_t equals = part.find('=');
        std::string key = part.substr(0, equals);
        if (key.empty())
            throw UsageError("empty setting in '" + text + "'");
        pairs.emplace_back(key, equals == std::string::npos ? "" : part.substr(equals + 1));
    }
    return pairs;
}

uint32_t parseNumber(const std::string& text, uint32_t max, const std::string& what)
{
    bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    return hex ? parseWithBase(text.substr(2), 16, max, what) : parseWithBase(text, 10, max, what);
}

uint32_t parseHex(const std::string& text, uint32_t max, const std::string& what)
{
    bool prefixed = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    return parseWithBase(prefixed ? text.substr(2) : text, 16, max, what);
}

}  // namespace replay
