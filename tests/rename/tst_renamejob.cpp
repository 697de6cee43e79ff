#include "doubles.h"
#include "renamejob.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

/// Writes down every call, in order, as short words.
struct Journal
{
    QStringList events;
};

class RecordingProgress final : public ProgressDisplay
{
public:
    explicit RecordingProgress(Journal &journal) : m_journal(journal) {}
    void setRange(int minimum, int maximum) override
    {
        QVERIFY2(maximum >= minimum, "the bar was given an empty range");
        m_journal.events.append(QStringLiteral("range %1 %2").arg(minimum).arg(maximum));
    }
    void setValue(int value) override
    {
        m_journal.events.append(QStringLiteral("value %1").arg(value));
        lastValue = value;
    }
    void setVisible(bool visible) override
    {
        m_journal.events.append(visible ? QStringLiteral("show") : QStringLiteral("hide"));
        this->visible = visible;
    }
    bool visible = false;
    int lastValue = -1;

private:
    Journal &m_journal;
};

class RecordingHost final : public JobHost
{
public:
    explicit RecordingHost(Journal &journal) : m_journal(journal) {}
    void refreshLists() override { m_journal.events.append(QStringLiteral("refresh")); }
    OpResult saveData() override
    {
        m_journal.events.append(QStringLiteral("save"));
        return saveResult;
    }
    void focusBaseName() override { m_journal.events.append(QStringLiteral("focus")); }
    OpResult saveResult;

private:
    Journal &m_journal;
};

/// A job wired to doubles, on two real folders.
struct Fixture
{
    Fixture() : progress(journal), host(journal), job(files, progress, messages, host)
    {
        messages.onMessage = [this](const QString &text) {
            journal.events.append(QStringLiteral("message ") + text);
        };
        QDir(root.path()).mkdir(QStringLiteral("src"));
        QDir(root.path()).mkdir(QStringLiteral("dst"));
    }
    QString src() const { return root.path() + QStringLiteral("/src"); }
    QString dst() const { return root.path() + QStringLiteral("/dst"); }

    /// Creates files in the source folder, each holding its own name.
    RenameRequest request(const QStringList &names, const QString &selection = {})
    {
        RenameRequest r;
        r.baseName = QStringLiteral("photo");
        r.startNumberText = QStringLiteral("7");
        r.digitCountText = QStringLiteral("3");
        r.extension = QStringLiteral("jpg");
        r.sourceFolder = src();
        r.targetFolder = dst();
        for (int i = 0; i < names.size(); ++i) {
            if (!QFileInfo::exists(src() + QLatin1Char('/') + names[i]))
                TestFiles::write(src() + QLatin1Char('/') + names[i], names[i].toUtf8());
            r.entries.push_back(
                {names[i], selection.isEmpty() || selection[i] == QLatin1Char('x')});
        }
        return r;
    }

    QTemporaryDir root;
    Journal journal;
    FaultyFileOperations files;
    RecordingMessageBoxes messages;
    RecordingProgress progress;
    RecordingHost host;
    RenameJob job;
};

/// Rows for a test that runs once copying and once moving.
void copyAndMove()
{
    QTest::addColumn<bool>("move");
    QTest::newRow("copy") << false;
    QTest::newRow("move") << true;
}

} // namespace

class RenameJobTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copiesInListOrderAndCompletes();
    void movesAcrossFolders();
    void copyKeepsModificationTimeAndMode();
    void digitCheckTouchesNothing();
    void nothingSelectedStillCompletes();
    void progressCoversEveryEntry_data();
    void progressCoversEveryEntry();
    void sameNameStopsWithoutOverwrite();
    void sameNameWithoutATargetIsCopied_data();
    void sameNameWithoutATargetIsCopied();
    void sameNameReplacesWithOverwrite_data();
    void sameNameReplacesWithOverwrite();
    void sameNameInOneFolderKeepsTheFile_data();
    void sameNameInOneFolderKeepsTheFile();
    void laterSourcesKeepTheirContent_data();
    void laterSourcesKeepTheirContent();
    void failureInterruptsWithAMessage();
    void failureKeepsSetAsideContent();
    void saveFailureInterrupts();
    void numberOverflowInterruptsAfterTheEntry();
    void startOutOfRangeInterruptsBeforeAnyFile();
};

