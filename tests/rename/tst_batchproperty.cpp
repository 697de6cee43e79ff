// Random batches of the real job on real folders: whatever the names, links, numbers and
// faults, every batch keeps its promise (batchinvariant.h). The seed is printed on failure;
// KAENAMI_SEED=<seed> repeats a run, KAENAMI_BATCHES=<n> sets its length.

#include "batchinvariant.h"
#include "doubles.h"
#include "filenames.h"
#include "quietjob.h"
#include "renamejob.h"
#include "testfiles.h"
#include "undo.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Names that collide with new names, with each other when case is ignored, with what their
/// bytes would read as if they were lost, and with nothing at all.
const QList<QByteArray> &namePool()
{
    static const QList<QByteArray> pool{"p0.jpg",
                                        "p1.jpg",
                                        "p2.jpg",
                                        "p3.jpg",
                                        "p4.jpg",
                                        "p5.jpg",
                                        "P1.jpg",
                                        "p01.jpg",
                                        "p001.jpg",
                                        "p002.jpg",
                                        "p-1.jpg",
                                        "p-2.jpg",
                                        "a.jpg",
                                        "b c.jpg",
                                        "new\nline.jpg",
                                        "\x83\x65.jpg",
                                        "\xef\xbf\xbd.jpg",
                                        "p1.jpg\xff",
                                        "\xe3\x83\x86.jpg",
                                        "p1.",
                                        "p2147483647.jpg",
                                        "p2147483646.jpg",
                                        "p-2147483648.jpg",
                                        "q.jpg",
                                        "pp1.jpg"};
    return pool;
}

struct Scenario
{
    QTemporaryDir root;
    QByteArray src, dst, outside, program;
    bool sameFolder = false;

    Scenario()
    {
        const QByteArray base = FileNames::encode(root.path());
        outside = base + "/outside";
        program = base + "/program";
        src = base + "/src";
        dst = base + "/dst";
        ::mkdir(outside.constData(), 0755);
        ::mkdir(program.constData(), 0755);
        ::mkdir(src.constData(), 0755);
        ::mkdir(dst.constData(), 0755);
    }
    ~Scenario() { TestFiles::removeTree(FileNames::encode(root.path())); }
};

/// A folder renamed away during a batch, and perhaps a new folder (with a file of its own)
/// under its old name; put back afterwards so that the batch can be judged where it ran.
struct FolderMove
{
    QByteArray folder;
    int countdown = -1;
    bool swap = false;
    bool moved = false;

