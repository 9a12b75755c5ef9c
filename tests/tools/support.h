// What the tool tests share: scratch files, running a program for its
// output and exit status, the trace lines and golden files of saved traces,
// and capture files made from frames (pcap through libpcap, pcapng block by
// block, each section in its own byte order).
#ifndef TESTS_TOOLS_SUPPORT_H
#define TESTS_TOOLS_SUPPORT_H

#include <pcap/pcap.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fileText.h"

using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

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

const Args kSamples{samplePath("fc-host.pcap"), samplePath("fc-target.pcap"),
                    samplePath("eth-fcoe.pcap")};

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
    const int status = system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return {code, readFile(dir.path("out")), readFile(dir.path("err"))};
}

inline RunResult runReplay(Args args, const std::string& input = "/dev/null")
{
    args.insert(args.begin(), "--quiet");
    return runProgram(TRACEREPLAY_PATH, args, input);
}

// A shell command line ending in tracereplay ARGS, standard error captured.
inline RunResult runShell(const std::string& before, const std::string& args,
                          const std::string& after)
{
    ScratchDir dir;
    const std::string command =
        before + " '" TRACEREPLAY_PATH "' --quiet " + args + " " + after + " 2>" + dir.path("err");
    const int status = system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", readFile(dir.path("err"))};
}

// The trace lines ("N: ...") of a saved trace, in order.
inline std::vector<std::string> traceLines(const std::string& saved)
{
    std::vector<std::string> lines;
    std::istringstream in(saved);
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, std::regex("^[0-9]+: ")))
            lines.push_back(line);
    return lines;
}

// Source line numbers of step descriptions ("src/x.cpp.114:" reads
// "src/x.cpp.N:"), masked so that golden files survive the library's sources
// moving by a line; the golden files hold them masked.
inline std::string withoutSourceLines(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"((\.cpp)\.[0-9]+:)"), "$1.N:");
}

inline std::string golden(const std::string& name)
{
    return withoutSourceLines(readFile(GOLDEN_DIR "/" + name));
}

constexpr int kLinkTypeEthernet = 1;
constexpr int kLinkTypeFc2 = 224;
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kSampleStart = 1715679000 * kMicrosPerSecond;  // 2024-05-14 09:30:00 UTC
constexpr uint32_t kNoSnapLimit = 65535;

// An FCP command frame (header only) from 010200 to 010400 with this OX_ID.
inline Bytes fcpFrame(uint16_t oxId)
{
    Bytes frame{0x06, 0x01, 0x04, 0x00, 0x00, 0x01, 0x02, 0x00, 0x08};  // R_CTL to TYPE
    frame.resize(16);
    frame.insert(frame.end(), {uint8_t(oxId >> 8), uint8_t(oxId), 0xFF, 0xFF, 0, 0, 0, 0});
    return frame;
}

struct Packet {
    int64_t micros;  // past the samples' start
    Bytes bytes;
};

// A classic pcap file; frames longer than the snap length are cut to it.
inline std::string pcapFile(int link, const std::vector<Packet>& packets,
                            uint32_t snapLength = kNoSnapLimit)
{
    ScratchDir dir;
    pcap_t* dead = pcap_open_dead(link, int(snapLength));
    pcap_dumper_t* dumper = pcap_dump_open(dead, dir.path("file").c_str());
    for (const Packet& packet : packets) {
        pcap_pkthdr header{};
        header.ts.tv_sec = time_t((kSampleStart + packet.micros) / kMicrosPerSecond);
        header.ts.tv_usec = suseconds_t((kSampleStart + packet.micros) % kMicrosPerSecond);
        header.len = uint32_t(packet.bytes.size());
        header.caplen = std::min(header.len, snapLength);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, packet.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return readFile(dir.path("file"));
}

// A pcapng file built block by block.
class PcapngFile {
public:
    void section(bool bigEndian)
    {
        bigEndian_ = bigEndian;
        block(0x0A0D0D0A, word(0x1A2B3C4D) + half(1) + half(0) + word(~0u) + word(~0u));
    }
    // tsresol: 6 for microseconds, 9 for nanoseconds.
    void interface(uint16_t link, uint8_t tsresol = 6)
    {
        const std::string resolution = half(9) + half(1) + std::string{char(tsresol), 0, 0, 0};
        block(1, half(link) + half(0) + word(0) + resolution + word(0));
    }
    // An Enhanced Packet on `interface` of this section at `units` since the
    // epoch, in the interface's resolution.
    void packet(uint32_t interface, uint64_t units, const Bytes& frame)
    {
        std::string data(frame.begin(), frame.end());
        data.resize((data.size() + 3) & ~size_t{3});
        const uint32_t size = uint32_t(frame.size());
        block(6, word(interface) + word(uint32_t(units >> 32)) + word(uint32_t(units)) +
                     word(size) + word(size) + data);
    }
    const std::string& bytes() const { return out_; }

private:
    std::string half(uint16_t v) const
    {
        return bigEndian_ ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
    }
    std::string word(uint32_t v) const
    {
        return bigEndian_ ? half(uint16_t(v >> 16)) + half(uint16_t(v))
                          : half(uint16_t(v)) + half(uint16_t(v >> 16));
    }
    void block(uint32_t type, const std::string& body)
    {
        const uint32_t total = uint32_t(body.size() + 12);
        out_ += word(type) + word(total) + body + word(total);
    }

    bool bigEndian_ = false;
    std::string out_;
};

#endif
