#include "batchcommand.h"

#include "batchjournal.h"
#include "consoleoutput.h"
#include "filenames.h"
#include "givenpaths.h"
#include "namecheckmodel.h"
#include "naturalorder.h"
#include "renamejob.h"
#include "sourceorder.h"
#include "undo.h"

#include <QSet>

namespace {

QString historyPath(const BatchPlaces &places)
{
    return places.dataFolder + QLatin1Char('/') + QLatin1String(UndoHistory::fileName);
}

/// A batch cut short by a crash is put right before anything else, as the window's start does.
/// True when there was one.
bool recoverAbandoned(FileOperations &files, const BatchPlaces &places, MessageBoxes &messages)
{
    QStringList recovered;
    for (const QString &folder : {places.dataFolder, places.otherJournalFolder}) {
        if (folder.isEmpty())
            continue;
        if (const QString text = recoverAbandonedBatches(files, folder); !text.isEmpty())
            recovered.append(text);
    }
    if (recovered.isEmpty())
        return false;
    messages.inform(recovered.join(QLatin1String("\r\n\r\n")));
    return true;
}

/// The window's steps after a batch that a run without a window has: the undo record only.
class HeadlessHost final : public JobHost
{
public:
    HeadlessHost(FileOperations &files, QString historyPath)
        : m_files(files), m_historyPath(std::move(historyPath))
    {}
    UndoRecording recordForUndo(const JobResult &result) override
    {
        UndoHistoryFile history(m_files, m_historyPath);
        const OpResult saved = history.record(result);
        return {saved, history.takeSetAsideNote()};
    }
    OpResult refreshLists() override { return OpResult::success(); }
    OpResult saveData() override { return OpResult::success(); }
    void focusBaseName() override {}

private:
    FileOperations &m_files;
    QString m_historyPath;
};

/// The request the command describes: its files looked at, in one folder, in its order.
bool makeRequest(FileOperations &files, const RenameCommand &command, RenameRequest &request,
                 QString &problem)
{
    const GivenPath target = lookAtGivenPath(files, command.target);
    if (target.kind != GivenPath::Kind::Folder) {
        problem = target.kind == GivenPath::Kind::Problem
                      ? target.problem
                      : QStringLiteral("--to にはコピー先のフォルダーを指定してください。");
        return false;
    }
    QStringList names;
    QSet<QString> named;
    QString folder;
    for (const QString &path : command.files) {
        const GivenPath file = lookAtGivenPath(files, path);
        if (file.kind != GivenPath::Kind::File) {
            problem = file.kind == GivenPath::Kind::Problem
                          ? file.problem
                          : QStringLiteral(
                                "「%1」はフォルダーです。リネームするファイルを指定してください。")
                                .arg(FileNames::display(path));
            return false;
        }
        if (folder.isEmpty())
            folder = file.folder;
        if (file.folder != folder) {
            problem = GivenPathMessages::severalFolders(folder, file.folder);
            return false;
        }
        // The same file named twice is renamed once.
        if (!named.contains(file.name)) {
            named.insert(file.name);
            names.append(file.name);
        }
    }
    switch (command.order) {
    case RenameCommand::Order::Given:
        break;
    case RenameCommand::Order::Name:
        NaturalOrder::sort(names);
        break;
    case RenameCommand::Order::Taken:
    case RenameCommand::Order::Modified:
        NaturalOrder::sort(names);
        SourceOrder::sort(files, folder,
                          command.order == RenameCommand::Order::Taken ? ListOrder::Taken
                                                                       : ListOrder::Modified,
                          names);
        break;
    }
    request.baseName = command.baseName;
    request.startNumberText = command.startNumberText;
    request.digitCountText = command.digitCountText;
    request.extension = command.extension;
    request.move = command.move;
    request.overwrite = command.overwrite;
    request.sourceFolder = folder;
    request.targetFolder = target.folder;
    request.entries.reserve(size_t(names.size()));
    for (const QString &name : std::as_const(names))
        request.entries.push_back({name, true});
    return true;
}

/// What the batch would do, in the name check's words, and whether it would do it all: the
/// job's own checks decide, on the files as they are now.
int dryRun(FileOperations &files, Console &console, MessageBoxes &messages,
           const RenameRequest &request)
{
    OpenFolder target;
    const int nameMax =
        files.openFolder(request.targetFolder, target) ? files.nameMax(target) : 255;
    QStringList targetNames;
    files.listFiles(request.targetFolder, targetNames);
    // The folders as the batch sees them: letter case, links, one folder under two paths.
    NameCheckModel check;
    check.setFileOperations(&files);
    check.setRequest(request, targetNames, nameMax);
    QString lines;
    for (int row = 0; row < check.rowCount(); ++row) {
        const auto text = [&](int column) {
            return check.data(check.index(row, column)).toString();
        };
        const QString newName = text(NameCheckModel::NewNameColumn);
        lines += text(NameCheckModel::OldNameColumn) +
                 (newName.isEmpty() ? QString() : QStringLiteral(" → ") + newName) +
                 QLatin1Char('\t') + text(NameCheckModel::OutcomeColumn) + QLatin1Char('\n');
    }
    console.writeOutput(lines);

    const BatchPlan plan = planBatch(request, nameMax);
    QString refusal;
    if (!plan.digitCheckPassed)
        refusal = RenameJob::digitCheckMessage();
    else if (plan.stop == BatchPlan::Stop::StartOutOfRange)
        refusal = RenameJob::startOutOfRangeMessage(request.startNumberText);
    else if (plan.nameProblem != NameProblem::None)
        refusal = RenameJob::nameRefusedMessage(plan, nameMax);
    if (!refusal.isEmpty()) {
        messages.inform(refusal);
        return BatchExit::notDone;
    }
    const BatchLayout layout = layOutBatch(request, plan, files);
    if (!layout.stranded.isEmpty())
        refusal = RenameJob::strandedMessage(layout);
    else if (!layout.blocked.isEmpty())
        refusal = RenameJob::blockedMessage(layout);
    if (!refusal.isEmpty()) {
        messages.inform(refusal);
        return BatchExit::notDone;
    }
    console.writeOutput(ConsoleMessages::asLines(check.summary()));
    // A batch that would stop on the way (the same name, the number limit) does not do it all.
    const bool stops =
        layout.reached < plan.items.size() || plan.stop == BatchPlan::Stop::NumberOverflow;
    return stops ? BatchExit::notDone : BatchExit::done;
}

} // namespace

