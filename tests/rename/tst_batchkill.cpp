// Kills real batches at random moments, then runs the start-up recovery: every content is
// still in a visible file, every new name is whole, nothing hidden is left.

#include "batchinvariant.h"
#include "batchjournal.h"
#include "exfatdrive.h"
#include "filenames.h"
#include "posixfileoperations.h"
#include "renamejob.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace {

bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

/// Trash information in `trash` whose file is not there: what a trash view would list as a file
/// it cannot find.
QStringList loneInformation(const QByteArray &trash)
{
    QStringList lone;
    const QString info = FileNames::decode(trash + "/info");
    for (const QString &name : TestFiles::names(info)) {
        if (name.endsWith(".trashinfo") &&
            !QFileInfo::exists(FileNames::decode(trash + "/files/") + name.chopped(10)) &&
            !QFileInfo(FileNames::decode(trash + "/files/") + name.chopped(10)).isSymLink())
            lone.append(name);
    }
    return lone;
}

/// The folders of one round: source, target (the same in one folder), the program's folder
/// and a trash of its own. Removed by their exact bytes afterwards.
struct Folders
{
    explicit Folders(bool sameFolder)
        : base(FileNames::encode(root.path())), src(base + "/src"),
          dst(sameFolder ? src : base + "/dst"), program(base + "/program"), data(base + "/data")
    {
        for (const QByteArray &folder : {src, dst, program, data})
            ::mkdir(folder.constData(), 0755);
        qputenv("XDG_DATA_HOME", data);
    }
    ~Folders() { TestFiles::removeTree(base); }
    QTemporaryDir root;
    QByteArray base, src, dst, program, data;
};

struct Layout
{
    bool sameFolder;
    bool move;
    bool overwrite;
    QString base;
    QString start;
};

/// The batch the child makes of the folders: every file, in byte order.
RenameRequest requestFor(const Folders &place, const Layout &layout, const QString &digits)
{
    RenameRequest request;
    request.sourceFolder = FileNames::decode(place.src);
    request.targetFolder = FileNames::decode(place.dst);
    request.baseName = layout.base;
    request.startNumberText = layout.start;
    request.digitCountText = digits;
    request.extension = QStringLiteral("jpg");
    request.move = layout.move;
    PosixFileOperations files;
    QStringList names;
    files.listFiles(request.sourceFolder, names);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return FileNames::encode(a) < FileNames::encode(b);
    });
    for (const QString &name : std::as_const(names))
        request.entries.push_back({name, true});
    return request;
}

/// What the invariant needs to know of that batch.
BatchInvariant::Batch plannedBatch(const Folders &place, const RenameRequest &request)
{
    BatchInvariant::Batch batch{place.src, place.dst, {}, place.program, request.move, {}};
    for (const BatchPlan::Item &item : planBatch(request).items) {
        const QByteArray source =
            place.src + '/' + FileNames::encode(request.entries[size_t(item.entryIndex)].name);
        batch.items.append({source, BatchInvariant::resolvedContent(source),
                            place.dst + '/' + FileNames::encode(item.newName)});
    }
    return batch;
}

} // namespace

class BatchKillTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedBatchesAreRecovered_data();
    void killedBatchesAreRecovered();
    void killedUndosAreRecovered_data();
    void killedUndosAreRecovered();

    void aKillWhileTheHistoryIsSavedLeavesNothing();
    void aTrashCopyCutShortNeverPosesAsTheReplacedFile();

private:
    PosixFileOperations &undoFiles() { return m_files; }
    PosixFileOperations m_files;
    /// Sets up the folders; the files get unique contents of mixed sizes.
    void populate(QRandomGenerator64 &random, const Layout &layout, const QByteArray &src,
                  const QByteArray &dst);
};

void BatchKillTest::killedBatchesAreRecovered_data()
{
    QTest::addColumn<bool>("sameFolder");
    QTest::addColumn<bool>("move");
    // p1..pN become p2..pN+1 in their own folder: every later source is kept aside first.
    QTest::newRow("one folder/renumber, copy") << true << false;
    QTest::newRow("one folder/renumber, move") << true << true;
    // Into a folder where half the new names exist already and are replaced.
    QTest::newRow("two folders/copy over files") << false << false;
    QTest::newRow("two folders/move over files") << false << true;
}

