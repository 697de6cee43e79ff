#include "desktopsetup.h"
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

#include <cstdio>
#include <cstdlib>

namespace {

/// The program's options: only --help and --version.
struct CommandLine
{
    CommandLine()
    {
        parser.setApplicationDescription(
            QStringLiteral("選んだファイルを連番の名前でコピー、または移動します。"));
        // The window system's options are words after one dash (-reverse, -stylesheet x), not
        // bundles of letters that could read as -v or -h.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    }
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
};

/// --help, --version and unknown options are answered on the terminal before any window
/// system is needed, so they work without a display.
void answerOnTheTerminal(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CommandLine line;
    // The options Qt 6 and its X11 plugin take for themselves.
    for (const char *name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "geometry",
          "name", "title", "visual", "icon", "qmljsdebugger"})
        line.parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "testability"})
        line.parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    line.parser.parse(arguments);
    const bool help = line.parser.isSet(line.help) ||
                      line.parser.optionNames().contains(QStringLiteral("help-all"));
    QStringList unknown = line.parser.unknownOptionNames();
    unknown.removeAll(QStringLiteral("help-all"));
    if (!help && unknown.isEmpty() && !line.parser.isSet(line.version))
        return;
    QCoreApplication terminal(argc, argv);
    if (!unknown.isEmpty()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(QStringLiteral("Unknown option '%1'.").arg(unknown.constFirst())));
        std::exit(1);
    }
    if (help)
        CommandLine().parser.showHelp(); // exits
    // The name people read, as the window titles give it (the application's name is the ASCII
    // one the desktop knows).
    std::printf("%s\n",
                qPrintable(QStringLiteral("カエナミ %1").arg(QStringLiteral(KAENAMI_VERSION))));
    std::exit(0);
}

} // namespace

int main(int argc, char *argv[])
{
    DesktopSetup::nameApplication();
    answerOnTheTerminal(argc, argv);

    QApplication app(argc, argv);
    CommandLine().parser.process(app);
    DesktopSetup::loadQtTranslations();
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
                             [&] { helpWindows.mnuH_Click(); }, [&] { helpWindows.mnuVa_Click(); },
                             programFiles.otherJournalFolder()});
    messages.setParent(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