int runRename(FileOperations &files, Console &console, const BatchPlaces &places,
              const RenameCommand &command)
{
    TerminalProgress progress(console);
    ConsoleMessages messages(console, progress);
    if (!command.dryRun)
        recoverAbandoned(files, places, messages);
    RenameRequest request;
    if (QString problem; !makeRequest(files, command, request, problem)) {
        messages.inform(problem);
        return BatchExit::usage;
    }
    if (command.dryRun)
        return dryRun(files, console, messages, request);

    HeadlessHost host(files, historyPath(places));
    // Ctrl+C stops the batch after the file it is on, as Esc does in the window.
    const InterruptRequest interrupt;
    progress.setStopCheck([&interrupt] { return interrupt.requested(); });
    RenameJob job(files, progress, messages, host, places.dataFolder);
    const JobResult result = job.run(request);
    progress.clearLine();
    return result.outcome == JobResult::Outcome::Completed ? BatchExit::done : BatchExit::notDone;
}

int runUndo(FileOperations &files, Console &console, const BatchPlaces &places, bool yes)
{
    TerminalProgress progress(console);
    ConsoleMessages messages(console, progress);
    // After a batch or undo cut short the newest batch is another than the user meant: the
    // window lets them look first, and so does this.
    if (recoverAbandoned(files, places, messages)) {
        messages.inform(QStringLiteral("途中で止まっていたリネームを片付けたため、何も元に戻して"
                                       "いません。確かめてから、もう一度実行してください。"));
        return BatchExit::notDone;
    }

    UndoHistoryFile historyFile(files, historyPath(places));
    UndoHistory history;
    const OpResult read = historyFile.read(history);
    if (const QString note = historyFile.takeSetAsideNote(); !note.isEmpty())
        messages.inform(note);
    if (!read) {
        messages.inform(historyRefusedMessage(read));
        return BatchExit::notDone;
    }
    if (history.isEmpty()) {
        messages.inform(nothingToUndoMessage());
        return BatchExit::notDone;
    }
    // A script or a file manager's action has no one to ask.
    if (!yes && console.inputIsTerminal() && !messages.askYesNo(undoQuestion(history.newest())))
        return BatchExit::notDone;

    // Taken out of the file before anything is touched, as the window does, so that no window
    // undoes it too.
    UndoHistoryFile::Claimed claimed;
    OpResult claimFailure;
    const UndoHistoryFile::Claim claim =
        historyFile.claimNewest(history.newest().id, claimed, claimFailure);
    if (claim != UndoHistoryFile::Claim::Taken) {
        messages.inform(claim == UndoHistoryFile::Claim::Failed
                            ? historyRefusedMessage(claimFailure)
                            : undoChangedMessage());
        return BatchExit::notDone;
    }
    const UndoReport report = undoBatch(files, claimed.entry, places.dataFolder);
    OpResult putBack;
    if (report.tryAgainLater)
        putBack = historyFile.putBack(claimed);
    messages.inform(undoMessage(report, putBack));
    return report.started && report.leftAlone.isEmpty() ? BatchExit::done : BatchExit::notDone;
}

QString nothingToUndoMessage()
{
    return QStringLiteral("元に戻せるリネームはありません。");
}