void BatchKillTest::populate(QRandomGenerator64 &random, const Layout &layout,
                             const QByteArray &src, const QByteArray &dst)
{
    int serial = 0;
    const auto content = [&] {
        QByteArray bytes = "#" + QByteArray::number(++serial) + "#";
        const int size = random.bounded(30) == 0 ? 600000 : int(random.bounded(16 * 1024));
        bytes.resize(bytes.size() + size);
        for (qsizetype i = bytes.size() - size; i < bytes.size(); i += 8) {
            const quint64 word = random.generate64();
            std::memcpy(bytes.data() + i, &word, size_t(std::min<qsizetype>(8, bytes.size() - i)));
        }
        return bytes;
    };
    const int count = 100;
    for (int i = 1; i <= count; ++i)
        QVERIFY(writeFile(src + "/p" + QByteArray::number(i) + ".jpg", content()));
    if (!layout.sameFolder) {
        for (int i = 1; i <= count + 1; i += 2)
            QVERIFY(writeFile(dst + "/p" + QByteArray::number(i) + ".jpg", content()));
        QVERIFY(writeFile(dst + "/unrelated.jpg", content()));
    }
}

void BatchKillTest::killedBatchesAreRecovered()
{
    QFETCH(bool, sameFolder);
    QFETCH(bool, move);
    const quint64 seed = BatchInvariant::seed();
    const int kills = BatchInvariant::count("KAENAMI_KILLS", 12);
    QRandomGenerator64 random(seed);
    const Layout layout{sameFolder, move, true, QStringLiteral("p"),
                        sameFolder ? QStringLiteral("2") : QStringLiteral("1")};

    qint64 fullRunUs = -1;
    int killedMidway = 0;
    int swaps = 0;
    for (int round = 0; round <= kills; ++round) {
        const Folders place(sameFolder);
        QVERIFY(place.root.isValid());
        const QByteArray &src = place.src, &dst = place.dst, &program = place.program;
        populate(random, layout, src, dst);

        PosixFileOperations files;
        const RenameRequest request = requestFor(place, layout, QStringLiteral("1"));
        const BatchInvariant::Batch batch = plannedBatch(place, request);
        const QList<QByteArray> folders{src, dst, program};
        const BatchInvariant::Snapshot before = BatchInvariant::snapshot(folders);

        QProcess child;
        child.start(QStringLiteral(KAENAMI_BATCH_CHILD),
                    {FileNames::decode(program), request.sourceFolder, request.targetFolder,
                     move ? "1" : "0", "1", layout.base, layout.start, "1",
                     // Every third batch writes as on file systems without unnamed files.
                     round % 3 == 2 ? "0" : "1"});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForReadyRead(10000), "the batch did not start");
        QElapsedTimer clock;
        clock.start();
        if (round == 0) {
            // The first run goes to its end and tells how long a batch takes.
            QVERIFY(child.waitForFinished(60000));
            fullRunUs = clock.nsecsElapsed() / 1000;
            QCOMPARE(child.exitCode(), 0);
        } else {
            // Within the first half of a whole batch's time, so that on a busy machine, where
            // batches take longer or shorter from one run to the next, most kills still land.
            // The first kill comes at once, so that one lands even when the machine is slow
            // to start the child and quick to run it.
            if (round > 1)
                QThread::usleep(random.bounded(quint64(fullRunUs) / 2 + 1));
            child.kill();
            QVERIFY(child.waitForFinished(10000));
            if (child.exitStatus() == QProcess::CrashExit)
                ++killedMidway;
        }

        // Now and then a folder of the cut-short batch is renamed away before the next start,
        // and a new folder takes its name: recovery touches nothing there and says where the
        // content is; once the folder is back, the start after puts everything right.
        QStringList wrong;
        const QByteArray swapped = random.bounded(2) == 0 ? dst : src;
        const QStringList journals =
            TestFiles::names(FileNames::decode(program))
                .filter(QRegularExpression(QStringLiteral("^\\.kaenami-batch-.*\\.journal$")));
        if (round > 0 && random.bounded(3) == 0 && !journals.isEmpty()) {
            ++swaps;
            const QByteArray away = swapped + ".moved";
            QVERIFY(::rename(swapped.constData(), away.constData()) == 0);
            QVERIFY(::mkdir(swapped.constData(), 0755) == 0);
            const QString told = recoverAbandonedBatches(files, FileNames::decode(program));
            if (!TestFiles::names(FileNames::decode(swapped)).isEmpty())
                wrong.append(QStringLiteral("recovery wrote into the new folder under the old "
                                            "name: ") +
                             TestFiles::names(FileNames::decode(swapped)).join(", "));
            if (swapped == dst && !told.contains(QStringLiteral("フォルダーが移動された")))
                wrong.append(QStringLiteral("recovery did not say the folder was moved: ") + told);
            if (swapped == dst && told.contains(QStringLiteral("失われた内容はありません")))
                wrong.append(QStringLiteral("recovery said nothing was lost: ") + told);
            TestFiles::removeTree(swapped);
            QVERIFY(::rename(away.constData(), swapped.constData()) == 0);
        }
        const QString message = recoverAbandonedBatches(files, FileNames::decode(program));
        const BatchInvariant::Snapshot after = BatchInvariant::snapshot(folders);
        wrong.append(BatchInvariant::violations(batch, before, after));
        for (const QString &lone : loneInformation(place.data + "/Trash"))
            wrong.append(QStringLiteral("trash information without its file: ") + lone);
        QVERIFY2(wrong.isEmpty(),
                 qPrintable(QStringLiteral("seed %1, round %2 (killed after %3 us of %4):\n  %5"
                                           "\nrecovery said: %6")
                                .arg(seed)
                                .arg(round)
                                .arg(clock.nsecsElapsed() / 1000)
                                .arg(fullRunUs)
                                .arg(wrong.join("\n  "), message)));
    }
    qInfo("seed %llu: a whole batch took %lld us; %d of %d kills landed mid-batch; %d times a "
          "folder was swapped before recovery",
          seed, fullRunUs, killedMidway, kills, swaps);
    // Timing on a shared machine varies; some kills must still have cut a batch short.
    QVERIFY2(killedMidway >= std::min(1, kills), "no kill landed while the batch ran");
}

