#pragma once

#include "messageboxes.h"

class QWidget;

/// Message boxes shown with QMessageBox, centred over the window the user is working in (the
/// one that caused the message), else over the given window.
class QtMessageBoxes final : public MessageBoxes
{
public:
    explicit QtMessageBoxes(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }
    void inform(const QString &text) override;
    bool retryOrCancel(const QString &text) override;
    bool askYesNo(const QString &text) override;

    /// The window a message shown now belongs to.
    QWidget *owner() const;

private:
    QWidget *m_parent;
};
