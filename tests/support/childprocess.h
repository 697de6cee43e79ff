#pragma once

#include <QDeadlineTimer>
#include <QThread>

#include <QByteArray>

#include <csignal>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

/// Runs `work` in a child process: false when it has not ended within `ms` (it is then
/// killed), so that a call that blocks fails the test instead of hanging it.
template <typename Work> bool endsWithin(int ms, Work work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        ::_exit(0);
    }
    if (child < 0)
        return false;
    const QDeadlineTimer deadline(ms);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

/// Runs `work` in a child that first mounts a drive of `type` at `folder`, in a mount namespace
/// of its own: the work's exit code, or -1 where no such drive can be mounted here.
inline int onOwnDrive(const QByteArray &folder, const char *type, const char *options,
                      const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(type, folder.constData(), type, 0, options) != 0)
            ::_exit(100);
        ::_exit(work());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -2;
    return WEXITSTATUS(status) == 100 ? -1 : WEXITSTATUS(status);
}
