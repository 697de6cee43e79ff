// Times the name check's update for 100,000 selected entries against a bare planBatch of the
// same request (the floor), and against the 100 ms goal, on real folders read through the
// program's file operations: a target folder of 100,000 names, and one folder of 150,000.
#include "benchcommon.h"
#include "filenames.h"
#include "namecheckmodel.h"
#include "namecheckwindow.h"
#include "posixfileoperations.h"

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int entryCount = 100000;
constexpr double goalMs = 100;

void makeFiles(const QString &folder, const QStringList &names)
{
    for (const QString &name : names) {
        const int fd = ::open(FileNames::encode(folder + '/' + name).constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            qFatal("cannot make the bench files");
        ::close(fd);
    }
}

/// Another list of the same names, as a re-read of the folder gives.
QStringList reread(const QStringList &names)
{
    QStringList copy;
    copy.reserve(names.size());
    for (const QString &name : names)
        copy.append(name);
    return copy;
}

RenameRequest makeRequest(bool oneFolder, const QString &root)
{
    RenameRequest request;
    request.baseName = QStringLiteral("photo_");
    request.startNumberText = QStringLiteral("1");
    request.digitCountText = QStringLiteral("6");
    request.extension = QStringLiteral("jpg");
    request.move = oneFolder;
    request.overwrite = true;
    request.sourceFolder = root + QStringLiteral("/in");
    request.targetFolder = oneFolder ? request.sourceFolder : root + QStringLiteral("/out");
    request.entries.reserve(entryCount);
    for (int i = 0; i < entryCount; ++i)
        request.entries.push_back(
            {QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0')), true});
    return request;
}

/// Half the names are new names of the batch (every second number), half are not.
QStringList makeTargets()
{
    QStringList names;
    names.reserve(entryCount);
    for (int i = 0; i < entryCount; ++i) {
        names.append(i % 2 ? QStringLiteral("photo_%1.jpg").arg(i + 1, 6, 10, QLatin1Char('0'))
                           : QStringLiteral("other_%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
    }
    return names;
}

template <typename F> double medianOf(int rounds, F &&work)
{
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round)
        times.push_back(work());
    return Bench::median(times);
}

void goal(const char *what, double ms)
{
    std::printf("%-44s %10.1f ms   goal %6.1f ms   %s\n", what, ms, goalMs,
                ms < goalMs ? "met" : "MISSED");
    std::fflush(stdout);
}

/// The base name typed letter by letter: each update a new set of names.
void type(RenameRequest &request)
{
    request.baseName = request.baseName == QStringLiteral("photo_") ? QStringLiteral("photo-")
                                                                    : QStringLiteral("photo_");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 9;
    QTemporaryDir root;
    if (!root.isValid() || !QDir().mkpath(root.path() + "/in") ||
        !QDir().mkpath(root.path() + "/out"))
        qFatal("no bench folders");
    RenameRequest request = makeRequest(false, root.path());
    const QStringList targets = makeTargets();
    QStringList sourceNames;
    for (const SourceEntry &entry : request.entries)
        sourceNames.append(entry.name);
    for (int i = 1; i <= entryCount; i += 2)
        sourceNames.append(QStringLiteral("photo_%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
    makeFiles(root.path() + "/in", sourceNames);
    makeFiles(root.path() + "/out", targets);
    std::printf("name check: %d selected entries, %lld target names (half of them taken), "
                "folders read through the file operations, median of %d runs\n",
                entryCount, qlonglong(targets.size()), rounds);

    const double floor = medianOf(rounds, [&] {
        BatchPlan plan;
        const double ms = Bench::timeMs([&] { plan = planBatch(request, 255); });
        if (plan.items.size() != size_t(entryCount))
            qFatal("the plan is incomplete");
        return ms;
    });

    // Each update takes a fresh request, as the window does; the copy is not timed.
    PosixFileOperations files;
    NameCheckModel model;
    model.setFileOperations(&files);
    const auto update = [&](const RenameRequest &from, const QStringList &names) {
        RenameRequest copy = from;
        return Bench::timeMs([&] { model.setRequest(std::move(copy), names); });
    };
    update(request, targets);
    int replaced = 0;
    for (int row = 0; row < model.rowCount(); ++row)
        replaced += model.mark(row) == NameCheckModel::Mark::Replaced;
    if (model.rowCount() != entryCount || replaced != entryCount / 2)
        qFatal("unexpected rows: %d rows, %d replaced", model.rowCount(), replaced);

    // The kinds of update, interleaved round by round so that drift hits each alike.
    const RenameRequest inPlaceStart = makeRequest(true, root.path());
    RenameRequest inPlace = inPlaceStart;
    std::vector<double> newList, typing, oneFolder;
    QStringList shown = targets;
    for (int round = 0; round < rounds; ++round) {
        update(request, targets);
        shown = reread(targets);
        newList.push_back(update(request, shown));
        type(request);
        typing.push_back(update(request, shown));
        update(inPlace, sourceNames);
        type(inPlace);
        oneFolder.push_back(update(inPlace, sourceNames));
    }
    const double newListMs = Bench::median(newList);
    const double typingMs = Bench::median(typing);
    const double oneFolderMs = Bench::median(oneFolder);
    Bench::row("model update, new target list", newListMs, floor, "plan");
    Bench::row("model update, typing", typingMs, floor, "plan");
    Bench::row("model update, typing, moves within one folder", oneFolderMs, floor, "plan");

    // The whole window: the request as Form1 hands it over, the table reacting to the model.
    RenameRequest current = makeRequest(false, root.path());
    NameCheckWindow window([&] { return current; },
                           [&]() -> const QStringList & { return targets; }, &files);
    window.show();
    window.refresh();
    QCoreApplication::processEvents();
    const double windowTyping = medianOf(rounds, [&] {
        type(current);
        return Bench::timeMs([&] {
            window.refresh();
            QCoreApplication::processEvents();
        });
    });
    Bench::row("window refresh and repaint, typing", windowTyping, floor, "plan");
    const double selecting = medianOf(rounds, [&] {
        current.entries.back().selected = !current.entries.back().selected;
        return Bench::timeMs([&] {
            window.refresh();
            QCoreApplication::processEvents();
        });
    });
    Bench::row("window refresh and repaint, new selection", selecting, floor, "plan");

    goal("model update, new target list", newListMs);
    goal("model update, typing", typingMs);
    goal("model update, typing in one folder", oneFolderMs);
    goal("window refresh, typing", windowTyping);
    goal("window refresh, new selection", selecting);
    return 0;
}
