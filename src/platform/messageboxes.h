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
    /// Question icon, Yes and No (No is the default, Escape answers No). True for Yes.
    virtual bool askYesNo(const QString &text) = 0;
};
