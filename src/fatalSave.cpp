// traceSaveOnFatalSignal: the saved trace file written from the handler of
// a fatal signal, after which the signal takes the course it would have
// taken without the handler.
//
// Everything that can be done ahead is done at install time: the path is
// copied, the file created empty (a new file renamed over the path, so a
// previous crash's trace never looks current and no symlink is followed),
// and an alternate signal stack set up for the installing thread (unless it
// has one) so that a stack overflow can still be saved. Other threads get
// theirs from traceGiveThreadSignalStack; each is freed when its thread
// ends.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "recoveryHooks.h"
#include "safeFiles.h"
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

pthread_once_t altStackKeyOnce = PTHREAD_ONCE_INIT;
pthread_key_t altStackKey;
int altStackKeyError = 0;

// At the end of a thread: its stack is switched off, then freed.
void releaseAltStack(void* memory)
{
    stack_t off;
    memset(&off, 0, sizeof off);
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    delete[] static_cast<char*>(memory);
}

void makeAltStackKey()
{
    altStackKeyError = pthread_key_create(&altStackKey, releaseAltStack);
}

int setAltStack()
{
    stack_t current;
    if (sigaltstack(nullptr, &current) != 0)
        return errno;
    if (!(current.ss_flags & SS_DISABLE))
        return 0;
    pthread_once(&altStackKeyOnce, makeAltStackKey);
    if (altStackKeyError != 0)
        return altStackKeyError;
    stack_t stack;
    stack.ss_sp = new char[kAltStackSize];
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    int error = pthread_setspecific(altStackKey, stack.ss_sp);
    if (error == 0 && sigaltstack(&stack, nullptr) != 0)
        error = errno;
    if (error != 0) {
        pthread_setspecific(altStackKey, nullptr);
        delete[] static_cast<char*>(stack.ss_sp);
    }
    return error;
}

// An empty file at path, replacing whatever was there.
int createEmpty(const char* path)
{
    int error = checkDirectoryOf(path);
    if (error != 0)
        return error;
    char* tempPath = nullptr;
    int fd = createFileBeside(path, &tempPath);
    if (fd < 0)
        return errno;
    close(fd);
    if (rename(tempPath, path) != 0) {
        error = errno;
        unlink(tempPath);
    }
    delete[] tempPath;
    return error;
}

int install()
{
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

// The work of traceSaveOnFatalSignal. An allocation failure at any step
// leaves nothing half made but the emptied file.
int installSave(TraceApi* api, const char* path)
{
    int error = createEmpty(path);
    if (error == 0)
        error = setAltStack();
    if (error != 0)
        return error;
    size_t length = strlen(path) + 1;
    char* copy = new char[length];
    memcpy(copy, path, length);
    if (!installed) {
        error = install();
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
}

int traceSaveOnFatalSignal(TraceApi* api, const char* path)
{
    if (api == nullptr || path == nullptr)
        return EINVAL;
    try {
        return installSave(api, path);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

void forgetFatalSave(TraceApi* api)
{
    if (saveApi == api)
        saveApi = nullptr;
}

int traceGiveThreadSignalStack()
{
    try {
        return setAltStack();
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}
