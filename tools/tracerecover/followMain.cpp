#include "followMain.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "follow.h"

namespace {

volatile sig_atomic_t interrupted = 0;

void interrupt(int)
{
    interrupted = 1;
}

// A pipe whose reader has gone reports an error on the writing end: the
// follower stops even while nothing is being recorded.
bool readerGone()
{
    struct pollfd out = {fileno(stdout), POLLOUT, 0};
    return poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0;
}

void sleepUs(int64_t us)
{
    const struct timespec pause = {time_t(us / 1000000), long(us % 1000000) * 1000};
    nanosleep(&pause, nullptr);
}

}  // namespace

int followRings(const std::vector<std::string>& paths)
{
    // A closed output is noticed as EPIPE, and ends the follower quietly.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction stop = {};
    stop.sa_handler = interrupt;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    static char buffer[1 << 16];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

    Follower follower(stdout, stderr);
    if (!follower.start(paths))
        return 1;
    while (!interrupted && !follower.ended()) {
        follower.poll();
        if (fflush(stdout) != 0 || readerGone())
            return errno == EPIPE || readerGone() ? 0 : (perror("tracerecover: output"), 1);
        sleepUs(follower.pause());
    }
    if (interrupted)
        follower.flushComplete();
    if (fflush(stdout) != 0 && errno != EPIPE) {
        perror("tracerecover: output");
        return 1;
    }
    return 0;
}