void RenameJobTest::copiesInListOrderAndCompletes()
{
    Fixture f;
    QVERIFY(f.root.isValid());
    const JobResult result = f.job.run(f.request({"c.jpg", "a.jpg", "b.jpg"}));
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    QCOMPARE(result.filesDone, 3);
    QCOMPARE(TestFiles::read(f.dst() + "/photo007.jpg"), QByteArray("c.jpg"));
    QCOMPARE(TestFiles::read(f.dst() + "/photo008.jpg"), QByteArray("a.jpg"));
    QCOMPARE(TestFiles::read(f.dst() + "/photo009.jpg"), QByteArray("b.jpg"));
    QCOMPARE(TestFiles::names(f.src()), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(TestFiles::names(f.dst()),
             (QStringList{"photo007.jpg", "photo008.jpg", "photo009.jpg"}));
    QCOMPARE(f.journal.events, (QStringList{"range 0 2", "show", "value 0", "value 0", "value 1",
                                            "value 2", "hide", "value 0", "refresh", "save",
                                            "focus", "message リネームが完了しました。"}));
}

void RenameJobTest::movesAcrossFolders()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg", "b.jpg", "c.jpg"}, "x-x");
    r.move = true;
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::names(f.src()), QStringList{"b.jpg"});
    QCOMPARE(TestFiles::names(f.dst()), (QStringList{"photo007.jpg", "photo008.jpg"}));
    QCOMPARE(TestFiles::read(f.dst() + "/photo008.jpg"), QByteArray("c.jpg"));
}

void RenameJobTest::copyKeepsModificationTimeAndMode()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg"});
    const QByteArray source = QFile::encodeName(f.src() + "/a.jpg");
    const struct timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    QCOMPARE(::utimensat(AT_FDCWD, source.constData(), times, 0), 0);
    QCOMPARE(::chmod(source.constData(), 0640), 0);
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    struct stat st
    {
    };
    QCOMPARE(::stat(QFile::encodeName(f.dst() + "/photo007.jpg").constData(), &st), 0);
    QCOMPARE(st.st_mtim.tv_sec, time_t(1200000000));
    QCOMPARE(st.st_mtim.tv_nsec, 987654321L);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
}

void RenameJobTest::digitCheckTouchesNothing()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg"});
    r.startNumberText = QStringLiteral("123");
    r.digitCountText = QStringLiteral("2");
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::DigitCheckFailed);
    QCOMPARE(f.journal.events, QStringList{"message 数値が桁数を越えています。"});
    QVERIFY(TestFiles::names(f.dst()).isEmpty());
    QVERIFY(f.files.calls.isEmpty());
}

void RenameJobTest::nothingSelectedStillCompletes()
{
    Fixture f;
    QCOMPARE(f.job.run(f.request({"a.jpg", "b.jpg"}, "--")).outcome, JobResult::Outcome::Completed);
    QVERIFY(TestFiles::names(f.dst()).isEmpty());
    QCOMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
    QVERIFY(f.journal.events.contains("save"));
}

void RenameJobTest::progressCoversEveryEntry_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QStringList>("progress");
    QTest::newRow("gaps still move the bar")
        << QStringList{"a", "b", "c", "d", "e"} << "-x-x-"
        << QStringList{"range 0 4", "show",    "value 0", "value 0", "value 1",
                       "value 2",   "value 3", "value 4", "hide",    "value 0"};
    QTest::newRow("one entry") << QStringList{"a"} << "x"
                               << QStringList{"range 0 0", "show", "value 0",
                                              "value 0",   "hide", "value 0"};
    QTest::newRow("no entry") << QStringList{} << ""
                              << QStringList{"range 0 0", "show", "value 0", "hide", "value 0"};
}

void RenameJobTest::progressCoversEveryEntry()
{
    QFETCH(QStringList, names);
    QFETCH(QString, selection);
    QFETCH(QStringList, progress);
    Fixture f;
    QCOMPARE(f.job.run(f.request(names, selection)).outcome, JobResult::Outcome::Completed);
    QCOMPARE(f.journal.events.mid(0, progress.size()), progress);
    QCOMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
}

