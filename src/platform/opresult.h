#pragma once

#include <QString>

/// Outcome of one operation on the outside world: success, or the system's reason for failing
/// and, where the caller knows it, the file that failed.
struct OpResult
{
    bool ok = true;
    QString error;
    QString path;

    static OpResult success() { return {}; }
    static OpResult failure(QString reason, QString path = {})
    {
        return {false, std::move(reason), std::move(path)};
    }
    explicit operator bool() const { return ok; }
};

/// The system's text for an errno value, in the user's locale.
QString systemErrorText(int errorNumber);
