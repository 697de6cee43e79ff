#pragma once

#include "renamejob.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class NameCheckModel;
class QLabel;
class QTableView;

/// The modeless "名前の確認" window: for the current selection, every old name beside its new
/// name and what the batch would do with it, following the main window live. Nothing is
/// touched on disk.
class NameCheckWindow final : public QWidget
{
    Q_OBJECT

public:
    using RequestSource = std::function<RenameRequest()>;
    using TargetNames = std::function<const QStringList &()>;
    /// `files`, when given, lets the check read the folders as the batch will.
    NameCheckWindow(RequestSource request, TargetNames targetNames, FileOperations *files = nullptr,
                    QWidget *parent = nullptr);
    ~NameCheckWindow() override;

    /// Computes everything again from the main window's current entries.
    void refresh();

    NameCheckModel *model() const { return m_model; }
    QTableView *table() const { return m_table; }
    /// The one-line summary, or the message that stops the batch before it starts.
    QLabel *summary() const { return m_summary; }

private:
    RequestSource m_request;
    TargetNames m_targetNames;
    NameCheckModel *m_model;
    QLabel *m_summary;
    QTableView *m_table;
};
