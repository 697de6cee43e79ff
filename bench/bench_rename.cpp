// Runs the rename job on real files beside cp and mv on the same files, and prints the ratios.
#include "allocpeak.h"
#include "benchcommon.h"
#include "forwardingfiles.h"
#include "posixfileoperations.h"
#include "renamejob.h"

#include "windowprogress.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Quiet final : ProgressDisplay, JobHost, MessageBoxes
{
    void setRange(int, int) override {}
    void setValue(int) override {}
    void setVisible(bool) override {}
    OpResult refreshLists() override { return OpResult::success(); }
    OpResult saveData() override { return OpResult::success(); }
    void focusBaseName() override {}
    UndoRecording recordForUndo(const JobResult &) override { return {}; }
    void inform(const QString &text) override { messages.append(text); }
    bool retryOrCancel(const QString &) override { return false; }
    bool askYesNo(const QString &) override { return false; }
    QStringList messages;
};

QStringList makeSources(const QString &folder, int count, qsizetype size)
{
    QDir().mkpath(folder);
    QByteArray content(size, 'k');
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0'));
        content[0] = char(i);
        QFile file(folder + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != size)
            qFatal("cannot write the sources");
        names.append(name);
    }
    return names;
}

bool sameMtime(const QString &a, const QString &b)
{
    struct stat sa
    {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_mtim.tv_sec == sb.st_mtim.tv_sec && sa.st_mtim.tv_nsec == sb.st_mtim.tv_nsec;
}

QString journalFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

/// Every file of `src` to photo00001.jpg, photo00002.jpg, ... in `dst`.
RenameRequest everyFile(const QString &src, const QString &dst, const QStringList &names, bool move)
{
    RenameRequest request;
    request.baseName = QStringLiteral("photo");
    request.startNumberText = QStringLiteral("1");
    request.digitCountText = QStringLiteral("5");
    request.extension = QStringLiteral("jpg");
    request.move = move;
    request.sourceFolder = src;
    request.targetFolder = dst;
    for (const QString &name : names)
        request.entries.push_back({name, true});
    return request;
}

double runJob(const RenameRequest &request)
{
    PosixFileOperations files;
    Quiet quiet;
    RenameJob job(files, quiet, quiet, quiet, journalFolder());
    const double ms = Bench::timeMs([&] { job.run(request); });
    if (!quiet.messages.endsWith(RenameJob::completedMessage()))
        qFatal("the job did not complete");
    return ms;
}

struct Figures
{
    double job;
    double tool;
    double floor = 0;
};

/// The floor: a small C program making only the calls a safe batch cannot avoid.
QString floorProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/bench_floor");
}

/// Lets what earlier contenders wrote reach the disk, so that none pays for another's writes.
void settle(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

Figures measure(const QString &root, int count, qsizetype size, bool move, int rounds,
                bool &timesKept)
{
    std::vector<double> jobTimes, toolTimes, floorTimes;
    const QString src = root + QStringLiteral("/src");
    QStringList names = makeSources(src, count, size);
    const auto freshSources = [&] {
        if (move) {
            QDir(src).removeRecursively();
            names = makeSources(src, count, size);
        }
    };
    for (int round = 0; round < rounds; ++round) {
        const QString jobTarget = root + QStringLiteral("/job%1").arg(round);
        const QString toolTarget = root + QStringLiteral("/tool%1").arg(round);
        const QString floorTarget = root + QStringLiteral("/floor%1").arg(round);
        for (const QString &folder : {jobTarget, toolTarget, floorTarget})
            QDir().mkpath(folder);

        const auto runJobHere = [&] {
            const RenameRequest request = everyFile(src, jobTarget, names, move);
            jobTimes.push_back(runJob(request));
            if (!move) {
                // Every copy must keep its source's modification time.
                for (int i = 0; i < names.size(); i += std::max(1, int(names.size()) / 50)) {
                    timesKept =
                        timesKept &&
                        sameMtime(
                            src + QLatin1Char('/') + names[i],
                            jobTarget +
                                QStringLiteral("/photo%1.jpg").arg(i + 1, 5, 10, QLatin1Char('0')));
                }
            }
        };
        // The floor, on the same files.
        const auto runFloor = [&] {
            floorTimes.push_back(Bench::timeMs([&] {
                if (!Bench::run(
                        floorProgram(),
                        {move ? QStringLiteral("move") : QStringLiteral("copy"), src, floorTarget}))
                    qFatal("the floor failed");
            }));
        };
        // The tool people would use instead.
        const auto runTool = [&] {
            QStringList args;
            if (!move)
                args.append(QStringLiteral("--preserve=mode,timestamps"));
            args << QStringLiteral("-t") << toolTarget;
            for (const QString &name : std::as_const(names))
                args.append(src + QLatin1Char('/') + name);
            toolTimes.push_back(Bench::timeMs([&] {
                if (!Bench::run(move ? QStringLiteral("mv") : QStringLiteral("cp"), args))
                    qFatal("the tool failed");
            }));
        };
        // In turn, each first in one round of three, each after the disk has settled.
        const std::function<void()> contenders[] = {runJobHere, runFloor, runTool};
        for (int turn = 0; turn < 3; ++turn) {
            settle(root);
            contenders[(round + turn) % 3]();
            freshSources();
        }
        for (const QString &folder : {jobTarget, toolTarget, floorTarget})
            QDir(folder).removeRecursively();
    }
    QDir(src).removeRecursively();
    return {Bench::median(jobTimes), Bench::median(toolTimes), Bench::median(floorTimes)};
}

/// Real file operations that never keep a replaced file: the batch as it was before the trash.
class WithoutTrash final : public ForwardingFileOperations
{
public:
    KAENAMI_PATH_FORMS(ForwardingFileOperations);

    OpResult copyFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r) override
    {
        WriteOptions plain = o;
        plain.trashReplaced = false;
        return ForwardingFileOperations::copyFile(sf, s, df, d, plain, r);
    }
    OpResult moveFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r) override
    {
        WriteOptions plain = o;
        plain.trashReplaced = false;
        return ForwardingFileOperations::moveFile(sf, s, df, d, plain, r);
    }
};

