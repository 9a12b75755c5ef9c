#include "syslogDaemon.h"

#include "fileText.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {
const char kDaemon[] = "/usr/sbin/rsyslogd";

void pause(double seconds)
{
    struct timespec t = {time_t(seconds), long((seconds - time_t(seconds)) * 1e9)};
    nanosleep(&t, nullptr);
}

double now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}
}  // namespace

bool socketTakesDatagrams(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bool ok = fd >= 0 && connect(fd, (struct sockaddr*)&address, sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

SyslogDaemon::SyslogDaemon()
{
    std::string pattern = "/tmp/tracelib-syslogXXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return;
    dir_ = pattern;
    std::ofstream(dir_ + "/rsyslog.conf")
        << "global(workDirectory=\"" << dir_ << "\")\n"
        << "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
        << "input(type=\"imuxsock\" Socket=\"" << socketPath() << "\" RateLimit.Interval=\"0\")\n"
        << "template(name=\"asReceived\" type=\"string\" string=\"%rawmsg%\\n\")\n"
        << "*.* action(type=\"omfile\" file=\"" << dir_ << "/messages\" template=\"asReceived\")\n";
}

SyslogDaemon::~SyslogDaemon()
{
    kill();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool SyslogDaemon::installed()
{
    return access(kDaemon, X_OK) == 0;
}

bool SyslogDaemon::start()
{
    if (dir_.empty() || pid_ > 0)
        return false;
    std::string conf = dir_ + "/rsyslog.conf", pidFile = dir_ + "/rsyslogd.pid";
    pid_ = fork();
    if (pid_ == 0) {
        int out = open((dir_ + "/rsyslogd.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, 1);
        dup2(out, 2);
        execl(kDaemon, kDaemon, "-n", "-f", conf.c_str(), "-i", pidFile.c_str(), (char*)nullptr);
        _exit(127);
    }
    for (double end = now() + 20; now() < end; pause(0.02)) {
        if (socketTakesDatagrams(socketPath()))
            return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
    }
    return false;
}

void SyslogDaemon::signal(int signo)
{
    if (pid_ > 0)
        ::kill(pid_, signo);
}

void SyslogDaemon::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

SyslogDaemon::Lines SyslogDaemon::lines() const
{
    // Only whole lines: the daemon may be writing the last one.
    Lines out;
    std::string text = readFile(dir_ + "/messages");
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

bool SyslogDaemon::waitFor(const std::function<bool(const Lines&)>& done, double seconds) const
{
    for (double end = now() + seconds;; pause(0.02)) {
        if (done(lines()))
            return true;
        if (now() > end)
            return false;
    }
}
