#pragma once

#include "opresult.h"

#include <QString>
#include <QStringList>

#include <functional>

/// What the places of the program's own files depend on. system() reads them from this
/// process; tests fill them in.
struct ProgramEnvironment
{
    /// The folder that holds the executable.
    QString programFolder;
    /// $XDG_CONFIG_HOME as set: empty or relative means unset.
    QString configHome;
    /// The user's home folder.
    QString home;
    /// Where installed data is looked up besides the executable's own prefix ($XDG_DATA_HOME,
    /// then $XDG_DATA_DIRS).
    QStringList dataFolders;
    /// True when this user may create and replace files in the folder.
    std::function<bool(const QString &folder)> writable;

    static ProgramEnvironment system();
};

/// Where the program keeps its own files. A portable copy (its folder writable, with the help
/// text or the program's data files beside the executable) keeps the settings file, the
/// extension list, the batch journals and the undo history beside the executable, and reads
/// Readme.txt there. An installed copy keeps them in $XDG_CONFIG_HOME/kaenami
/// (~/.config/kaenami) and reads Readme.txt from <prefix>/share/kaenami. This is the only place
/// that decides.
class ProgramFiles
{
public:
    explicit ProgramFiles(const ProgramEnvironment &environment);

    bool installed() const { return m_installed; }
    /// The folder of the settings file, the extension list, the journals and the undo history.
    QString dataFolder() const { return m_dataFolder; }
    /// The folder of Readme.txt.
    QString helpFolder() const { return m_helpFolder; }
    /// The other folder a batch journal may have been left in, should the decision have gone
    /// the other way at an earlier start (a folder made read-only since, files moved); empty
    /// when there is none.
    QString otherJournalFolder() const { return m_otherJournalFolder; }

    /// Makes the data folder when it is missing; every folder it makes is private to the user
    /// (0700), as the XDG base directories are.
    OpResult makeDataFolder() const;

    /// The folder under the configuration home and under share/.
    static constexpr const char *folderName = "kaenami";
    static constexpr const char *helpFileName = "Readme.txt";

private:
    bool m_installed = false;
    QString m_dataFolder;
    QString m_helpFolder;
    QString m_otherJournalFolder;
};