struct ReplaceFigures
{
    double withTrash;
    double withoutTrash;
    double floorWithTrash;
    double floorWithoutTrash;
};

/// A copy batch over files of the same names, with replaced files going to the trash and
/// without, beside the floor of each; the median times in ms.
ReplaceFigures replaceWithAndWithoutTrash(const QString &root, int count, qsizetype size,
                                          int rounds)
{
    const QString src = root + QStringLiteral("/replace-src");
    const QString dst = root + QStringLiteral("/replace-dst");
    const QString data = root + QStringLiteral("/replace-data");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    const QStringList names = makeSources(src, count, size);
    const RenameRequest request = everyFile(src, dst, names, false);
    std::vector<double> with, without, floorWith, floorWithout;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 4; ++turn) {
            const int kind = (round + turn) % 4;
            const bool trash = kind % 2 == 0;
            // The folder to replace in: the batch's own names, already there.
            QDir(dst).removeRecursively();
            QDir(data).removeRecursively();
            makeSources(dst, 0, 0);
            for (int i = 1; i <= count; ++i) {
                QFile old(dst + QStringLiteral("/photo%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
                if (!old.open(QIODevice::WriteOnly) || old.write("old") != 3)
                    qFatal("cannot write the files to replace");
            }
            settle(root);
            if (kind >= 2) {
                const QString trashFolder = data + QStringLiteral("/Trash");
                QDir().mkpath(trashFolder + QStringLiteral("/files"));
                QDir().mkpath(trashFolder + QStringLiteral("/info"));
                QStringList args{QStringLiteral("replace"), src, dst};
                if (trash)
                    args.append(trashFolder);
                (trash ? floorWith : floorWithout).push_back(Bench::timeMs([&] {
                    if (!Bench::run(floorProgram(), args))
                        qFatal("the floor failed");
                }));
                continue;
            }
            Quiet quiet;
            PosixFileOperations withTrash;
            WithoutTrash withoutTrash;
            FileOperations &files = trash ? static_cast<FileOperations &>(withTrash) : withoutTrash;
            RenameJob job(files, quiet, quiet, quiet, journalFolder());
            const double ms = Bench::timeMs([&] { job.run(request); });
            if (!quiet.messages.endsWith(RenameJob::completedMessage()))
                qFatal("the job did not complete");
            (trash ? with : without).push_back(ms);
        }
    }
    QDir(src).removeRecursively();
    QDir(dst).removeRecursively();
    QDir(data).removeRecursively();
    return {Bench::median(with), Bench::median(without), Bench::median(floorWith),
            Bench::median(floorWithout)};
}

/// The heap a batch of `count` moves takes at its peak beyond what was in use before it (the
/// request included), in bytes per file, against the same request with no file selected.
double heapPerFile(const QString &root, int count)
{
    const QString src = root + QStringLiteral("/heap-src");
    const QString dst = root + QStringLiteral("/heap-dst");
    const QStringList names = makeSources(src, count, 1);
    QDir().mkpath(dst);
    const auto peakOf = [&](bool selected) {
        RenameRequest request = everyFile(src, dst, names, true);
        for (SourceEntry &entry : request.entries)
            entry.selected = selected;
        PosixFileOperations files;
        Quiet quiet;
        RenameJob job(files, quiet, quiet, quiet, journalFolder());
        const size_t before = AllocPeak::current();
        AllocPeak::reset();
        JobResult result = job.run(request);
        const size_t peak = AllocPeak::peak() - before;
        if (!quiet.messages.endsWith(RenameJob::completedMessage()))
            qFatal("the job did not complete");
        return double(peak);
    };
    const double none = peakOf(false);
    const double all = peakOf(true);
    QDir(src).removeRecursively();
    QDir(dst).removeRecursively();
    std::printf("peak heap of a batch of %d moves: %.1f MB; of the same list with no file "
                "selected: %.1f MB\n",
                count, all / 1e6, none / 1e6);
    return (all - none) / count;
}

