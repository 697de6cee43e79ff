#pragma once

#include "fileoperations.h"
#include "messageboxes.h"
#include "registry.h"

#include "form2.h"
#include "frmabout.h"

#include <QPointer>
#include <QString>

/// Keeps one help window and one About window: each is created (and loaded) on first use,
/// brought to the front while open, and created anew after it was closed.
class HelpWindows
{
public:
    HelpWindows(FileOperations &files, Registry &registry, Launcher &launcher,
                MessageBoxes &messages, QString programFolder);
    ~HelpWindows();

    void mnuH_Click();
    void mnuVa_Click();
    Form2 *help() const { return m_help; }
    frmAbout *about() const { return m_about; }

private:
    FileOperations &m_files;
    Registry &m_registry;
    Launcher &m_launcher;
    MessageBoxes &m_messages;
    QString m_programFolder;
    QPointer<Form2> m_help;
    QPointer<frmAbout> m_about;
};
