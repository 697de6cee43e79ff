#include "helpwindows.h"

#include "form2.h"
#include "frmabout.h"

#include <QApplication>

HelpWindows::HelpWindows(FileOperations &files, Registry &registry, Launcher &launcher,
                         MessageBoxes &messages, QString programFolder)
    : m_files(files), m_registry(registry), m_launcher(launcher), m_messages(messages),
      m_programFolder(std::move(programFolder))
{}

HelpWindows::~HelpWindows()
{
    delete m_help;
    delete m_about;
}

namespace {
void toFront(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

void HelpWindows::mnuH_Click()
{
    if (!m_help) {
        m_help = new Form2(m_files, m_programFolder);
        m_help->setWindowIcon(QApplication::windowIcon());
        m_help->Form_Load();
    }
    toFront(m_help);
}

void HelpWindows::mnuVa_Click()
{
    if (!m_about) {
        m_about = new frmAbout(m_registry, m_files, m_launcher, m_messages);
        m_about->setWindowIcon(QApplication::windowIcon());
        m_about->Form_Load();
    }
    toFront(m_about);
}
