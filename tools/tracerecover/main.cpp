// tracerecover [-o FILE] DIR|RINGFILE...
// tracerecover --follow DIR|RINGFILE...
//
// Writes the saved trace file of a dead process from the ring files it kept
// (traceRecovery.h): to FILE, or to standard output. A process still running
// gives a snapshot: its traces as at one instant. With --follow, prints the
// traces of the running process as it records them (followMain.h). Files of several
// processes give one saved trace each, to FILE.<pid> when -o is given. A
// file that cannot be used is reported on one line; the rest are recovered,
// and the traces the death cut short are counted.
// Exit status: 0, 1 if some file could not be used, 2 on a usage error.
#include <getopt.h>
#include <stdio.h>

#include <fstream>
#include <string>
#include <vector>

#include "followMain.h"
#include "recovery.h"

namespace {

const char kUsage[] =
    "usage: tracerecover [-o FILE] DIR|RINGFILE...\n"
    "       tracerecover --follow DIR|RINGFILE...\n"
    "Writes the saved trace file of a dead process from the ring files it kept,\n"
    "or of a running one as at one instant.\n"
    "  -o, --output FILE  write to FILE (FILE.<pid> for each of several processes)\n"
    "  -f, --follow       print the traces of the running process as it records them,\n"
    "                     until it ends or is interrupted\n"
    "  -h, --help         show this help\n";

bool writeText(const std::string& path, const std::string& text)
{
    if (path.empty())
        return fwrite(text.data(), 1, text.size(), stdout) == text.size();
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out.flush());
}

}  // namespace

int main(int argc, char** argv)
{
    static const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                      {"follow", no_argument, nullptr, 'f'},
                                      {"output", required_argument, nullptr, 'o'},
                                      {nullptr, 0, nullptr, 0}};
    std::string output;
    bool follow = false;
    for (int option; (option = getopt_long(argc, argv, "fho:", kOptions, nullptr)) != -1;) {
        if (option == 'o') {
            output = optarg;
        } else if (option == 'f') {
            follow = true;
        } else {
            fputs(kUsage, option == 'h' ? stdout : stderr);
            return option == 'h' ? 0 : 2;
        }
    }
    if (optind == argc || (follow && !output.empty())) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (follow)
        return followRings(std::vector<std::string>(argv + optind, argv + argc));
    Recovery recovery = recoverRings(std::vector<std::string>(argv + optind, argv + argc));
    int status = recovery.errors.empty() ? 0 : 1;
    for (const std::string& error : recovery.errors)
        fprintf(stderr, "tracerecover: %s\n", error.c_str());
    const bool several = recovery.processes.size() > 1;
    for (const RecoveredProcess& process : recovery.processes) {
        std::string path = output;
        if (several && !path.empty())
            path += "." + std::to_string(process.pid);
        if (process.cutTraces > 0)
            fprintf(stderr, "tracerecover: process %u: %d trace%s cut short by its death\n",
                    process.pid, process.cutTraces, process.cutTraces == 1 ? "" : "s");
        if (process.text.empty() || !writeText(path, process.text)) {
            fprintf(stderr, "tracerecover: %s: cannot write\n", path.empty() ? "-" : path.c_str());
            status = 1;
        }
    }
    if (recovery.processes.empty() && recovery.errors.empty()) {
        fputs("tracerecover: no ring files found\n", stderr);
        status = 1;
    }
    return status;
}
