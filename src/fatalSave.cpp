// traceSaveOnFatalSignal: the saved trace file written from the handler of
// a fatal signal, after which the signal takes the course it would have
// taken without the handler.
//
// Everything that can be done ahead is done at install time: the path is
// copied, the file created, and an alternate signal stack set up (unless
// the host has one) so that a stack overflow can still be saved.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "recoveryHooks.h"
#include "traceApi.h"
#include "traceRecovery.h"

namespace {
const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const int kFatalSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
const size_t kAltStackSize = 64 * 1024;

TraceApi* saveApi = nullptr;
char* savePath = nullptr;   // owned
bool installed = false;
struct sigaction previous[kFatalSignalCount];
volatile sig_atomic_t saving = 0;

int slotOf(int signo)
{
    for (int i = 0; i < kFatalSignalCount; i++)
        if (kFatalSignals[i] == signo)
            return i;
    return 0;
}

// A fault inside the save: no second attempt, the default action now.
void dieAtOnce(int signo)
{
    signal(signo, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signo);
    _exit(128 + signo);
}

void onFatalSignal(int signo, siginfo_t* info, void*)
{
    if (saving)
        dieAtOnce(signo);
    saving = 1;
    if (saveApi != nullptr)
        saveApi->saveTrace(savePath);
    sigaction(signo, &previous[slotOf(signo)], nullptr);
    // A fault of the instruction itself comes again when the handler
    // returns; a signal that was sent (kill, raise, abort) must be sent
    // again. Either way the previous disposition now deals with it.
    if (info == nullptr || info->si_code <= 0)
        raise(signo);
    saving = 0;
}

int setAltStack()
{
    stack_t current;
    if (sigaltstack(nullptr, &current) != 0)
        return errno;
    if (!(current.ss_flags & SS_DISABLE))
        return 0;
    stack_t stack;
    stack.ss_sp = new char[kAltStackSize];
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, nullptr) != 0) {
        int error = errno;
        delete[] static_cast<char*>(stack.ss_sp);
        return error;
    }
    return 0;
}

int install()
{
    int error = setAltStack();
    if (error != 0)
        return error;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kFatalSignalCount; i++)
        if (sigaction(kFatalSignals[i], &action, &previous[i]) != 0)
            return errno;
    installed = true;
    return 0;
}
}

int traceSaveOnFatalSignal(TraceApi* api, const char* path)
{
    if (api == nullptr || path == nullptr)
        return EINVAL;
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    close(fd);
    size_t length = strlen(path) + 1;
    char* copy = new char[length];
    memcpy(copy, path, length);
    if (!installed) {
        int error = install();
        if (error != 0) {
            delete[] copy;
            return error;
        }
    }
    delete[] savePath;
    savePath = copy;
    saveApi = api;
    return 0;
}

void forgetFatalSave(TraceApi* api)
{
    if (saveApi == api)
        saveApi = nullptr;
}
