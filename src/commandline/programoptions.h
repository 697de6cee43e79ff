#pragma once

#include "batchcommand.h"

#include <QCommandLineParser>
#include <QStringList>

/// The program's command line: the paths the window opens, --help and --version, and the
/// batches run without a window (--rename, --undo). Qt's own window-system options are known,
/// so that they are neither unknown nor taken for paths, and left to Qt; a batch refuses them.
class ProgramOptions
{
public:
    enum class Request
    {
        Window,
        Help,
        Version,
        Rename,
        Undo,
        UnknownOption, ///< for the window: exit status 1, as ever
        UsageError,    ///< a batch's command line that cannot be used: exit status 2
    };

    ProgramOptions();
    /// Reads `arguments`, the program's name first.
    Request parse(const QStringList &arguments);

    /// The message of an unknown option or a usage error.
    QString error() const { return m_error; }
    /// The paths the window opens (Request::Window).
    QStringList paths() const { return m_parser.positionalArguments(); }
    const RenameCommand &renameCommand() const { return m_rename; }
    /// --undo without its question.
    bool yes() const { return m_parser.isSet(m_yes); }
    QString helpText() const { return m_parser.helpText(); }

private:
    Request usageError(const QString &message);
    /// Reads the options of --rename; false (with the error set) when they cannot be used.
    bool readRename();

    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_renameOption{QStringLiteral("rename")};
    QCommandLineOption m_undoOption{QStringLiteral("undo")};
    QCommandLineOption m_base{QStringLiteral("base"), QString(), QStringLiteral("NAME")};
    QCommandLineOption m_start{QStringLiteral("start"), QString(), QStringLiteral("N")};
    QCommandLineOption m_digits{QStringLiteral("digits"), QString(), QStringLiteral("D")};
    QCommandLineOption m_ext{QStringLiteral("ext"), QString(), QStringLiteral("EXT")};
    QCommandLineOption m_move{QStringLiteral("move")};
    QCommandLineOption m_overwrite{QStringLiteral("overwrite")};
    QCommandLineOption m_order{QStringLiteral("order"), QString(), QStringLiteral("ORDER")};
    QCommandLineOption m_dryRun{QStringLiteral("dry-run")};
    QCommandLineOption m_to{QStringLiteral("to"), QString(), QStringLiteral("TARGET")};
    QCommandLineOption m_yes{QStringLiteral("yes")};
    /// Qt's own, for the window only.
    QList<QCommandLineOption> m_windowOptions;
    QString m_error;
    RenameCommand m_rename;
};
