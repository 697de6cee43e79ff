// Runs one real batch and nothing else, so that a test can kill it at any moment.
// Arguments: journal-folder source-folder target-folder move overwrite base start digits
// unnamed-files; the batch's record goes to the undo history in the journal folder.
// Or: undo journal-folder.
// Every file of the source folder is selected, in byte order of the names.

#include "filenames.h"
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    PosixFileOperations undoFiles;
    // "undo journal-folder": undoes the newest batch of the history in that folder.
    if (argc == 3 && QByteArray(argv[1]) == "undo") {
        const QString folder = FileNames::decode(QByteArray(argv[2]));
        UndoHistory history;
        history.load(undoFiles, folder + QLatin1Char('/') + QLatin1String(UndoHistory::fileName));
        if (history.isEmpty())
            return 3;
        std::printf("ready\n");
        std::fflush(stdout);
        return undoBatch(undoFiles, history.newest(), folder).leftAlone.isEmpty() ? 0 : 1;
    }
    if (argc != 10)
        return 2;
    const auto arg = [&](int i) { return FileNames::decode(QByteArray(argv[i])); };
    RenameRequest request;
    request.sourceFolder = arg(2);
    request.targetFolder = arg(3);
    request.move = arg(4) == QLatin1String("1");
    request.overwrite = arg(5) == QLatin1String("1");
    request.baseName = arg(6);
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
    QuietHost host;
    SilentMessages messages;
    RenameJob job(files, progress, messages, host, arg(1));
    std::printf("ready\n");
    std::fflush(stdout);
    const JobResult result = job.run(request);
    UndoHistory history;
    if (history.push(result))
        history.save(files, arg(1) + QLatin1Char('/') + QLatin1String(UndoHistory::fileName));
    return result.outcome == JobResult::Outcome::Completed ? 0 : 1;
}
