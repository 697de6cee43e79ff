#include "appicon.h"
#include "form1.h"
#include "helpwindows.h"
#include "posixfileoperations.h"
#include "qtmessageboxes.h"
#include "registry.h"
#include "volumes.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("カエナミ"));
    QApplication::setApplicationVersion(QStringLiteral(KAENAMI_VERSION));
    QApplication::setWindowIcon(programIcon());
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);

    PosixFileOperations files;
    SystemVolumes volumes;
    QtMessageBoxes messages;
    DesktopRegistry registry;
    ProcessLauncher launcher;
    const QString programFolder = QCoreApplication::applicationDirPath();
    HelpWindows helpWindows(files, registry, launcher, messages, programFolder);
    Form1 form(Form1Services{files, volumes, messages, programFolder,
                             [] {
                                 QApplication::closeAllWindows();
                                 QCoreApplication::quit();
                             },
                             [&] { helpWindows.mnuH_Click(); },
                             [&] { helpWindows.mnuVa_Click(); }});
    messages.setParent(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