/// Runs one copy batch the way the window does (its progress bar, from inside the event loop)
/// and returns the longest time in ms during which the event loop did not run.
double longestEventLoopWait(const QString &root, int count, qsizetype size)
{
    const QString src = root + QStringLiteral("/wait-src");
    const QString dst = root + QStringLiteral("/wait-dst");
    const QStringList names = makeSources(src, count, size);
    QDir().mkpath(dst);
    const RenameRequest request = everyFile(src, dst, names, false);

    QProgressBar bar;
    bar.resize(360, 9);
    bar.show();
    PosixFileOperations files;
    Quiet quiet;
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> turns; // every pass of the event loop, in ns since the start
    QTimer everyTurn;
    everyTurn.setInterval(0);
    QObject::connect(&everyTurn, &QTimer::timeout, [&] { turns.push_back(clock.nsecsElapsed()); });
    qint64 began = 0, ended = 0;
    QTimer::singleShot(0, [&] {
        WindowProgress progress(&bar);
        RenameJob job(files, progress, quiet, quiet, journalFolder());
        began = clock.nsecsElapsed();
        job.run(request);
        ended = clock.nsecsElapsed();
        QCoreApplication::quit();
    });
    everyTurn.start();
    QCoreApplication::exec();
    if (!quiet.messages.endsWith(RenameJob::completedMessage()))
        qFatal("the job did not complete");
    qint64 longest = 0, last = began;
    for (const qint64 turn : turns) {
        if (turn <= began || turn >= ended)
            continue;
        longest = std::max(longest, turn - last);
        last = turn;
    }
    longest = std::max(longest, ended - last);
    QDir(src).removeRecursively();
    QDir(dst).removeRecursively();
    return double(longest) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString base = args.size() > 1 ? args[1] : QDir::tempPath();
    const int rounds = args.size() > 2 ? args[2].toInt() : 5;
    QTemporaryDir root(base + QStringLiteral("/kaenami-bench-XXXXXX"));
    if (!root.isValid())
        qFatal("no temporary folder");
    std::printf("rename job against cp and mv, median of %d rounds, in %s\n", rounds,
                qPrintable(base));

    bool timesKept = true;
    const struct
    {
        const char *label;
        int count;
        qsizetype size;
    } sets[] = {{"10,000 files of 4 KiB", 10000, 4096}, {"200 files of 5 MiB", 200, 5 << 20}};
    // The window's wait is also measured on one large file, copied in chunks.
    const struct
    {
        const char *label;
        int count;
        qsizetype size;
    } waits[] = {{"10,000 files of 4 KiB", 10000, 4096},
                 {"200 files of 5 MiB", 200, 5 << 20},
                 {"1 file of 1 GiB", 1, qsizetype(1) << 30}};
    for (const auto &set : sets) {
        for (const bool move : {true, false}) {
            const Figures figures =
                measure(root.path(), set.count, set.size, move, rounds, timesKept);
            const QString what = QStringLiteral("%1 %2").arg(
                move ? QStringLiteral("move") : QStringLiteral("copy"), QLatin1String(set.label));
            Bench::row(qPrintable(what), figures.job, figures.floor, "floor");
            Bench::row(qPrintable(what), figures.job, figures.tool, move ? "mv" : "cp");
        }
    }
    std::printf("modification times kept by every copy checked: %s\n", timesKept ? "yes" : "NO");
    const ReplaceFigures trash = replaceWithAndWithoutTrash(root.path(), 10000, 4096, rounds);
    Bench::row("replace 10,000 files with the trash", trash.withTrash, trash.floorWithTrash,
               "floor");
    Bench::row("replace 10,000 files without the trash", trash.withoutTrash,
               trash.floorWithoutTrash, "floor");
    Bench::row("replace 10,000 files, with trash / without", trash.withTrash, trash.withoutTrash,
               "plain");
    Bench::row("floor: replace with trash / without", trash.floorWithTrash, trash.floorWithoutTrash,
               "plain");
    std::printf("heap of a 100,000-file batch: %.0f bytes per file (goal: at most 300)\n",
                heapPerFile(root.path(), 100000));
    for (const auto &set : waits) {
        std::printf("longest event-loop wait, copy of %s through the window's bar: %.1f ms "
                    "(goal: at most 100 ms)\n",
                    set.label, longestEventLoopWait(root.path(), set.count, set.size));
    }
    return timesKept ? 0 : 1;
}
