#pragma once

#include "fileoperations.h"
#include "messageboxes.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

/// One entry of the source file list, in list order.
struct SourceEntry
{
    QString name;
    bool selected = false;
};

/// Everything a batch reads, taken as it stands when the batch starts.
struct RenameRequest
{
    QString baseName;
    QString startNumberText;
    QString digitCountText; ///< the selected digit count, empty when none is selected
    QString extension;
    bool move = false;
    bool overwrite = false;
    QString sourceFolder;
    std::vector<SourceEntry> entries;
    QString targetFolder;
};

/// The new names of a batch, computed without touching a file.
struct BatchPlan
{
    struct Item
    {
        int entryIndex;
        QString newName;
    };
    enum class Stop
    {
        None,
        StartOutOfRange, ///< the start number does not fit 32 bits: nothing is done
        NumberOverflow,  ///< the last item took number 2147483647: the batch stops after it
    };

    bool digitCheckPassed = false;
    std::vector<Item> items;
    Stop stop = Stop::None;
};

/// Digit check and naming for every selected entry in list order.
BatchPlan planBatch(const RenameRequest &request);

/// The bar that follows a batch.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;
    /// `maximum` is never below `minimum`; a batch of one entry or none gives 0 to 0.
    virtual void setRange(int minimum, int maximum) = 0;
    virtual void setValue(int value) = 0;
    virtual void setVisible(bool visible) = 0;
};

/// The window's steps after a completed batch, in the order the job calls them.
class JobHost
{
public:
    virtual ~JobHost() = default;
    virtual void refreshLists() = 0;
    virtual OpResult saveData() = 0;
    virtual void focusBaseName() = 0;
};

/// One action carried out on the file system, so a batch can tell exactly what it did.
struct JobAction
{
    enum class Kind
    {
        Copied,
        Replaced,
        Moved,
        Removed,
        SetAside,
        Kept
    };
    Kind kind;
    QString from;
    QString to;
};

struct JobResult
{
    enum class Outcome
    {
        DigitCheckFailed,
        SameNameStop,
        Interrupted,
        Completed
    };
    Outcome outcome = Outcome::Completed;
    int filesDone = 0;
    std::vector<JobAction> record;
    OpResult failure;      ///< the failure that interrupted the batch
    QStringList keptFiles; ///< set-aside copies left behind because they hold the only copy
};

/// The rename batch: numbered copies (or moves) of the selected source files in the target
/// folder, with its checks, progress and completion steps.
class RenameJob
{
public:
    RenameJob(FileOperations &files, ProgressDisplay &progress, MessageBoxes &messages,
              JobHost &host);
    JobResult run(const RenameRequest &request);

    static QString digitCheckMessage();
    static QString sameNameMessage();
    static QString completedMessage();
    static QString interruptedMessage(const JobResult &result);

private:
    class Batch;
    FileOperations &m_files;
    ProgressDisplay &m_progress;
    MessageBoxes &m_messages;
    JobHost &m_host;
};
