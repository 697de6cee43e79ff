#pragma once

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
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
