#include "batchcommand.h"
#include "console.h"
#include "desktopsetup.h"
#include "filenames.h"
#include "form1.h"
#include "helpwindows.h"
#include "posixfileoperations.h"
#include "programfiles.h"
#include "programicon.h"
#include "programoptions.h"
#include "qtmessageboxes.h"
#include "registry.h"
#include "volumes.h"

#include <QApplication>

#include <optional>

namespace {

/// Everything but the window is answered on the terminal before any window system is needed,
/// so that --help, --version and the batches work without a display. Nothing when the window
/// is to open.
std::optional<int> answerOnTheTerminal(int &argc, char **argv, ProgramOptions &options,
                                       ProgramOptions::Request request)
{
    if (request == ProgramOptions::Request::Window)
        return std::nullopt;
    QCoreApplication terminal(argc, argv);
    StandardConsole console;
    switch (request) {
    case ProgramOptions::Request::Window:
        break;
    case ProgramOptions::Request::UnknownOption:
        console.writeError(options.error() + QLatin1Char('\n'));
        return 1;
    case ProgramOptions::Request::UsageError:
        console.writeError(options.error() + QLatin1Char('\n'));
        return BatchExit::usage;
    case ProgramOptions::Request::Help:
        console.writeOutput(options.helpText());
        return 0;
    case ProgramOptions::Request::Version:
        // The name people read, as the window titles give it (the application's name is the
        // ASCII one the desktop knows).
        console.writeOutput(QStringLiteral("カエナミ %1\n").arg(QStringLiteral(KAENAMI_VERSION)));
        return 0;
    case ProgramOptions::Request::Rename:
    case ProgramOptions::Request::Undo: {
        PosixFileOperations files;
        const ProgramFiles programFiles(ProgramEnvironment::system());
        // A folder that cannot be made shows as the failure of the batch's journal.
        programFiles.makeDataFolder();
        const BatchPlaces places{programFiles.dataFolder(), programFiles.otherJournalFolder()};
        return request == ProgramOptions::Request::Rename
                   ? runRename(files, console, places, options.renameCommand())
                   : runUndo(files, console, places, options.yes());
    }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    DesktopSetup::nameApplication();
    // Paths keep their exact bytes, whatever the locale makes of them.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(FileNames::decode(QByteArray(argv[i])));
    ProgramOptions options;
    const ProgramOptions::Request request = options.parse(arguments);
    if (const std::optional<int> status = answerOnTheTerminal(argc, argv, options, request))
        return *status;

    QApplication app(argc, argv);
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
    form.Form_Load(options.paths());
    form.show();
    return app.exec();
}
