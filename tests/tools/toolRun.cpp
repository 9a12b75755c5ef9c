#include "toolRun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

std::string scratchFile(const char* tag)
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/replaytest-" + tag +
                          "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    close(fd);
    return name.data();
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args)
{
    std::string outPath = scratchFile("out");
    std::string errPath = scratchFile("err");
    pid_t child = fork();
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
        int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return result;
}

RunResult runReplay(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(TRACEREPLAY_PATH, all);
}

std::string samplePath(const std::string& name)
{
    return std::string(SAMPLES_DIR) + "/" + name;
}

std::string goldenPath(const std::string& name)
{
    return std::string(GOLDEN_DIR) + "/" + name;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string withoutSourceLines(const std::string& text)
{
    static const std::regex kSourceLine(R"((\.cpp)\.[0-9]+:)");
    return std::regex_replace(text, kSourceLine, "$1.N:");
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

ScratchDir::ScratchDir()
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/replaytest-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = name.data();
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> traceLines(const std::string& savedFile)
{
    std::vector<std::string> lines;
    std::istringstream in(savedFile);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(": ");
        if (colon == std::string::npos || colon == 0)
            continue;
        bool number = true;
        for (size_t i = 0; i < colon; ++i)
            number = number && std::isdigit(static_cast<unsigned char>(line[i]));
        if (number)
            lines.push_back(line);
    }
    return lines;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}
