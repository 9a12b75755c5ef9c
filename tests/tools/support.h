// Running tracereplay (or tshark), scratch files, and capture files and
// frame bytes made on the spot.
#ifndef TESTS_TOOLS_SUPPORT_H
#define TESTS_TOOLS_SUPPORT_H

#include <stdint.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Args = std::vector<std::string>;

inline std::string readFile(const std::string& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}
inline void writeFile(const std::string& path, const std::string& s) { std::ofstream(path, std::ios::binary) << s; }
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline std::string samplePath(const std::string& name) { return SAMPLES_DIR "/" + name; }
inline std::string goldenPath(const std::string& name) { return GOLDEN_DIR "/" + name; }

// A fresh directory, removed with everything in it at the end of the test.
struct ScratchDir {
    std::string dir = [] {
        std::string name = std::filesystem::temp_directory_path().string() + "/replaytest-XXXXXX";
        return std::string(mkdtemp(name.data()));
    }();
    ~ScratchDir() { std::error_code ignored; std::filesystem::remove_all(dir, ignored); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

struct RunResult {
    int exitCode = -1;   // -1: killed by a signal
    std::string out, err;
};

// Runs `program` with standard input from /dev/null.
inline RunResult runProgram(const std::string& program, const Args& args)
{
    ScratchDir dir;
    std::string command = "'" + program + "'";
    for (const std::string& arg : args)
        command += " '" + std::regex_replace(arg, std::regex("'"), "'\\''") + "'";
    int status = system((command + " </dev/null >" + dir.path("out") + " 2>" + dir.path("err")).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.path("out")), readFile(dir.path("err"))};
}
inline RunResult runReplay(Args args)
{
    args.insert(args.begin(), "--quiet");
    return runProgram(TRACEREPLAY_PATH, args);
}

// Source line numbers of step descriptions ("src/x.cpp.101:") masked, so that
// golden files survive the library's sources moving by a line.
inline std::string withoutSourceLines(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"((\.cpp)\.[0-9]+:)"), "$1.N:");
}

// The trace lines ("N: ...") of a saved trace file, in order.
inline std::vector<std::string> traceLines(const std::string& saved)
{
    std::vector<std::string> lines;
    std::istringstream in(saved);
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, std::regex("^[0-9]+: ")))
            lines.push_back(line);
    return lines;
}

inline void put(Bytes& out, uint32_t value, int bytes)
{
    while (bytes--)
        out.push_back(uint8_t(value >> 8 * bytes));
}
inline Bytes operator+(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }

// 2024-05-14 09:30:00 UTC in microseconds, the samples' epoch.
constexpr int64_t kSampleStart = 1715679000LL * 1000000;
struct TestFrame {
    int64_t micros;
    Bytes bytes;
};
// A classic little-endian capture file.
inline void writeCapture(const std::string& path, uint32_t linkType, const std::vector<TestFrame>& frames)
{
    auto le = [](uint32_t v) { Bytes b; put(b, __builtin_bswap32(v), 4); return b; };
    Bytes file = le(0xa1b2c3d4) + le(0x00040002) + le(0) + le(0) + le(65535) + le(linkType);
    for (const TestFrame& f : frames)
        file = file + le(uint32_t(f.micros / 1000000)) + le(uint32_t(f.micros % 1000000)) +
               le(uint32_t(f.bytes.size())) + le(uint32_t(f.bytes.size())) + f.bytes;
    writeFile(path, std::string(file.begin(), file.end()));
}

// A 24-byte FC header (F_CTL, SEQ_*, DF_CTL and parameter zero) and the payload.
inline Bytes fcBytes(uint8_t rCtl, uint32_t dId, uint32_t sId, uint8_t type, uint16_t oxId, uint16_t rxId,
                     const Bytes& payload = {})
{
    Bytes out;
    for (uint32_t w : {uint32_t{rCtl} << 24 | dId, sId, uint32_t{type} << 24, 0u, uint32_t{oxId} << 16 | rxId, 0u})
        put(out, w, 4);
    return out + payload;
}
// dst, src, tags (TPID and TCI), EtherType, payload.
inline Bytes ethBytes(const Bytes& dst, const Bytes& src, const std::vector<uint32_t>& tags, uint16_t type,
                      const Bytes& payload)
{
    Bytes out = dst + src;
    for (uint32_t tag : tags)
        put(out, tag, 4);
    put(out, type, 2);
    return out + payload;
}
// An FCoE payload around an FC frame: version and SOFi3, then CRC zero and EOFt.
inline Bytes fcoeBytes(const Bytes& fc) { return Bytes(13, 0) + Bytes{0x2E} + fc + Bytes{0, 0, 0, 0, 0x42, 0, 0, 0}; }

#endif
