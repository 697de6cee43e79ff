#pragma once

#include <QString>

/// The system's text for an errno value, in the user's locale.
QString systemErrorText(int errorNumber);

/// Outcome of one operation on the outside world: success, or the system's reason for failing
/// and, where the caller knows it, the file that failed.
struct OpResult
{
    bool ok = true;
    QString error;
    QString path;
    /// The errno behind a failure of the system, 0 for others.
    int systemError = 0;

    static OpResult success() { return {}; }
    static OpResult failure(QString reason, QString path = {})
    {
        return {false, std::move(reason), std::move(path), 0};
    }
    /// A failure of the system: its errno and its own text for it.
    static OpResult systemFailure(int error, QString path = {})
    {
        return {false, systemErrorText(error), std::move(path), error};
    }
    explicit operator bool() const { return ok; }
};
