// Runs real batches and nothing else, so that a test can kill one at any moment or run two at
// once. Arguments: [repeat N] journal-folder source-folder target-folder move overwrite base
// start digits unnamed-files; each batch's record goes to the undo history in the journal
// folder, as the window keeps it. Repeated batches take the base name with the run's number
// and "-" after it.
// Or: undo journal-folder.
// Every file of the source folder is selected, in byte order of the names.

#include "filenames.h"
#include "paths.h"
#include "posixfileoperations.h"
#include "quietjob.h"
#include "renamejob.h"
#include "undo.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

namespace {

class SilentMessages final : public MessageBoxes
{
public:
    void inform(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    bool retryOrCancel(const QString &) override { return false; }
    bool askYesNo(const QString &) override { return false; }
};

/// Keeps each batch in the shared history, and nothing else.
class HistoryHost final : public JobHost
{
public:
    HistoryHost(FileOperations &files, QString path) : m_files(files), m_path(std::move(path)) {}
    OpResult refreshLists() override { return {}; }
    OpResult saveData() override { return {}; }
    void focusBaseName() override {}
    UndoRecording recordForUndo(const JobResult &result) override
    {
        UndoHistoryFile history(m_files, m_path);
        return {history.record(result), history.takeSetAsideNote()};
    }

private:
    FileOperations &m_files;
    QString m_path;
};

QString historyIn(const QString &folder)
{
    return Paths::join(folder, QLatin1String(UndoHistory::fileName));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    PosixFileOperations undoFiles;
    // "undo journal-folder": undoes the newest batch of the history in that folder.
    if (argc == 3 && QByteArray(argv[1]) == "undo") {
        const QString folder = FileNames::decode(QByteArray(argv[2]));
        UndoHistoryFile historyFile(undoFiles, historyIn(folder));
        UndoHistory history;
        if (!historyFile.read(history) || history.isEmpty())
            return 3;
        UndoHistoryFile::Claimed claimed;
        OpResult failure;
        if (historyFile.claimNewest(history.newest().id, claimed, failure) !=
            UndoHistoryFile::Claim::Taken)
            return 3;
        std::printf("ready\n");
        std::fflush(stdout);
        return undoBatch(undoFiles, claimed.entry, folder).leftAlone.isEmpty() ? 0 : 1;
    }
    int first = 1;
    int runs = 1;
    if (argc > 3 && QByteArray(argv[1]) == "repeat") {
        runs = QByteArray(argv[2]).toInt();
        first = 3;
    }
    if (argc - first != 9 || runs < 1)
        return 2;
    const auto arg = [&](int i) { return FileNames::decode(QByteArray(argv[first + i - 1])); };
    RenameRequest request;
    request.sourceFolder = arg(2);
    request.targetFolder = arg(3);
    request.move = arg(4) == QLatin1String("1");
    request.overwrite = arg(5) == QLatin1String("1");
    request.startNumberText = arg(7);
    request.digitCountText = arg(8);
    request.extension = QStringLiteral("jpg");

    PosixFileOperations files(PosixFileOperations::Options{arg(9) == QLatin1String("1")});
    QStringList names;
    if (!files.listFiles(request.sourceFolder, names))
        return 3;
    std::vector<std::pair<QByteArray, QString>> keyed;
    for (const QString &name : std::as_const(names))
        keyed.emplace_back(FileNames::encode(name), name);
    std::sort(keyed.begin(), keyed.end());
    names.clear();
    for (const auto &[bytes, name] : keyed)
        names.append(name);
    for (const QString &name : std::as_const(names))
        request.entries.push_back({name, true});

    QuietProgress progress;
    HistoryHost host(files, historyIn(arg(1)));
    SilentMessages messages;
    RenameJob job(files, progress, messages, host, arg(1));
    std::printf("ready\n");
    std::fflush(stdout);
    bool completed = true;
    for (int run = 0; run < runs; ++run) {
        request.baseName = runs == 1 ? arg(6) : arg(6) + QString::number(run) + QLatin1Char('-');
        const JobResult result = job.run(request);
        completed = completed && result.outcome == JobResult::Outcome::Completed &&
                    result.undoRecording.saved;
    }
    return completed ? 0 : 1;
}
