// Running tracereplay (or tshark), scratch files, and the trace lines of its
// output.
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
    int exitCode = -1;
    std::string out, err;
};  // exit code -1: killed by a signal

// Runs `program` with standard input from /dev/null.
inline RunResult runProgram(const std::string& program, const Args& args)
{
    ScratchDir dir;
    std::string command = "'" + program + "'";
    for (const std::string& arg : args)
        command += " '" + std::regex_replace(arg, std::regex("'"), "'\\''") + "'";
    int status =
        system((command + " </dev/null >" + dir.path("out") + " 2>" + dir.path("err")).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.path("out")),
            readFile(dir.path("err"))};
}
inline RunResult runReplay(Args args)
{
    args.insert(args.begin(), "--quiet");
    return runProgram(TRACEREPLAY_PATH, args);
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

#endif
