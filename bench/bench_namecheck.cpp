// Times the name check's update for 100,000 selected entries against a bare planBatch of the
// same request (the floor), and against the 100 ms goal.
#include "benchcommon.h"
#include "namecheckmodel.h"
#include "namecheckwindow.h"

#include <QApplication>
#include <QTableView>

namespace {

constexpr int entryCount = 100000;
constexpr double goalMs = 100;

RenameRequest makeRequest(bool oneFolder)
{
    RenameRequest request;
    request.baseName = QStringLiteral("photo_");
    request.startNumberText = QStringLiteral("1");
    request.digitCountText = QStringLiteral("6");
    request.extension = QStringLiteral("jpg");
    request.move = oneFolder;
    request.overwrite = true;
    request.sourceFolder = QStringLiteral("/bench/in");
    request.targetFolder = oneFolder ? request.sourceFolder : QStringLiteral("/bench/out");
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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 9;
    const RenameRequest request = makeRequest(false);
    const QStringList targets = makeTargets();
    std::printf("name check: %d selected entries, %lld target names (half of them taken), "
                "median of %d runs\n",
                entryCount, qlonglong(targets.size()), rounds);

    const double floor = medianOf(rounds, [&] {
        BatchPlan plan;
        const double ms = Bench::timeMs([&] { plan = planBatch(request, 255); });
        if (plan.items.size() != size_t(entryCount))
            qFatal("the plan is incomplete");
        return ms;
    });

    // Each update takes a fresh request, as the window does; the copy is not timed.
    NameCheckModel model;
    const auto update = [&](const RenameRequest &from, const QStringList &names) {
        RenameRequest copy = from;
        return Bench::timeMs([&] { model.setRequest(std::move(copy), names); });
    };
    const double first = update(request, targets);
    int replaced = 0;
    for (int row = 0; row < model.rowCount(); ++row)
        replaced += model.mark(row) == NameCheckModel::Mark::Replaced;
    if (model.rowCount() != entryCount || replaced != entryCount / 2)
        qFatal("unexpected rows: %d rows, %d replaced", model.rowCount(), replaced);
    const double again = medianOf(rounds, [&] { return update(request, targets); });
    Bench::row("model update (target list unchanged)", again, floor, "plan");
    Bench::row("model update with a new target list", first, floor, "plan");

    // Renaming in place: every new name is looked up among the batch's own sources as well.
    const RenameRequest inPlace = makeRequest(true);
    QStringList sourceNames;
    for (const SourceEntry &entry : inPlace.entries)
        sourceNames.append(entry.name);
    for (int i = 1; i <= entryCount; i += 2)
        sourceNames.append(QStringLiteral("photo_%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
    update(inPlace, sourceNames);
    const double oneFolder = medianOf(rounds, [&] { return update(inPlace, sourceNames); });
    Bench::row("model update, moves within one folder", oneFolder, floor, "plan");

    // The whole window: the request as Form1 hands it over, the table reacting to the model.
    RenameRequest shown = request;
    NameCheckWindow window([&] { return shown; }, [&]() -> const QStringList & { return targets; });
    window.show();
    window.refresh();
    QCoreApplication::processEvents();
    const double typing = medianOf(rounds, [&] {
        shown.baseName = shown.baseName == QStringLiteral("photo_") ? QStringLiteral("photo-")
                                                                    : QStringLiteral("photo_");
        return Bench::timeMs([&] {
            window.refresh();
            QCoreApplication::processEvents();
        });
    });
    Bench::row("window refresh and repaint, typing", typing, floor, "plan");
    const double selecting = medianOf(rounds, [&] {
        shown.entries.back().selected = !shown.entries.back().selected;
        return Bench::timeMs([&] {
            window.refresh();
            QCoreApplication::processEvents();
        });
    });
    Bench::row("window refresh and repaint, new selection", selecting, floor, "plan");

    goal("model update (target list unchanged)", again);
    goal("model update with a new target list", first);
    goal("window refresh, typing", typing);
    goal("window refresh, new selection", selecting);
    return 0;
}