void RenameJobTest::sameNameStopsWithoutOverwrite()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg", "photo008.jpg", "c.jpg"});
    TestFiles::write(f.dst() + "/photo008.jpg", "old");
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::SameNameStop);
    QCOMPARE(result.filesDone, 1);
    QCOMPARE(f.messages.informed,
             QStringList{"コピー先に同じファイル名があります。\r\n"
                         "上書きするのであればチェックボックスをオンにしてください。"});
    QCOMPARE(TestFiles::names(f.dst()), (QStringList{"photo007.jpg", "photo008.jpg"}));
    QCOMPARE(TestFiles::read(f.dst() + "/photo008.jpg"), QByteArray("old"));
    QVERIFY(f.progress.visible);
    QVERIFY(!f.journal.events.contains("refresh"));
    QVERIFY(!f.journal.events.contains("save"));
}

void RenameJobTest::sameNameWithoutATargetIsCopied_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("move");
    QTest::newRow("flag off") << false << false;
    QTest::newRow("flag on") << true << false;
    QTest::newRow("flag on, moving") << true << true;
}

void RenameJobTest::sameNameWithoutATargetIsCopied()
{
    QFETCH(bool, overwrite);
    QFETCH(bool, move);
    Fixture f;
    RenameRequest r = f.request({"photo007.jpg", "b.jpg"});
    r.overwrite = overwrite;
    r.move = move;
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.dst() + "/photo007.jpg"), QByteArray("photo007.jpg"));
    QCOMPARE(TestFiles::read(f.dst() + "/photo008.jpg"), QByteArray("b.jpg"));
    QCOMPARE(TestFiles::names(f.src()).isEmpty(), move);
    QCOMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
}

void RenameJobTest::sameNameReplacesWithOverwrite_data()
{
    copyAndMove();
}

void RenameJobTest::sameNameReplacesWithOverwrite()
{
    QFETCH(bool, move);
    Fixture f;
    RenameRequest r = f.request({"photo007.jpg"});
    r.overwrite = true;
    r.move = move;
    TestFiles::write(f.dst() + "/photo007.jpg", "old target");
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.dst() + "/photo007.jpg"), QByteArray("photo007.jpg"));
    QCOMPARE(TestFiles::names(f.dst()), QStringList{"photo007.jpg"}); // no temporary left
    QCOMPARE(TestFiles::names(f.src()).isEmpty(), move);
}

void RenameJobTest::sameNameInOneFolderKeepsTheFile_data()
{
    copyAndMove();
}

void RenameJobTest::sameNameInOneFolderKeepsTheFile()
{
    QFETCH(bool, move);
    Fixture f;
    RenameRequest r = f.request({"photo007.jpg", "z.jpg"});
    r.targetFolder = f.src();
    r.overwrite = true;
    r.move = move;
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.src() + "/photo007.jpg"), QByteArray("photo007.jpg"));
    // The number was used: the next entry gets 8.
    QCOMPARE(TestFiles::read(f.src() + "/photo008.jpg"), QByteArray("z.jpg"));
    const QStringList expected = move ? QStringList{"photo007.jpg", "photo008.jpg"}
                                      : QStringList{"photo007.jpg", "photo008.jpg", "z.jpg"};
    QCOMPARE(TestFiles::names(f.src()), expected);
}

void RenameJobTest::laterSourcesKeepTheirContent_data()
{
    copyAndMove();
}

void RenameJobTest::laterSourcesKeepTheirContent()
{
    QFETCH(bool, move);
    Fixture f;
    // a1 becomes a2.jpg before a2.jpg is read, a2 becomes a3.jpg before a3.jpg is read.
    RenameRequest r = f.request({"a1.jpg", "a2.jpg", "a3.jpg"});
    r.targetFolder = f.src();
    r.baseName = QStringLiteral("a");
    r.startNumberText = QStringLiteral("2");
    r.digitCountText = QStringLiteral("1");
    r.move = move;
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.src() + "/a2.jpg"), QByteArray("a1.jpg"));
    QCOMPARE(TestFiles::read(f.src() + "/a3.jpg"), QByteArray("a2.jpg"));
    QCOMPARE(TestFiles::read(f.src() + "/a4.jpg"), QByteArray("a3.jpg"));
    const QStringList expected = move ? QStringList{"a2.jpg", "a3.jpg", "a4.jpg"}
                                      : QStringList{"a1.jpg", "a2.jpg", "a3.jpg", "a4.jpg"};
    QCOMPARE(TestFiles::names(f.src()), expected);
    if (!move)
        QCOMPARE(TestFiles::read(f.src() + "/a1.jpg"), QByteArray("a1.jpg"));
}

