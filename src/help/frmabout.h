#pragma once

#include "fileoperations.h"
#include "messageboxes.h"
#include "registry.h"

#include <QDialog>

class QLabel;
class QPushButton;

/// The About window: icon, title, version, description and warning, and a button that starts
/// the system-information tool.
class frmAbout final : public QDialog
{
    Q_OBJECT

public:
    frmAbout(Registry &registry, FileOperations &files, Launcher &launcher, MessageBoxes &messages,
             QWidget *parent = nullptr);

    /// Sets the caption and the title and version labels.
    void Form_Load();

    QLabel *picIcon;
    QLabel *lblTitle;
    QLabel *lblVersion;
    QLabel *lblDescription;
    QLabel *lblDisclaimer;
    QPushButton *cmdOK;
    QPushButton *cmdSysInfo;

private:
    void cmdSysInfo_Click();

    Registry &m_registry;
    FileOperations &m_files;
    Launcher &m_launcher;
    MessageBoxes &m_messages;
};
