// A real rsyslogd started by a test, never the machine's own: its own
// configuration, socket, pid file, work directory and output file, all in a
// temporary directory that goes with the object. The daemon writes every
// message it receives to the output file exactly as it arrived (%rawmsg%),
// one per line.
#ifndef TRACELIB_TESTS_SYSLOGDAEMON_H
#define TRACELIB_TESTS_SYSLOGDAEMON_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class SyslogDaemon {
public:
    using Lines = std::vector<std::string>;

    SyslogDaemon();  // makes the directory; the daemon is not started
    ~SyslogDaemon();
    SyslogDaemon(const SyslogDaemon&) = delete;
    SyslogDaemon& operator=(const SyslogDaemon&) = delete;

    static bool installed();
    // Starts the daemon and waits until its socket takes datagrams.
    bool start();
    void signal(int signo);  // SIGSTOP, SIGCONT: the daemon's whole process
    void kill();             // SIGKILL, and reaped; the socket file stays
    // The directory holds the socket as "log", so it can stand in for /dev.
    const std::string& directory() const { return dir_; }
    std::string socketPath() const { return dir_ + "/log"; }
    Lines lines() const;
    // Polls lines() until done accepts them; false after `seconds`.
    bool waitFor(const std::function<bool(const Lines&)>& done, double seconds) const;

private:
    std::string dir_;
    pid_t pid_ = -1;
};

// True when a datagram socket can be connected to path (someone is bound).
bool socketTakesDatagrams(const std::string& path);

#endif
