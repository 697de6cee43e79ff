#include "form1.h"
#include "helpwindows.h"
#include "posixfileoperations.h"
#include "programfiles.h"
#include "programicon.h"
#include "qtmessageboxes.h"
#include "registry.h"
#include "volumes.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

/// The program's options: only --help and --version.
struct CommandLine
{
    CommandLine()
    {
        parser.setApplicationDescription(
            QStringLiteral("選んだファイルを連番の名前でコピー、または移動します。"));
    }
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
};

/// --help and --version are answered on the terminal before any window system is needed, so
/// they work without a display. Every other argument is left to the application.
void answerOnTheTerminal(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CommandLine line;
    // Options of the window system (-platform, -style) are unknown here; they are not errors.
    line.parser.parse(arguments);
    const bool help = line.parser.isSet(line.help) ||
                      line.parser.optionNames().contains(QStringLiteral("help-all"));
    if (!help && !line.parser.isSet(line.version))
        return;
    QCoreApplication terminal(argc, argv);
    if (help)
        line.parser.showHelp(); // exits
    line.parser.showVersion();  // exits
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("カエナミ"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KAENAMI_VERSION));
    answerOnTheTerminal(argc, argv);

    QApplication app(argc, argv);
    CommandLine().parser.process(app);
    QGuiApplication::setDesktopFileName(QStringLiteral(KAENAMI_APP_ID));
    QApplication::setWindowIcon(ProgramIcon::icon());
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);

    PosixFileOperations files;
    SystemVolumes volumes;
    QtMessageBoxes messages;
    DesktopRegistry registry;
    ProcessLauncher launcher;
    const ProgramFiles programFiles(ProgramEnvironment::system());
    // A folder that cannot be made shows as the failure of the first save into it.
    programFiles.makeDataFolder();
    HelpWindows helpWindows(files, registry, launcher, messages, programFiles.helpFolder());
    Form1 form(Form1Services{files, volumes, messages, programFiles.dataFolder(),
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
