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

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("選んだファイルを連番の名前でコピー、または移動します。"));
    parser.addHelpOption();
    parser.addVersionOption();
}

/// --help and --version are answered on the terminal before any window system is needed, so
/// they work without a display. Every other argument is left to the application.
void answerOnTheTerminal(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    describeCommandLine(parser);
    // Options of the window system (-platform, -style) are unknown here; they are not errors.
    parser.parse(arguments);
    const QStringList given = parser.optionNames();
    const bool version =
        given.contains(QStringLiteral("version")) || given.contains(QStringLiteral("v"));
    const bool help = given.contains(QStringLiteral("help")) ||
                      given.contains(QStringLiteral("h")) || given.contains(QStringLiteral("?")) ||
                      given.contains(QStringLiteral("help-all"));
    if (!version && !help)
        return;
    QCoreApplication terminal(argc, argv);
    if (help)
        parser.showHelp(); // exits
    parser.showVersion();  // exits
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("カエナミ"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KAENAMI_VERSION));
    answerOnTheTerminal(argc, argv);

    QApplication app(argc, argv);
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(app);
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