void BatchKillTest::killedUndosAreRecovered_data()
{
    killedBatchesAreRecovered_data();
}

void BatchKillTest::killedUndosAreRecovered()
{
    QFETCH(bool, sameFolder);
    QFETCH(bool, move);
    const quint64 seed = BatchInvariant::seed();
    const int kills = BatchInvariant::count("KAENAMI_KILLS", 6);
    QRandomGenerator64 random(seed);
    const Layout layout{sameFolder, move, true, QStringLiteral("p"),
                        sameFolder ? QStringLiteral("2") : QStringLiteral("1")};
    qint64 fullUndoUs = -1;
    int killedMidway = 0;
    for (int round = 0; round <= kills; ++round) {
        const Folders place(sameFolder);
        QVERIFY(place.root.isValid());
        const QByteArray &src = place.src, &dst = place.dst, &program = place.program;
        const QByteArray &data = place.data;
        populate(random, layout, src, dst);
        const QList<QByteArray> folders{src, dst, program};
        const BatchInvariant::Snapshot before = BatchInvariant::snapshot(folders);

        QProcess batch;
        batch.start(QStringLiteral(KAENAMI_BATCH_CHILD),
                    {FileNames::decode(program), FileNames::decode(src), FileNames::decode(dst),
                     move ? "1" : "0", "1", layout.base, layout.start, "1", "1"});
        QVERIFY(batch.waitForFinished(60000));
        QCOMPARE(batch.exitCode(), 0);

        QProcess undo;
        undo.start(QStringLiteral(KAENAMI_BATCH_CHILD), {"undo", FileNames::decode(program)});
        QVERIFY(undo.waitForStarted());
        QVERIFY2(undo.waitForReadyRead(10000), "the undo did not start");
        QElapsedTimer clock;
        clock.start();
        if (round == 0) {
            QVERIFY(undo.waitForFinished(60000));
            fullUndoUs = clock.nsecsElapsed() / 1000;
            QCOMPARE(undo.exitCode(), 0);
        } else {
            if (round > 1) // the first kill at once, as for batches
                QThread::usleep(random.bounded(quint64(fullUndoUs) / 2 + 1));
            undo.kill();
            QVERIFY(undo.waitForFinished(10000));
            killedMidway += undo.exitStatus() == QProcess::CrashExit;
        }
        const QString message = recoverAbandonedBatches(undoFiles(), FileNames::decode(program));

        // Every content of before the batch is in a visible file or in the trash; nothing
        // hidden is left; a whole undo brings every name back.
        const BatchInvariant::Snapshot after = BatchInvariant::snapshot(folders);
        QSet<QByteArray> visible;
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!BatchInvariant::nameOf(it.key()).startsWith('.'))
                visible.insert(it->content);
        }
        for (const BatchInvariant::Entry &e : BatchInvariant::snapshot({data + "/Trash/files"}))
            visible.insert(e.content);
        QStringList wrong;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it->kind == BatchInvariant::Entry::Kind::File && !visible.contains(it->content))
                wrong.append(QStringLiteral("content lost: ") + FileNames::decode(it.key()));
        }
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (BatchInvariant::nameOf(it.key()).startsWith(".kaenami-") &&
                !BatchInvariant::nameOf(it.key()).startsWith(".kaenami-undo"))
                wrong.append(QStringLiteral("hidden leftover: ") + FileNames::decode(it.key()));
        }
        if (round == 0) {
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                if (!(after.value(it.key()) == *it))
                    wrong.append(QStringLiteral("not brought back: ") +
                                 FileNames::decode(it.key()));
            }
        }
        for (const QString &lone : loneInformation(data + "/Trash"))
            wrong.append(QStringLiteral("trash information without its file: ") + lone);
        // An undo cut short is finished or put back item by item: no content needs a name
        // beside its own, and the next start speaks of the undo, not of a batch.
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (FileNames::decode(BatchInvariant::nameOf(it.key())).contains("(復元"))
                wrong.append(QStringLiteral("a name beside its own: ") +
                             FileNames::decode(it.key()));
        }
        if (!message.isEmpty() &&
            (!message.contains("元に戻す") || message.contains("前回のリネーム")))
            wrong.append(QStringLiteral("the recovery's message is not about the undo"));
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("seed %1, round %2:\n  %3\n%4")
                                                 .arg(seed)
                                                 .arg(round)
                                                 .arg(wrong.join("\n  "), message)));
    }
    qInfo("seed %llu: a whole undo took %lld us; %d of %d kills landed mid-undo", seed, fullUndoUs,
          killedMidway, kills);
    QVERIFY2(killedMidway >= std::min(1, kills), "no kill landed while the undo ran");
}

