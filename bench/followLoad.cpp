// tracelib_follow_load [RATE [RING [SECONDS]]]: a host recording RATE FC
// traces a second (default 100,000) into a ring of RING records (default
// 4096) kept in a file, followed by `tracerecover --follow` the whole time.
// Prints the follower's share of one CPU, its lag (from the time a trace
// records to the moment its line can be read from the follower, median and
// 99th percentile), and the traces printed, missing, twice or out of order
// against the records the follower reported lost.
//
// The host numbers its traces in the FC header record's OX_ID and RX_ID (an
// opening record and an FC header record, as a traced FC frame has), paced
// by the real clock every 100 us, making up for at most a millisecond it was
// not scheduled (it prints the rate it reached). Three processes: the
// host, the follower, and this one reading the follower's lines.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "traceApi.h"
#include "traceRecovery.h"

#ifndef TRACELIB_TRACERECOVER
#error "the path of the tracerecover executable is set by the build"
#endif

namespace {

constexpr int64_t kBurstUs = 100;

int64_t realUs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t monotonicUs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Records `rate` numbered traces a second for `seconds`, then exits.
[[noreturn]] void host(const std::string& dir, long rate, int ring, double seconds, int ready)
{
    TraceApi* api = new TraceApi();
    if (traceKeepRingsIn(api, dir.c_str()) != 0 ||
        !api->initTraceBuffer(1, const_cast<char*>("load"), ring, true))
        _exit(3);
    char go = 0;
    if (write(ready, &go, 1) != 1 || read(ready, &go, 1) != 1)
        _exit(3);
    const int64_t start = monotonicUs();
    const int64_t end = start + int64_t(seconds * 1e6);
    // Steady traffic: what is due by the clock, but never more than a
    // millisecond's worth at once (a host that was not scheduled for longer
    // leaves the rest out rather than bursting).
    const uint64_t catchUp = uint64_t(std::max(1L, rate / 1000));
    uint64_t due = 0, sequence = 0;
    for (int64_t now = start; now < end; now = monotonicUs()) {
        const uint64_t clock = uint64_t(now - start) * uint64_t(rate) / 1000000;
        due = std::max(due, clock > catchUp ? clock - catchUp : 0);
        for (; due < clock; due++, sequence++) {
            api->beginTrace();
            api->addToTrace(api->fcHeader_m, 0x06020300, 0x08010200, uint32_t(sequence));
            api->endTrace();
        }
        const struct timespec pause = {0, long(kBurstUs) * 1000};
        nanosleep(&pause, nullptr);
    }
    printf("host: %llu traces recorded, %.0f a second\n", (unsigned long long)sequence,
           double(sequence) / ((double(monotonicUs() - start)) / 1e6));
    fflush(stdout);
    _exit(0);
}

// "1: 2026-12-06 17:00:00.123456  tx r_ctl 06 ... ox_id 0001 rx_id 86a0" -> time, number
bool parseLine(const char* line, int64_t& timeUs, uint32_t& number)
{
    struct tm parts = {};
    int usec = 0;
    unsigned high = 0, low = 0;
    if (sscanf(line, "%*d: %d-%d-%d %d:%d:%d.%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
               &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &usec) != 7)
        return false;
    const char* ids = strstr(line, "ox_id ");
    if (ids == nullptr || sscanf(ids, "ox_id %x rx_id %x", &high, &low) != 2)
        return false;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    timeUs = int64_t(timegm(&parts)) * 1000000 + usec;
    number = high << 16 | low;
    return true;
}

double percentile(std::vector<int64_t>& values, double share)
{
    if (values.empty())
        return 0;
    const size_t at = std::min(values.size() - 1, size_t(share * double(values.size())));
    std::nth_element(values.begin(), values.begin() + ptrdiff_t(at), values.end());
    return double(values[at]);
}

}  // namespace

int main(int argc, char** argv)
{
    const long rate = argc > 1 ? atol(argv[1]) : 100000;
    const int ring = argc > 2 ? atoi(argv[2]) : 4096;
    const double seconds = argc > 3 ? atof(argv[3]) : 5;
    std::string dir = (std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp");
    dir += "/tracelibFollowXXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    int hostPipe[2], lines[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, hostPipe) != 0 || pipe(lines) != 0)
        return 1;
    const pid_t hostPid = fork();
    if (hostPid == 0)
        host(dir, rate, ring, seconds, hostPipe[1]);
    char go = 0;
    if (read(hostPipe[0], &go, 1) != 1)
        return 1;
    const std::string notes = dir + ".notes";
    const int64_t followStart = monotonicUs();
    const pid_t follower = fork();
    if (follower == 0) {
        dup2(lines[1], STDOUT_FILENO);
        int errors = open(notes.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(errors, STDERR_FILENO);
        close(lines[0]);
        execl(TRACELIB_TRACERECOVER, "tracerecover", "--follow", dir.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(lines[1]);
    // Let the follower find the ring before the host starts.
    usleep(200000);
    if (write(hostPipe[0], &go, 1) != 1)
        return 1;

    FILE* in = fdopen(lines[0], "r");
    std::vector<int64_t> lags;
    std::vector<uint8_t> seen;
    long printed = 0, twice = 0, backwards = 0, unparsed = 0;
    long last = -1;
    char line[512];
    while (fgets(line, sizeof line, in) != nullptr) {
        const int64_t now = realUs();
        int64_t time = 0;
        uint32_t number = 0;
        if (!parseLine(line, time, number)) {
            unparsed++;
            continue;
        }
        printed++;
        lags.push_back(now - time);
        if (number >= seen.size())
            seen.resize(number + 1);
        twice += seen[number]++ != 0;
        backwards += long(number) < last;
        last = long(number);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(follower, &status, 0, &usage);
    const int64_t wall = monotonicUs() - followStart;
    waitpid(hostPid, nullptr, 0);
    const long missing = long(std::count(seen.begin(), seen.end(), 0));
    long lost = 0, lostEvents = 0, atLeast = 0;
    if (FILE* n = fopen(notes.c_str(), "r")) {
        for (char text[512]; fgets(text, sizeof text, n) != nullptr;) {
            const char* at = strstr(text, "): ");
            long count = 0;
            if (at != nullptr && sscanf(at, "): at least %ld record", &count) == 1)
                atLeast++;
            else if (at == nullptr || sscanf(at, "): %ld record", &count) != 1)
                continue;
            lost += count;
            lostEvents++;
        }
        fclose(n);
    }
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    printf("rate %ld traces/s, ring %d records, %.1f s\n", rate, ring, seconds);
    printf("follower: %.1f%% of one CPU over %.1f s, exit status %d\n", 100.0 * cpu / double(wall),
           double(wall) / 1e6, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    printf("lag: median %.0f us, p99 %.0f us\n", percentile(lags, 0.5), percentile(lags, 0.99));
    printf("traces: %ld printed, %ld missing, %ld twice, %ld out of order, %ld lines unparsed\n",
           printed, missing, twice, backwards, unparsed);
    printf(
        "lost records reported: %ld in %ld reports (%ld as lower bounds); records of the "
        "missing traces: %ld\n",
        lost, lostEvents, atLeast, 2 * missing);
    std::filesystem::remove_all(dir);
    unlink(notes.c_str());
    return 0;
}
