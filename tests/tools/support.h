// Running tracereplay (or another program), scratch files, the trace lines
// of its output, and the frames and capture files (pcap and pcapng) the
// tests build.
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

using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;

inline std::string readFile(const std::string& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

inline void writeFile(const std::string& path, const std::string& s)
{
    std::ofstream(path, std::ios::binary) << s;
}

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

inline size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

inline std::string samplePath(const std::string& name)
{
    return SAMPLES_DIR "/" + name;
}

// A fresh directory, removed with everything in it at the end of the test.
struct ScratchDir {
    std::string dir = [] {
        std::string name = std::filesystem::temp_directory_path().string() + "/replaytest-XXXXXX";
        return std::string(mkdtemp(name.data()));
    }();
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

struct RunResult {
    int exitCode = -1;  // -1: killed by a signal
    std::string out;
    std::string err;
};

inline RunResult runProgram(const std::string& program, const Args& args,
                            const std::string& input = "/dev/null")
{
    ScratchDir dir;
    std::string command = "'" + program + "'";
    for (const std::string& arg : args)
        command += " '" + std::regex_replace(arg, std::regex("'"), "'\\''") + "'";
    command += " <'" + input + "' >" + dir.path("out") + " 2>" + dir.path("err");
    int status = system(command.c_str());
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return {code, readFile(dir.path("out")), readFile(dir.path("err"))};
}

inline RunResult runReplay(Args args, const std::string& input = "/dev/null")
{
    args.insert(args.begin(), "--quiet");
    return runProgram(TRACEREPLAY_PATH, args, input);
}

inline bool haveProgram(const std::string& name)
{
    return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
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

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes bigEndian(const Words& words)
{
    Bytes b;
    for (uint32_t w : words)
        b.insert(b.end(), {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    return b;
}

constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kLinkTypeFc2 = 224;

// An FCP command frame (header only) from 010200 to 010400 with this OX_ID.
inline Bytes fcpFrame(uint32_t oxId)
{
    return bigEndian({0x06010400, 0x010200, 0x08000000, 0, oxId << 16 | 0xFFFF, 0});
}

// 2024-05-14 09:30:00 UTC in microseconds, the samples' epoch.
constexpr int64_t kSampleStart = 1715679000LL * 1000000;
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr uint32_t kNoSnapLimit = 65535;

// A classic little-endian pcap file; frame i at micros[i] (default i) past
// the epoch. Frames longer than the snap length are cut to it.
inline std::string pcapFile(uint32_t link, const std::vector<Bytes>& frames,
                            const std::vector<int64_t>& micros = {},
                            uint32_t snapLength = kNoSnapLimit)
{
    std::string file;
    auto le = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file += char(v >> 8 * i);
    };
    for (uint32_t v : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, snapLength, link})
        le(v);
    for (size_t i = 0; i < frames.size(); ++i) {
        const int64_t at = kSampleStart + (micros.empty() ? int64_t(i) : micros[i]);
        const size_t captured = std::min<size_t>(frames[i].size(), snapLength);
        le(uint32_t(at / kMicrosPerSecond));
        le(uint32_t(at % kMicrosPerSecond));
        le(uint32_t(captured));
        le(uint32_t(frames[i].size()));
        file.append(frames[i].begin(), frames[i].begin() + captured);
    }
    return file;
}

// A pcapng file built block by block, each section in its own byte order.
class PcapngFile {
public:
    void section(bool bigEndianSection)
    {
        big_ = bigEndianSection;
        block(0x0A0D0D0A, word(0x1A2B3C4D) + half(1) + half(0) + word(~0u) + word(~0u));
    }
    // tsresol: 6 for microseconds, 9 for nanoseconds.
    void interface(uint16_t link, uint8_t tsresol = 6)
    {
        std::string resolution = half(9) + half(1) + std::string{char(tsresol), 0, 0, 0};
        block(1, half(link) + half(0) + word(0) + resolution + word(0));
    }
    // An Enhanced Packet on `interface` of this section at `units` past the
    // epoch, in the interface's resolution.
    void packet(uint32_t interface, uint64_t units, const Bytes& frame)
    {
        std::string data(frame.begin(), frame.end());
        data.resize((data.size() + 3) & ~size_t{3});
        uint32_t size = uint32_t(frame.size());
        block(6, word(interface) + word(uint32_t(units >> 32)) + word(uint32_t(units)) +
                     word(size) + word(size) + data);
    }
    const std::string& bytes() const { return out_; }

private:
    std::string half(uint16_t v) const
    {
        return big_ ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
    }
    std::string word(uint32_t v) const
    {
        return big_ ? half(uint16_t(v >> 16)) + half(uint16_t(v))
                    : half(uint16_t(v)) + half(uint16_t(v >> 16));
    }
    void block(uint32_t type, const std::string& body)
    {
        const uint32_t total = uint32_t(body.size() + 12);
        out_ += word(type) + word(total) + body + word(total);
    }

    bool big_ = false;
    std::string out_;
};

#endif
