#pragma once

#include <QString>

/// The program's message boxes, titled カエナミ.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    /// Modal, OK only, no icon.
    virtual void inform(const QString &text) = 0;
    /// Information icon, Retry (default) and Cancel. True for Retry; closing counts as Cancel.
    virtual bool retryOrCancel(const QString &text) = 0;
};