void BatchKillTest::aKillWhileTheHistoryIsSavedLeavesNothing()
{
    // The photos fit, the batch's history (over 1 KiB for this many files) does not: the
    // kernel kills the batch (SIGXFSZ) in the middle of writing the history, as a kill could.
    const Folders place(false);
    QVERIFY(place.root.isValid());
    for (int i = 1; i <= 12; ++i)
        QVERIFY(writeFile(place.src + "/p" + QByteArray::number(i) + ".jpg",
                          "#" + QByteArray::number(i) + "#"));
    const Layout layout{false, false, true, QStringLiteral("p"), QStringLiteral("1")};
    const RenameRequest request = requestFor(place, layout, QStringLiteral("2"));
    const BatchInvariant::Batch batch = plannedBatch(place, request);
    const QList<QByteArray> folders{place.src, place.dst, place.program};
    const BatchInvariant::Snapshot before = BatchInvariant::snapshot(folders);

    QProcess child;
    child.setChildProcessModifier([] {
        const struct rlimit fileSize = {1024, 1024};
        const struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::signal(SIGXFSZ, SIG_DFL);
    });
    child.start(QStringLiteral(KAENAMI_BATCH_CHILD),
                {FileNames::decode(place.program), request.sourceFolder, request.targetFolder, "0",
                 "1", layout.base, layout.start, request.digitCountText, "1"});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitStatus() == QProcess::CrashExit, "the history's save was not cut short");
    QCOMPARE(TestFiles::names(FileNames::decode(place.dst)).size(), 12);

    PosixFileOperations files;
    const QString message = recoverAbandonedBatches(files, FileNames::decode(place.program));
    const QStringList wrong =
        BatchInvariant::violations(batch, before, BatchInvariant::snapshot(folders));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n") + "\nrecovery said: " + message));
}

