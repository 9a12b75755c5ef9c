// Running tracereplay (or tshark) as a separate process, and scratch files
// for the tests.
#ifndef TESTS_TOOLS_TOOLRUN_H
#define TESTS_TOOLS_TOOLRUN_H

#include <string>
#include <vector>

struct RunResult {
    int exitCode = -1;      // -1 when the program was killed by a signal
    std::string out;
    std::string err;
};

// Runs `program` with `args`, standard input from /dev/null.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args);

// tracereplay from the build tree, always with --quiet.
RunResult runReplay(const std::vector<std::string>& args);

std::string samplePath(const std::string& name);
std::string goldenPath(const std::string& name);

std::string readFile(const std::string& path);
// The text with the source line numbers of step descriptions
// ("[src/traceStep.cpp.101:id ...") masked, so that golden files do not
// break whenever the library's sources move by a line.
std::string withoutSourceLines(const std::string& text);
void writeFile(const std::string& path, const std::string& content);

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

// The lines of a saved trace file that are traces ("N: ..."), in order.
std::vector<std::string> traceLines(const std::string& savedFile);

bool contains(const std::string& text, const std::string& part);

#endif
