#include "programfiles.h"

#include "filenames.h"
#include "paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isRegularFile(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(FileNames::encode(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(FileNames::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString holdsHelp(const QString &folder)
{
    return isRegularFile(Paths::join(folder, QLatin1String(ProgramFiles::helpFileName)))
               ? folder
               : QString();
}

QString environmentPath(const char *name)
{
    return FileNames::decode(qgetenv(name));
}

} // namespace

ProgramEnvironment ProgramEnvironment::system()
{
    ProgramEnvironment environment;
    environment.programFolder = QCoreApplication::applicationDirPath();
    environment.configHome = environmentPath("XDG_CONFIG_HOME");
    environment.home = environmentPath("HOME");
    if (environment.home.isEmpty()) {
        if (const passwd *user = ::getpwuid(::getuid()); user && user->pw_dir)
            environment.home = FileNames::decode(user->pw_dir);
    }
    environment.dataFolders =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    environment.writable = [](const QString &folder) {
        return ::access(FileNames::encode(folder).constData(), W_OK | X_OK) == 0;
    };
    return environment;
}

ProgramFiles::ProgramFiles(const ProgramEnvironment &environment)
{
    const QString &program = environment.programFolder;
    const QString prefixData =
        QDir::cleanPath(program + QStringLiteral("/../share/") + QLatin1String(folderName));
    const QString besideProgram = holdsHelp(program);

    // Root may write /usr/bin and a user ~/.local/bin, so a writable folder alone does not make
    // a portable copy: the copy must carry its own files beside it, as a build folder or an
    // unpacked archive does. Nothing outside the program's folder takes part, so a file
    // removed from share/ cannot send the settings of an installed copy into /usr/bin.
    const bool carriesItsFiles =
        !besideProgram.isEmpty() ||
        isRegularFile(Paths::join(program, QStringLiteral("DuVuzeRezo.ini"))) ||
        isRegularFile(Paths::join(program, QStringLiteral("ListFile.dat")));
    m_installed = !(carriesItsFiles && environment.writable && environment.writable(program));

    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the XDG base directories say.
    const QString configHome = QDir::isAbsolutePath(environment.configHome)
                                   ? environment.configHome
                                   : Paths::join(environment.home, QStringLiteral(".config"));
    const QString configFolder =
        QDir::cleanPath(Paths::join(configHome, QLatin1String(folderName)));
    m_dataFolder = m_installed ? configFolder : program;
    m_otherJournalFolder = m_installed ? program : configFolder;
    if (m_otherJournalFolder == m_dataFolder)
        m_otherJournalFolder.clear();

    // The first place that holds it; nowhere to be found, the help window reports the file
    // missing where it belongs.
    m_helpFolder = besideProgram;
    QStringList elsewhere{prefixData};
    for (const QString &data : environment.dataFolders)
        elsewhere.append(Paths::join(data, QLatin1String(folderName)));
    for (qsizetype i = 0; m_helpFolder.isEmpty() && i < elsewhere.size(); ++i)
        m_helpFolder = holdsHelp(elsewhere.at(i));
    if (m_helpFolder.isEmpty())
        m_helpFolder = m_installed ? prefixData : program;
}

OpResult ProgramFiles::makeDataFolder() const
{
    QStringList missing;
    QString folder = m_dataFolder;
    while (!isFolder(folder)) {
        missing.prepend(folder);
        const QString parent = Paths::folderOf(folder);
        if (parent == folder)
            break;
        folder = parent;
    }
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(FileNames::encode(path).constData(), 0700) != 0 && errno != EEXIST)
            return OpResult::failure(systemErrorText(errno), path);
    }
    return OpResult::success();
}