void BatchKillTest::aTrashCopyCutShortNeverPosesAsTheReplacedFile()
{
    // On a drive without hard links the trash keeps a copy of the replaced file; a batch killed
    // while that copy is written must never leave a cut-short file under a trash name, which a
    // file manager would offer to restore; the next start removes what was half written.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString stick = root.path() + "/stick";
    const ExfatDrive drive(root.path() + "/stick.img", stick, 96 << 20);
    if (!drive.skipReason.isEmpty())
        QSKIP(drive.skipReason.toLatin1());
    const QByteArray base = FileNames::encode(stick);
    const QByteArray src = base + "/src", dst = base + "/dst", program = base + "/program";
    const QByteArray trash = base + "/.Trash-" + QByteArray::number(::geteuid());
    const QByteArray trashFiles = trash + "/files";
    qputenv("XDG_DATA_HOME", FileNames::encode(root.path()) + "/data");
    QRandomGenerator64 random(BatchInvariant::seed());
    QByteArray old(24 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < old.size(); i += 8) {
        const quint64 word = random.generate64();
        std::memcpy(old.data() + i, &word, 8);
    }
    const int kills = BatchInvariant::count("KAENAMI_KILLS", 6);
    qint64 fullRunUs = -1;
    int cutShort = 0;
    for (int round = 0; round <= kills; ++round) {
        for (const QByteArray &folder : {src, dst, program, trash})
            TestFiles::removeTree(folder);
        for (const QByteArray &folder : {src, dst, program})
            QVERIFY(::mkdir(folder.constData(), 0755) == 0);
        QVERIFY(writeFile(src + "/p1.jpg", "the new photo"));
        QVERIFY(writeFile(dst + "/p1.jpg", old));

        QProcess child;
        child.start(QStringLiteral(KAENAMI_BATCH_CHILD),
                    {FileNames::decode(program), FileNames::decode(src), FileNames::decode(dst),
                     "0", "1", "p", "1", "1", "1"});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForReadyRead(20000), "the batch did not start");
        QElapsedTimer clock;
        clock.start();
        if (round == 0) {
            QVERIFY(child.waitForFinished(60000));
            fullRunUs = clock.nsecsElapsed() / 1000;
            QCOMPARE(child.exitCode(), 0);
        } else {
            QThread::usleep(random.bounded(quint64(fullRunUs) * 3 / 4 + 1));
            child.kill();
            QVERIFY(child.waitForFinished(10000));
            cutShort += child.exitStatus() == QProcess::CrashExit;
        }
        QStringList wrong;
        // Only the old photo is ever trashed: whatever has a trash name holds all of it.
        const auto checkTrash = [&](const char *when) {
            for (const QString &name : TestFiles::names(FileNames::decode(trashFiles))) {
                if (!name.startsWith('.') &&
                    TestFiles::read(FileNames::decode(trashFiles) + '/' + name) != old)
                    wrong.append(QStringLiteral("%1: a cut-short file under a trash name: %2")
                                     .arg(QString::fromLatin1(when), name));
            }
        };
        checkTrash("after the kill");
        PosixFileOperations files;
        const QString message = recoverAbandonedBatches(files, FileNames::decode(program));
        checkTrash("after the next start");
        for (const QString &lone : loneInformation(trash))
            wrong.append(QStringLiteral("trash information without its file: ") + lone);
        for (const QByteArray &folder : {trashFiles, dst}) {
            for (const QString &name : TestFiles::names(FileNames::decode(folder))) {
                if (name.startsWith(".kaenami-"))
                    wrong.append(QStringLiteral("hidden leftover: ") + name);
            }
        }
        // The old photo is in sight: under its name, or whole in the trash.
        const bool kept = TestFiles::read(FileNames::decode(dst + "/p1.jpg")) == old ||
                          TestFiles::read(FileNames::decode(trashFiles + "/p1.jpg")) == old;
        if (!kept)
            wrong.append(QStringLiteral("in the target folder: ") +
                         TestFiles::names(FileNames::decode(dst)).join(", ") +
                         QStringLiteral("; in the trash: ") +
                         TestFiles::names(FileNames::decode(trashFiles)).join(", "));
        if (!kept)
            wrong.append(QStringLiteral("the replaced photo is nowhere whole"));
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("round %1:\n  %2\nrecovery said: %3")
                                                 .arg(round)
                                                 .arg(wrong.join("\n  "), message)));
    }
    qInfo("a whole batch took %lld us; %d of %d kills cut it short", fullRunUs, cutShort, kills);
}

QTEST_GUILESS_MAIN(BatchKillTest)
#include "tst_batchkill.moc"