    QByteArray away() const { return folder + ".moved"; }
    void maybeNow(const QByteArray &path)
    {
        if (moved || countdown < 0 || !(path.startsWith(folder + '/') || path == folder))
            return;
        if (countdown-- > 0)
            return;
        moved = ::rename(folder.constData(), away().constData()) == 0;
        if (moved && swap && ::mkdir(folder.constData(), 0755) == 0) {
            const int fd = ::open((folder + "/decoy.jpg").constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
    /// What went wrong with the folder under the old name; the moved folder is back there.
    QStringList putBack() const
    {
        QStringList wrong;
        if (swap) {
            const BatchInvariant::Snapshot decoy = BatchInvariant::snapshot({folder});
            if (decoy.size() != 1 || !decoy.contains(folder + "/decoy.jpg") ||
                !decoy.first().content.isEmpty())
                wrong.append(QStringLiteral("the new folder under the old name was touched: ") +
                             QStringList([&] {
                                 QStringList names;
                                 for (auto it = decoy.cbegin(); it != decoy.cend(); ++it)
                                     names.append(FileNames::decode(it.key()));
                                 return names;
                             }())
                                 .join(QStringLiteral(", ")));
            TestFiles::removeTree(folder);
        }
        if (::rename(away().constData(), folder.constData()) != 0)
            wrong.append(QStringLiteral("the moved folder could not be put back"));
        return wrong;
    }
};

class Generator
{
public:
    explicit Generator(quint64 seed) : m_random(seed) {}

    int below(int n) { return int(m_random.bounded(quint32(n))); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T> const T &pick(const QList<T> &list)
    {
        return list[below(int(list.size()))];
    }

    QByteArray content()
    {
        // Unique, so that a content can be told apart from every other.
        QByteArray bytes = "#" + QByteArray::number(++m_serial) + "#";
        const int size = chance(5) ? 20000 + below(200000) : below(300);
        bytes.reserve(bytes.size() + size);
        for (int i = 0; i < size; ++i)
            bytes.append(char(m_random.generate()));
        return bytes;
    }

    static bool writeFile(const QByteArray &path, const QByteArray &bytes)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
        return ::close(fd) == 0 && ok;
    }

    /// Fills a folder with files, links to files anywhere in the scenario and hard links.
    void fill(const QByteArray &folder, int count, QList<QByteArray> &made,
              const Scenario &scenario)
    {
        for (int i = 0; i < count; ++i) {
            const QByteArray path = folder + '/' + pick(namePool());
            struct stat st
            {
            };
            if (::lstat(path.constData(), &st) == 0)
                continue;
            const int kind = below(100);
            if (kind < 12 && !made.isEmpty()) {
                // A link, absolute or relative, to some file made so far.
                const QByteArray to = pick(made);
                const QByteArray text = chance(50) ? to : relative(folder, to);
                if (::symlink(text.constData(), path.constData()) != 0)
                    continue;
            } else if (kind < 20 && !made.isEmpty()) {
                if (::link(pick(made).constData(), path.constData()) != 0)
                    continue;
            } else if (!writeFile(path, content())) {
                continue;
            }
            made.append(path);
        }
        if (chance(10)) {
            // A link that leads nowhere, and one to a file outside every batch folder.
            ::symlink("missing.jpg", (folder + "/dangling.jpg").constData());
            const QByteArray outsideFile =
                scenario.outside + "/o" + QByteArray::number(below(1000));
            if (writeFile(outsideFile, content()))
                ::symlink(outsideFile.constData(), (folder + "/outlink.jpg").constData());
        }
    }

    static QByteArray relative(const QByteArray &fromFolder, const QByteArray &to)
    {
        if (folderOf(to) == fromFolder)
            return BatchInvariant::nameOf(to);
        return "../" + BatchInvariant::nameOf(folderOf(to)) + '/' + BatchInvariant::nameOf(to);
    }
    static QByteArray folderOf(const QByteArray &path) { return BatchInvariant::folderOf(path); }

    QString baseName()
    {
        const int kind = below(100);
        if (kind < 70)
            return QStringLiteral("p");
        if (kind < 78)
            return QStringLiteral("P");
        if (kind < 84)
            return QString();
        if (kind < 90)
            return FileNames::decode("\x83");
        static const QStringList unusable{"../x", "a/b", "x\ny", QString(QChar(0)), ".p", "\t"};
        return pick(unusable);
    }

    QString startNumber()
    {
        static const QStringList starts{"0",          "1",          "2",          "3",
                                        "-2",         "-1",         "01",         "2147483645",
                                        "2147483646", "2147483647", "-2147483648"};
        return pick(starts);
    }

private:
    QRandomGenerator64 m_random;
    int m_serial = 0;
};

/// No bar, and a user who asks the batch to stop when it has asked `checksBeforeStop` times.
class StoppingProgress final : public ProgressDisplay
{
public:
    explicit StoppingProgress(int checksBeforeStop) : m_left(checksBeforeStop) {}
    void setRange(int, int) override {}
    void setValue(int) override {}
    void setVisible(bool) override {}
    bool stopRequested() override { return m_left >= 0 && m_left-- == 0; }

private:
    int m_left;
};

} // namespace

class BatchPropertyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomBatchesKeepEveryContent();
};

void BatchPropertyTest::randomBatchesKeepEveryContent()
{
    const quint64 seed = BatchInvariant::seed();
    const int batches = BatchInvariant::count("KAENAMI_BATCHES", 2000);
    Generator random(seed);
    // Replaced files go to a trash of the test's own.
    QTemporaryDir data;
    QVERIFY(data.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const auto emptyTrash =
        qScopeGuard([&] { TestFiles::removeTree(QFile::encodeName(data.path())); });
    QHash<int, int> outcomes;
    int foldersMoved = 0;
    for (int round = 0; round < batches; ++round) {
        Scenario s;
        QVERIFY(s.root.isValid());
        s.sameFolder = random.chance(50);
        if (s.sameFolder)
            s.dst = s.src;
        QList<QByteArray> made;
        random.fill(s.src, 1 + random.below(7), made, s);
        if (!s.sameFolder)
            random.fill(s.dst, random.below(6), made, s);

        // Sometimes as on file systems that take no unnamed files.
        FaultyFileOperations files(PosixFileOperations::Options{random.chance(70)});
        RecordingMessageBoxes messages;
        // Sometimes the user stops the batch between two files.
        StoppingProgress progress(random.chance(20) ? random.below(5) : -1);
        QuietHost host;
        RenameJob job(files, progress, messages, host, FileNames::decode(s.program));

        RenameRequest request;
        request.sourceFolder = FileNames::decode(s.src);
        request.targetFolder = FileNames::decode(s.dst);
        request.baseName = random.baseName();
        request.startNumberText = random.startNumber();
        request.digitCountText =
            random.chance(90) ? QStringLiteral("15") : QString::number(1 + random.below(3));
        request.extension = random.chance(85) ? QStringLiteral("jpg") : QStringLiteral("JPG");
        request.move = random.chance(50);
        request.overwrite = random.chance(50);
        QStringList names;
        QVERIFY(files.listFiles(request.sourceFolder, names));
        for (qsizetype i = names.size() - 1; i > 0; --i)
            names.swapItemsAt(i, random.below(int(i + 1)));
        for (const QString &name : std::as_const(names))
            request.entries.push_back({name, random.chance(75)});

        // Sometimes a source turns into a pipe after it was listed.
        if (random.chance(3) && !request.entries.empty()) {
            const QByteArray victim =
                s.src + '/' +
                FileNames::encode(request.entries[size_t(random.below(int(names.size())))].name);
            if (::unlink(victim.constData()) == 0)
                ::mkfifo(victim.constData(), 0644);
        }

        // What the batch is about to do, from its plan and the files before it.
        BatchInvariant::Batch batch{s.src, s.dst, {s.outside}, s.program, request.move, {}};
        const BatchPlan plan = planBatch(request);
        for (const BatchPlan::Item &item : plan.items) {
            const QByteArray source =
                s.src + '/' + FileNames::encode(request.entries[size_t(item.entryIndex)].name);
            batch.items.append({source, BatchInvariant::resolvedContent(source),
                                s.dst + '/' + FileNames::encode(item.newName)});
        }
        const QList<QByteArray> folders{s.src, s.dst, s.outside, s.program};
        const BatchInvariant::Snapshot before = BatchInvariant::snapshot(folders);

        // Sometimes one operation fails.
        int failAt = random.chance(30) ? random.below(12) : -1;
        files.failWhen = [&](FaultyFileOperations::Op op, const QString &) {
            if (op == FaultyFileOperations::Op::List || op == FaultyFileOperations::Op::Read)
                return false;
            return failAt-- == 0;
        };

        // Sometimes a folder of the batch is renamed away while it runs (a file manager, a sync
        // client), and sometimes a new folder appears under its old name: the batch goes on in
        // the folder it opened and never touches the new one.
        FolderMove folderMove;
        if (random.chance(15)) {
            folderMove.folder = random.chance(50) ? s.src : s.dst;
            folderMove.countdown = random.below(6);
            folderMove.swap = random.chance(70);
        }
        files.beforeChange = [&](FaultyFileOperations::Op, const QString &path) {
            folderMove.maybeNow(FileNames::encode(path));
        };

        JobResult result = job.run(request);
        files.beforeChange = {};
        ++outcomes[int(result.outcome)];
        QStringList wrong;
        if (folderMove.moved) {
            ++foldersMoved;
            // The record names the folder where the batch left it; it goes back home now.
            const QString away = FileNames::decode(folderMove.away());
            const QString home = FileNames::decode(folderMove.folder);
            for (QString *folder : {&result.folders.source, &result.folders.target}) {
                if (*folder == away)
                    *folder = home;
            }
            wrong.append(folderMove.putBack());
        }
        // What a failure kept the batch from putting right, the next start does.
        if (!result.recovery.problems.isEmpty()) {
            failAt = -1;
            recoverAbandonedBatches(files, FileNames::decode(s.program));
        }
        const BatchInvariant::Snapshot after = BatchInvariant::snapshot(folders);

        wrong.append(BatchInvariant::violations(batch, before, after));
        if (result.outcome == JobResult::Outcome::Refused ||
            result.outcome == JobResult::Outcome::DigitCheckFailed) {
            if (!(before == after))
                wrong.append(QStringLiteral("a refused batch changed files"));
        }
        if (result.outcome == JobResult::Outcome::Completed) {
            for (const BatchInvariant::Batch::Item &item : std::as_const(batch.items)) {
                const auto now = after.constFind(item.target);
                if (!item.content && before.value(item.target) == after.value(item.target))
                    continue; // no file (a pipe named as its own new name): left as it was
                if (now == after.cend() || !item.content || now->content != *item.content)
                    wrong.append(QStringLiteral("completed, but a new name lacks its content: ") +
                                 FileNames::decode(item.target));
            }
        }
        // The record matches the files: what it says was written is there.
        for (const JobAction &action : result.record) {
            if (action.kind == JobAction::Kind::Copied ||
                action.kind == JobAction::Kind::Replaced || action.kind == JobAction::Kind::Moved) {
                const auto now = after.constFind(FileNames::encode(result.folders.toPath(action)));
                if (now == after.cend() || now->inode != action.written.inode)
                    wrong.append(QStringLiteral("record says written, file differs: ") +
                                 result.folders.toPath(action));
            }
        }
        // Half the time the batch is undone: every visible file is back as it was.
        if (wrong.isEmpty() && random.chance(50)) {
            UndoHistory history;
            history.push(result);
            // Sometimes one operation of the undo fails: then nothing may be lost either.
            failAt = random.chance(25) ? random.below(8) : -1;
            const bool undoFaulted = failAt >= 0;
            if (!history.isEmpty()) {
                const UndoReport undone =
                    undoBatch(files, history.newest(), FileNames::decode(s.program));
                // What a failure kept it from putting right, the next start does.
                if (undoFaulted) {
                    failAt = -1;
                    recoverAbandonedBatches(files, FileNames::decode(s.program));
                }
                const BatchInvariant::Snapshot back = BatchInvariant::snapshot(folders);
                const auto visible = [](const BatchInvariant::Snapshot &all) {
                    BatchInvariant::Snapshot shown;
                    for (auto it = all.cbegin(); it != all.cend(); ++it) {
                        if (!BatchInvariant::nameOf(it.key()).startsWith('.'))
                            shown.insert(it.key(), *it);
                    }
                    return shown;
                };
                const BatchInvariant::Snapshot was = visible(before), now = visible(back);
                if (undoFaulted) {
                    // A replaced file left in the trash is kept too.
                    QSet<QByteArray> contents;
                    for (const BatchInvariant::Entry &e : now)
                        contents.insert(e.content);
                    for (const BatchInvariant::Entry &e : BatchInvariant::snapshot(
                             {FileNames::encode(data.path()) + "/Trash/files"}))
                        contents.insert(e.content);
                    for (auto it = was.cbegin(); it != was.cend(); ++it) {
                        if (it->kind == BatchInvariant::Entry::Kind::File &&
                            !contents.contains(it->content))
                            wrong.append(QStringLiteral("a failed undo lost the content of: ") +
                                         FileNames::decode(it.key()));
                    }
                } else {
                    for (auto it = was.cbegin(); it != was.cend(); ++it) {
                        if (!now.contains(it.key()) || !(now.value(it.key()) == *it))
                            wrong.append(QStringLiteral("undo did not bring back: ") +
                                         FileNames::decode(it.key()));
                    }
                    for (auto it = now.cbegin(); it != now.cend(); ++it) {
                        if (!was.contains(it.key()))
                            wrong.append(QStringLiteral("undo left: ") +
                                         FileNames::decode(it.key()));
                    }
                }
                for (auto it = back.cbegin(); it != back.cend(); ++it) {
                    if (BatchInvariant::nameOf(it.key()).startsWith(".kaenami-"))
                        wrong.append(QStringLiteral("undo left hidden: ") +
                                     FileNames::decode(it.key()));
                }
                if (!wrong.isEmpty())
                    wrong.append(QStringLiteral("undo said: ") + undoMessage(undone));
            }
        }
        if (!wrong.isEmpty()) {
            QStringList entries;
            for (const SourceEntry &e : request.entries)
                entries.append((e.selected ? "[x] " : "[ ] ") + FileNames::display(e.name));
            entries.append(QStringLiteral("files before:"));
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                entries.append(QStringLiteral("%1 inode %2 %3 %4")
                                   .arg(FileNames::display(FileNames::decode(it.key())))
                                   .arg(it->inode)
                                   .arg(it->kind == BatchInvariant::Entry::Kind::Link ? "-> " : "")
                                   .arg(QString::fromUtf8(it->linkTarget)));
            }
            QFAIL(qPrintable(
                QStringLiteral("seed %1, batch %2 (%3, %4, %5, base \"%6\", start "
                               "%7), outcome %8:\n  %9\nentries:\n  %10\n"
                               "messages: %11")
                    .arg(seed)
                    .arg(round)
                    .arg(s.sameFolder ? "one folder" : "two folders")
                    .arg(request.move ? "move" : "copy")
                    .arg(request.overwrite ? "overwrite" : "no overwrite")
                    .arg(FileNames::display(request.baseName))
                    .arg(request.startNumberText)
                    .arg(int(result.outcome))
                    .arg(wrong.join("\n  "), entries.join("\n  "), messages.informed.join(" | "))));
        }
    }
    qInfo("seed %llu: %d batches (%d with a folder renamed away meanwhile); outcomes: completed "
          "%d, interrupted %d, stopped %d, refused %d, same-name stop %d, digit check %d",
          seed, batches, foldersMoved, outcomes.value(int(JobResult::Outcome::Completed)),
          outcomes.value(int(JobResult::Outcome::Interrupted)),
          outcomes.value(int(JobResult::Outcome::Stopped)),
          outcomes.value(int(JobResult::Outcome::Refused)),
          outcomes.value(int(JobResult::Outcome::SameNameStop)),
          outcomes.value(int(JobResult::Outcome::DigitCheckFailed)));
}

QTEST_GUILESS_MAIN(BatchPropertyTest)
#include "tst_batchproperty.moc"
