#pragma once

#include "console.h"
#include "fileoperations.h"

#include <QString>
#include <QStringList>

/// Exit statuses of a batch run without a window.
namespace BatchExit {
constexpr int done = 0;    ///< every file done (or, for a dry run, the batch would do them all)
constexpr int notDone = 1; ///< refused, interrupted, or something left undone
constexpr int usage = 2;   ///< the command line cannot be used
} // namespace BatchExit

/// Where a run keeps its batch journals and the undo history, as the window does.
struct BatchPlaces
{
    QString dataFolder;
    /// Where an earlier start may have left a journal as well; empty for none.
    QString otherJournalFolder;
};

/// `kaenami --rename`: the window's entries, given as options.
struct RenameCommand
{
    enum class Order
    {
        Name,     ///< the window's natural order
        Taken,    ///< date taken, else modification time
        Modified, ///< modification time
        Given,    ///< the command line's order
    };

    QString baseName;
    QString startNumberText = QStringLiteral("1");
    QString digitCountText = QStringLiteral("4");
    QString extension = QStringLiteral("jpg");
    bool move = false;
    bool overwrite = false;
    bool dryRun = false;
    Order order = Order::Name;
    QString target;
    QStringList files;
};

/// Runs the batch on the same job, journal, trash and undo history as the window, writing
/// neither the settings file nor the extension list; abandoned journals are recovered first.
/// A dry run changes nothing: it prints each file's old and new name and what the batch would
/// do on standard output, and the message of a batch that would be refused on standard error.
int runRename(FileOperations &files, Console &console, const BatchPlaces &places,
              const RenameCommand &command);

/// Undoes the newest batch of the shared history, whichever window or run made it, after a
/// question on a terminal unless `yes`.
int runUndo(FileOperations &files, Console &console, const BatchPlaces &places, bool yes);

/// The message when the history holds no batch.
QString nothingToUndoMessage();