void RenameJobTest::failureInterruptsWithAMessage()
{
    Fixture f;
    f.files.failWhen = [](FaultyFileOperations::Op op, const QString &path) {
        return op == FaultyFileOperations::Op::Copy && path.endsWith("photo008.jpg");
    };
    const JobResult result = f.job.run(f.request({"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    QCOMPARE(f.messages.informed.size(), 1);
    const QString message = f.messages.informed.first();
    QVERIFY2(message.startsWith("リネームを中断しました。\r\n"), qPrintable(message));
    QVERIFY2(message.contains(f.dst() + "/photo008.jpg"), qPrintable(message));
    QVERIFY2(message.contains("No space left on device"), qPrintable(message));
    QVERIFY2(message.contains("1 件"), qPrintable(message));
    QCOMPARE(TestFiles::names(f.dst()), QStringList{"photo007.jpg"});
    QVERIFY(f.progress.visible);
    QVERIFY(!f.journal.events.contains("refresh"));
}

void RenameJobTest::failureKeepsSetAsideContent()
{
    Fixture f;
    RenameRequest r = f.request({"a1.jpg", "a2.jpg", "a3.jpg"});
    r.targetFolder = f.src();
    r.baseName = QStringLiteral("a");
    r.startNumberText = QStringLiteral("2");
    r.digitCountText = QStringLiteral("1");
    f.files.failWhen = [](FaultyFileOperations::Op op, const QString &path) {
        return op == FaultyFileOperations::Op::Copy && path.endsWith("/a3.jpg");
    };
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    // a2.jpg now holds a1's copy; a2's own content lives only in the kept file.
    QCOMPARE(result.keptFiles.size(), 1);
    QCOMPARE(TestFiles::read(result.keptFiles.first()), QByteArray("a2.jpg"));
    QVERIFY(f.messages.informed.first().contains(result.keptFiles.first()));
    QCOMPARE(TestFiles::read(f.src() + "/a3.jpg"), QByteArray("a3.jpg"));
    // a3's kept copy was not needed and is gone again.
    QCOMPARE(TestFiles::names(f.src()).size(), 4);
}

void RenameJobTest::saveFailureInterrupts()
{
    Fixture f;
    f.host.saveResult = OpResult::failure("Read-only file system", "/x/DuVuzeRezo.ini");
    QCOMPARE(f.job.run(f.request({"a.jpg"})).outcome, JobResult::Outcome::Interrupted);
    QCOMPARE(f.messages.informed.size(), 1);
    QVERIFY(f.messages.informed.first().contains("/x/DuVuzeRezo.ini"));
    QVERIFY(!f.journal.events.contains("focus"));
}

void RenameJobTest::numberOverflowInterruptsAfterTheEntry()
{
    Fixture f;
    RenameRequest r = f.request({"a", "b", "c"});
    r.baseName = QStringLiteral("n");
    r.startNumberText = QStringLiteral("2147483646");
    r.digitCountText = QStringLiteral("10");
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    QCOMPARE(result.filesDone, 2);
    QCOMPARE(TestFiles::names(f.dst()), (QStringList{"n2147483646.jpg", "n2147483647.jpg"}));
    QVERIFY(f.messages.informed.first().contains("2 件"));
}

void RenameJobTest::startOutOfRangeInterruptsBeforeAnyFile()
{
    Fixture f;
    RenameRequest r = f.request({"a"});
    r.startNumberText = QStringLiteral("99999999999");
    r.digitCountText = QStringLiteral("15");
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Interrupted);
    QVERIFY(TestFiles::names(f.dst()).isEmpty());
    QVERIFY(f.messages.informed.first().startsWith("リネームを中断しました。"));
}

QTEST_GUILESS_MAIN(RenameJobTest)
#include "tst_renamejob.moc"
