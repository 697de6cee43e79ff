#include "childprocess.h"
#include "doubles.h"
#include "forwardingfiles.h"
#include "renamejob.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(JobResult::Outcome)

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
    OpResult refreshLists() override
    {
        m_journal.events.append(QStringLiteral("refresh"));
        return refreshResult;
    }
    OpResult saveData() override
    {
        m_journal.events.append(QStringLiteral("save"));
        return saveResult;
    }
    void focusBaseName() override { m_journal.events.append(QStringLiteral("focus")); }
    UndoRecording recordForUndo(const JobResult &) override { return {}; }
    OpResult saveResult;
    OpResult refreshResult;

private:
    Journal &m_journal;
};

/// A job wired to doubles, on two real folders.
struct Fixture
{
    Fixture()
        : progress(journal), host(journal),
          job(files, progress, messages, host, root.path() + QStringLiteral("/program"))
    {
        messages.onMessage = [this](const QString &text) {
            journal.events.append(QStringLiteral("message ") + text);
        };
        QDir(root.path()).mkdir(QStringLiteral("src"));
        QDir(root.path()).mkdir(QStringLiteral("dst"));
        QDir(root.path()).mkdir(QStringLiteral("program"));
    }
    ~Fixture() { TestFiles::removeTree(QFile::encodeName(root.path())); }
    QString program() const { return root.path() + QStringLiteral("/program"); }
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

/// Real file operations on a folder that is also seen under a second path with its own
/// device number, as a FUSE or network view of a local folder is.
class AliasedView final : public ForwardingFileOperations
{
public:
    AliasedView(QString real, QString view) : m_real(std::move(real)), m_view(std::move(view)) {}

    KAENAMI_PATH_FORMS(ForwardingFileOperations);

    OpResult moveFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r) override
    {
        // Across the two paths a rename fails as across devices: copy, then remove.
        if (viewed(sf.path()) != viewed(df.path())) {
            const FileStatus before = m_files.status(sf, s, false);
            if (OpResult copied = m_files.copyFile(sf, s, df, d, o, r); !copied)
                return copied;
            if (!m_files.status(sf, s, false).sameFileAs(before))
                return {}; // as the real move, which never removes what it just wrote
            return m_files.removeFile(sf, s);
        }
        return ForwardingFileOperations::moveFile(sf, s, df, d, o, r);
    }

protected:
    QString real(const QString &p) const override
    {
        return viewed(p) ? m_real + p.mid(m_view.size()) : p;
    }
    FileStatus seen(const QString &p, const FileStatus &status) const override
    {
        FileStatus st = status;
        if (viewed(p) && st.exists()) {
            // The view's own device and inode numbers, as a network view has.
            st.device ^= 0x5a5a;
            st.inode ^= 0x1234567;
        }
        return st;
    }

private:
    bool viewed(const QString &p) const { return p == m_view || p.startsWith(m_view + '/'); }
    QString m_real, m_view;
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
    void completionFailuresAreToldAsSuch_data();
    void completionFailuresAreToldAsSuch();
    void numberLimitInterruptsWithFilesLeft_data();
    void numberLimitInterruptsWithFilesLeft();
    void startOutOfRangeIsRefusedBeforeAnything();
    void unusableNamesAreRefusedBeforeAnything_data();
    void unusableNamesAreRefusedBeforeAnything();
    void sourcesAStopWouldStrandAreRefused_data();
    void sourcesAStopWouldStrandAreRefused();
    void aNonFileUnderANewNameIsRefused_data();
    void aNonFileUnderANewNameIsRefused();
    void aFolderRenamedMidwayCarriesTheBatch_data();
    void aFolderRenamedMidwayCarriesTheBatch();
    void aMoveFromADriveThatKeepsItsFilesRecordsTheCopy();
    void aLinkNamedAsItsOwnNewNameKeepsItsContentWhenItsFileMoves();
    void linksAreReadAsTheirFiles_data();
    void linksAreReadAsTheirFiles();
    void laterSourceReachedThroughALinkKeepsItsContent();
    void anEarlierNewNameIsNeverMovedAway_data();
    void anEarlierNewNameIsNeverMovedAway();
    void namesKeepTheirExactBytes();
    void aPipeAmongTheSourcesInterruptsWithoutBlocking();
    void oneFolderSeenThroughTwoMountsIsOneFolder_data();
    void oneFolderSeenThroughTwoMountsIsOneFolder();
    void aSourceGoneAtTheStartIsNotTakenFromANewFile();
    void reasonsAreTheSystemsOwn();
    void theFirstStopIsTheOneNamed();
    void hardLinkedSourcesMoveAcrossDrives();
    void journalComesFirstAndGoesAtTheEnd();
    void unwritableJournalTouchesNothing();
    void plainBatchesNeedNoJournal();
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
    // a2.jpg now holds a1's copy; a2's own content comes back under a visible name beside it.
    QCOMPARE(result.recovery.restored.size(), size_t(1));
    const QString restored = f.src() + "/a2 (復元).jpg";
    QCOMPARE(result.recovery.restored.front().now, restored);
    QCOMPARE(TestFiles::read(restored), QByteArray("a2.jpg"));
    QVERIFY2(f.messages.informed.first().contains(restored),
             qPrintable(f.messages.informed.first()));
    QCOMPARE(TestFiles::read(f.src() + "/a2.jpg"), QByteArray("a1.jpg"));
    QCOMPARE(TestFiles::read(f.src() + "/a3.jpg"), QByteArray("a3.jpg"));
    // Nothing hidden is left: a3's kept link was not needed, the journal is gone.
    QCOMPARE(TestFiles::names(f.src()),
             (QStringList{"a1.jpg", "a2 (復元).jpg", "a2.jpg", "a3.jpg"}));
    QVERIFY(TestFiles::names(f.program()).isEmpty());
}

void RenameJobTest::completionFailuresAreToldAsSuch_data()
{
    QTest::addColumn<bool>("refreshFails");
    QTest::addColumn<bool>("saveFails");
    QTest::newRow("save") << false << true;
    QTest::newRow("refresh") << true << false;
    QTest::newRow("both") << true << true;
}

void RenameJobTest::completionFailuresAreToldAsSuch()
{
    QFETCH(bool, refreshFails);
    QFETCH(bool, saveFails);
    Fixture f;
    if (saveFails)
        f.host.saveResult = OpResult::failure("Read-only file system", "/x/DuVuzeRezo.ini");
    if (refreshFails)
        f.host.refreshResult = OpResult::failure("Input/output error", f.dst());
    const JobResult result = f.job.run(f.request({"a.jpg"}));
    // Every file was done: the batch is complete, and the failed step is named with its reason.
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    QCOMPARE(f.messages.informed.size(), 1);
    const QString message = f.messages.informed.first();
    QVERIFY2(message.startsWith("リネームが完了しました。\r\nただし、"), qPrintable(message));
    QVERIFY2(!message.contains("中断"), qPrintable(message));
    QCOMPARE(message.contains("/x/DuVuzeRezo.ini") && message.contains("Read-only file system"),
             saveFails);
    QCOMPARE(message.contains("Input/output error"), refreshFails);
    QVERIFY(f.journal.events.contains("save"));
    QVERIFY(f.journal.events.contains("focus"));
}

void RenameJobTest::numberLimitInterruptsWithFilesLeft_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<JobResult::Outcome>("outcome");
    QTest::addColumn<QString>("message"); // <src> for the source folder

    // Nothing failed: the message names the first file left, not the last one written.
    QTest::newRow("a file left") << QStringList{"a", "b", "unselected", "c"} << "xx.x"
                                 << JobResult::Outcome::Interrupted
                                 << "リネームを中断しました。\r\n"
                                    "理由: 連番が 2147483647 を超えるため続けられません。\r\n"
                                    "中断までに処理したファイル: 2 件\r\n"
                                    "処理していないファイル: 1 件（最初のファイル: <src>/c）";
    QTest::newRow("the last file takes the last number")
        << QStringList{"a", "b", "unselected"} << "xx." << JobResult::Outcome::Completed
        << RenameJob::completedMessage();
}

void RenameJobTest::numberLimitInterruptsWithFilesLeft()
{
    QFETCH(QStringList, names);
    QFETCH(QString, selection);
    QFETCH(JobResult::Outcome, outcome);
    QFETCH(QString, message);
    Fixture f;
    RenameRequest r = f.request(names, selection);
    r.baseName = QStringLiteral("n");
    r.startNumberText = QStringLiteral("2147483646");
    r.digitCountText = QStringLiteral("10");
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.filesDone, 2);
    QCOMPARE(TestFiles::names(f.dst()), (QStringList{"n2147483646.jpg", "n2147483647.jpg"}));
    QCOMPARE(TestFiles::read(f.dst() + "/n2147483647.jpg"), QByteArray("b"));
    QCOMPARE(f.messages.informed, QStringList{message.replace("<src>", f.src())});
}

void RenameJobTest::startOutOfRangeIsRefusedBeforeAnything()
{
    Fixture f;
    RenameRequest r = f.request({"a"});
    r.startNumberText = QStringLiteral("99999999999");
    r.digitCountText = QStringLiteral("15");
    f.files.calls.clear();
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Refused);
    QCOMPARE(f.messages.informed,
             QStringList{"開始番号「99999999999」が扱える範囲（-2147483648 から 2147483647）を"
                         "超えているため、リネームを始めませんでした。\r\n"
                         "ファイルは何も変更していません。"});
    QVERIFY(f.files.calls.isEmpty());
    QVERIFY(!f.progress.visible);
    QVERIFY(TestFiles::names(f.dst()).isEmpty());
}

void RenameJobTest::unusableNamesAreRefusedBeforeAnything_data()
{
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("reason");
    const QString slash = QStringLiteral("「/」");
    const QString control = QStringLiteral("制御文字");
    QTest::newRow("slash/this folder") << "./f"
                                       << "jpg"
                                       << "./f007.jpg" << slash;
    QTest::newRow("slash/parent folder") << "../other/f"
                                         << "jpg"
                                         << "../other/f007.jpg" << slash;
    QTest::newRow("slash/in extension") << "f"
                                        << "j/pg"
                                        << "f007.j/pg" << slash;
    QTest::newRow("control/NUL") << QString("a") + QChar(0) + "b"
                                 << "jpg" << QString("a<U+0000>b007.jpg") << control;
    QTest::newRow("control/line feed") << "a\nb"
                                       << "jpg" << QString("a<U+000A>b007.jpg") << control;
    QTest::newRow("control/tab") << "a"
                                 << "j\tpg" << QString("a007.j<U+0009>pg") << control;
    QTest::newRow("control/escape") << "\x1b[31m"
                                    << "jpg" << QString("<U+001B>[31m007.jpg") << control;
    QTest::newRow("control/delete") << "a\x7f"
                                    << "jpg" << QString("a<U+007F>007.jpg") << control;
    QTest::newRow("hidden") << ".f"
                            << "jpg"
                            << ".f007.jpg"
                            << "隠しファイル";
    QTest::newRow("too long") << QString(250, 'x') << "jpg" << QString(250, 'x') + "007.jpg"
                              << "255 バイト";
    QTest::newRow("too long/multibyte")
        << QString(84, QChar(0x5199)) << "jpg" << QString(84, QChar(0x5199)) + "007.jpg"
        << "255 バイト";
}

void RenameJobTest::unusableNamesAreRefusedBeforeAnything()
{
    QFETCH(QString, baseName);
    QFETCH(QString, extension);
    QFETCH(QString, shown);
    QFETCH(QString, reason);
    for (const bool move : {false, true}) {
        Fixture f;
        QDir(f.root.path()).mkdir("other");
        RenameRequest r = f.request({"a.jpg", "b.jpg"});
        r.baseName = baseName;
        r.extension = extension;
        r.move = move;
        f.files.calls.clear();
        const JobResult result = f.job.run(r);
        QCOMPARE(result.outcome, JobResult::Outcome::Refused);
        QCOMPARE(f.messages.informed.size(), 1);
        const QString message = f.messages.informed.first();
        QVERIFY2(message.contains("「" + shown + "」"), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY(f.files.calls.isEmpty());
        QVERIFY(!f.progress.visible);
        QCOMPARE(TestFiles::names(f.src()), (QStringList{"a.jpg", "b.jpg"}));
        QVERIFY(TestFiles::names(f.dst()).isEmpty());
        QVERIFY(TestFiles::names(f.root.path() + "/other").isEmpty());
        QVERIFY(TestFiles::names(f.program()).isEmpty());
    }
}

void RenameJobTest::aNonFileUnderANewNameIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("sameFolder");
    QTest::newRow("folder/two folders") << "folder" << false;
    QTest::newRow("folder/one folder") << "folder" << true;
    QTest::newRow("pipe/two folders") << "pipe" << false;
}

void RenameJobTest::aNonFileUnderANewNameIsRefused()
{
    // The second new name is taken by something no file can replace: the batch would stop
    // there half-way, so it does not start.
    QFETCH(QString, kind);
    QFETCH(bool, sameFolder);
    Fixture f;
    RenameRequest r = f.request({"a.jpg", "b.jpg", "c.jpg"});
    r.overwrite = true;
    if (sameFolder)
        r.targetFolder = r.sourceFolder;
    const QString blocked = r.targetFolder + "/photo008.jpg";
    if (kind == "folder")
        QVERIFY(QDir().mkdir(blocked));
    else
        QVERIFY(::mkfifo(QFile::encodeName(blocked).constData(), 0644) == 0);
    const QStringList before = TestFiles::names(r.targetFolder);
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Refused);
    QCOMPARE(f.messages.informed.size(), 1);
    const QString message = f.messages.informed.first();
    QVERIFY2(message.contains("始めませんでした") && message.contains(blocked) &&
                 message.contains(kind == "folder" ? "フォルダー" : "パイプ"),
             qPrintable(message));
    QCOMPARE(TestFiles::names(r.targetFolder), before);
    QCOMPARE(TestFiles::names(f.program()), QStringList{});
    QVERIFY(!f.progress.visible);
}

void RenameJobTest::aFolderRenamedMidwayCarriesTheBatch_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("newFolderUnderTheOldName");
    QTest::newRow("renumber by moving/folder swapped") << true << true;
    QTest::newRow("renumber by moving/folder renamed") << true << false;
    QTest::newRow("renumber by copying/folder swapped") << false << true;
}

void RenameJobTest::aFolderRenamedMidwayCarriesTheBatch()
{
    // p1..p400 become p2..p401 in their own folder (every later source is kept aside first),
    // and the folder is renamed away while the batch runs, perhaps with a new folder appearing
    // under its old name: the whole batch goes on in the folder it opened, and the new folder
    // is never touched.
    QFETCH(bool, move);
    QFETCH(bool, newFolderUnderTheOldName);
    Fixture f;
    QStringList names;
    for (int i = 1; i <= 400; ++i)
        names.append(QStringLiteral("p%1.jpg").arg(i));
    RenameRequest r = f.request(names);
    r.baseName = "p";
    r.startNumberText = "2";
    r.digitCountText = "1";
    r.move = move;
    r.overwrite = true;
    r.targetFolder = r.sourceFolder;
    const QString moved = f.root.path() + "/moved";
    int changes = 0;
    f.files.failWhen = [&](FaultyFileOperations::Op op, const QString &) {
        if (op != FaultyFileOperations::Op::List && op != FaultyFileOperations::Op::Read &&
            ++changes == 150) {
            QDir().rename(f.src(), moved);
            if (newFolderUnderTheOldName)
                QDir().mkdir(f.src());
        }
        return false;
    };
    const JobResult result = f.job.run(r);
    QVERIFY2(changes > 150, "the folder was renamed before the batch ended");
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    QCOMPARE(result.filesDone, 400);
    if (newFolderUnderTheOldName)
        QCOMPARE(TestFiles::names(f.src()), QStringList{});
    // Every content under its new name in the moved folder, nothing hidden left there.
    QStringList expected;
    for (int i = move ? 2 : 1; i <= 401; ++i)
        expected.append(QStringLiteral("p%1.jpg").arg(i));
    expected.sort();
    QCOMPARE(TestFiles::names(moved), expected);
    for (int i = 1; i <= 400; ++i)
        QCOMPARE(TestFiles::read(moved + QStringLiteral("/p%1.jpg").arg(i + 1)),
                 QStringLiteral("p%1.jpg").arg(i).toUtf8());
}

void RenameJobTest::aMoveFromADriveThatKeepsItsFilesRecordsTheCopy()
{
    // Moving from a read-only drive to another: the first copy is written, its source cannot
    // go. The copy is recorded (so that an undo takes it away), the batch stops there and says
    // the source stays. The source drive is a tmpfs in a child's own mount namespace.
    Fixture f;
    const QByteArray src = QFile::encodeName(f.src());
    const int code = onOwnDrive(src, "tmpfs", "size=1m", [&] {
        RenameRequest r = f.request({"a.jpg", "b.jpg"});
        r.move = true;
        if (::mount(nullptr, src.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return 10;
        const JobResult result = f.job.run(r);
        if (result.outcome != JobResult::Outcome::Interrupted || result.filesDone != 0)
            return 1;
        if (result.record.size() != 1 || result.record.front().kind != JobAction::Kind::Copied ||
            result.record.front().to != "photo007.jpg")
            return 2;
        if (TestFiles::read(f.dst() + "/photo007.jpg") != "a.jpg" ||
            TestFiles::read(f.src() + "/a.jpg") != "a.jpg")
            return 3;
        if (f.messages.informed.size() != 1 ||
            !f.messages.informed.front().contains("元のファイルを削除できませんでした"))
            return 4;
        return 0;
    });
    if (code == -1 || code == 10)
        QSKIP("cannot mount a file system of the test's own here");
    QCOMPARE(code, 0);
}

void RenameJobTest::aLinkNamedAsItsOwnNewNameKeepsItsContentWhenItsFileMoves()
{
    // p001.jpg is a link to p002.jpg and keeps its own name; the step before moves p002.jpg
    // away: p001.jpg becomes a file with the content it showed, and stays.
    Fixture f;
    QVERIFY(TestFiles::write(f.src() + "/p002.jpg", "the photo"));
    QVERIFY(QFile::link("p002.jpg", f.src() + "/p001.jpg"));
    RenameRequest r = f.request({"p002.jpg", "p001.jpg"});
    r.baseName = "p";
    r.startNumberText = "0";
    r.digitCountText = "3";
    r.move = true;
    r.overwrite = true;
    r.targetFolder = r.sourceFolder;
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::names(f.src()), (QStringList{"p000.jpg", "p001.jpg"}));
    QCOMPARE(TestFiles::read(f.src() + "/p000.jpg"), QByteArray("the photo"));
    QCOMPARE(TestFiles::read(f.src() + "/p001.jpg"), QByteArray("the photo"));
    QVERIFY(!QFileInfo(f.src() + "/p001.jpg").isSymLink());
}

void RenameJobTest::sourcesAStopWouldStrandAreRefused_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("startNumber");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("stranded");
    // a.jpg would replace the later source before the batch stops and never reaches it.
    QTest::newRow("number limit") << QStringList{"a.jpg", "p2147483647.jpg"} << "2147483647"
                                  << "10"
                                  << "p2147483647.jpg";
    QTest::newRow("same name") << QStringList{"a.jpg", "p2.jpg", "p1.jpg"} << "1"
                               << "1"
                               << "p1.jpg";
}

void RenameJobTest::sourcesAStopWouldStrandAreRefused()
{
    QFETCH(QStringList, names);
    QFETCH(QString, startNumber);
    QFETCH(QString, digits);
    QFETCH(QString, stranded);
    for (const bool move : {false, true}) {
        Fixture f;
        RenameRequest r = f.request(names);
        r.targetFolder = f.src();
        r.baseName = QStringLiteral("p");
        r.startNumberText = startNumber;
        r.digitCountText = digits;
        r.move = move;
        const QStringList before = TestFiles::names(f.src());
        const JobResult result = f.job.run(r);
        QCOMPARE(result.outcome, JobResult::Outcome::Refused);
        QVERIFY2(f.messages.informed.first().contains("「" + f.src() + "/" + stranded + "」"),
                 qPrintable(f.messages.informed.first()));
        QCOMPARE(TestFiles::names(f.src()), before);
        for (const QString &name : names)
            QCOMPARE(TestFiles::read(f.src() + "/" + name), name.toUtf8());
    }
}

void RenameJobTest::linksAreReadAsTheirFiles_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("move");
    QTest::addColumn<QStringList>("sourcesAfter");
    QTest::addColumn<QStringList>("kinds");
    // "onto": a link in the source folder to the very file the new name is.
    QTest::newRow("onto/copy") << "onto" << false << QStringList{"l.jpg"} << QStringList{"Kept"};
    QTest::newRow("onto/move") << "onto" << true << QStringList{} << QStringList{"Kept", "Removed"};
    // "relative": a relative link to a file beside it, taken into another folder.
    QTest::newRow("relative/copy")
        << "relative" << false << QStringList{"l.jpg", "real.dat"} << QStringList{"Copied"};
    QTest::newRow("relative/move")
        << "relative" << true << QStringList{"real.dat"} << QStringList{"Copied", "Removed"};
    // "same name": the source is a second name, under the same name in the other folder.
    QTest::newRow("same name/move")
        << "same name" << true << QStringList{} << QStringList{"Kept", "Removed"};
    // "hard": the source is a second name of the file the new name already is.
    QTest::newRow("hard/copy") << "hard" << false << QStringList{"l.jpg"} << QStringList{"Kept"};
    QTest::newRow("hard/move") << "hard" << true << QStringList{} << QStringList{"Kept", "Removed"};
}

void RenameJobTest::linksAreReadAsTheirFiles()
{
    QFETCH(QString, setup);
    QFETCH(bool, move);
    QFETCH(QStringList, sourcesAfter);
    QFETCH(QStringList, kinds);
    Fixture f;
    const QByteArray link = QFile::encodeName(f.src() + "/l.jpg");
    QByteArray expected = "the content";
    if (setup == "onto") {
        QVERIFY(TestFiles::write(f.dst() + "/photo007.jpg", expected));
        QCOMPARE(::symlink(QFile::encodeName(f.dst() + "/photo007.jpg").constData(), link), 0);
    } else if (setup == "relative") {
        QVERIFY(TestFiles::write(f.src() + "/real.dat", expected));
        QCOMPARE(::symlink("real.dat", link.constData()), 0);
        // A file of the link's text in the target folder must not be what is read.
        QVERIFY(TestFiles::write(f.dst() + "/real.dat", "someone else's file"));
    } else {
        QVERIFY(TestFiles::write(f.dst() + "/photo007.jpg", expected));
        QCOMPARE(::link(QFile::encodeName(f.dst() + "/photo007.jpg").constData(),
                        setup == "same name" ? QFile::encodeName(f.src() + "/photo007.jpg") : link),
                 0);
    }
    RenameRequest r = f.request({setup == "same name" ? "photo007.jpg" : "l.jpg"});
    r.overwrite = setup == "same name"; // past the same-name stop
    r.move = move;
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Completed);
    const QString target = f.dst() + "/photo007.jpg";
    struct stat st
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(target).constData(), &st), 0);
    QVERIFY2(S_ISREG(st.st_mode), "the new name must be a regular file");
    QCOMPARE(TestFiles::read(target), expected);
    QStringList sources = QDir(f.src()).entryList(QDir::Files | QDir::System | QDir::Hidden);
    sources.sort();
    QCOMPARE(sources, sourcesAfter);
    if (setup == "relative")
        QCOMPARE(TestFiles::read(f.src() + "/real.dat"), expected);
    QStringList recorded;
    const char *names[] = {"Copied",   "Replaced", "Moved",   "Removed",
                           "SetAside", "Kept",     "Restored"};
    for (const JobAction &action : result.record)
        recorded.append(names[int(action.kind)]);
    QCOMPARE(recorded, kinds);
}

void RenameJobTest::laterSourceReachedThroughALinkKeepsItsContent()
{
    for (const bool move : {false, true}) {
        Fixture f;
        // l.jpg points at photo007.jpg, which a.jpg's copy replaces before l.jpg is read.
        QVERIFY(TestFiles::write(f.dst() + "/photo007.jpg", "old photo007"));
        QCOMPARE(
            ::symlink("../dst/photo007.jpg", QFile::encodeName(f.src() + "/l.jpg").constData()), 0);
        RenameRequest r = f.request({"a.jpg", "l.jpg"});
        r.move = move;
        QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
        QCOMPARE(TestFiles::read(f.dst() + "/photo007.jpg"), QByteArray("a.jpg"));
        QCOMPARE(TestFiles::read(f.dst() + "/photo008.jpg"), QByteArray("old photo007"));
        QCOMPARE(TestFiles::names(f.dst()), (QStringList{"photo007.jpg", "photo008.jpg"}));
    }
}

void RenameJobTest::anEarlierNewNameIsNeverMovedAway_data()
{
    QTest::addColumn<QString>("kind");
    // x.jpg becomes p1.jpg; p1.jpg, a later source, is a second name of x.jpg's file.
    QTest::newRow("hard link") << "hard";
    // x.jpg becomes p1.jpg; p1.jpg, a later source, is a link to x.jpg.
    QTest::newRow("symbolic link") << "symbolic";
}

void RenameJobTest::anEarlierNewNameIsNeverMovedAway()
{
    QFETCH(QString, kind);
    Fixture f;
    QVERIFY(TestFiles::write(f.src() + "/x.jpg", "content of x"));
    const QByteArray x = QFile::encodeName(f.src() + "/x.jpg");
    const QByteArray p1 = QFile::encodeName(f.src() + "/p1.jpg");
    QCOMPARE(kind == "hard" ? ::link(x.constData(), p1.constData())
                            : ::symlink("x.jpg", p1.constData()),
             0);
    RenameRequest r = f.request({"x.jpg", "p1.jpg"});
    r.targetFolder = f.src();
    r.baseName = QStringLiteral("p");
    r.startNumberText = QStringLiteral("1");
    r.digitCountText = QStringLiteral("1");
    r.move = true;
    r.overwrite = true;
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QCOMPARE(TestFiles::read(f.src() + "/p1.jpg"), QByteArray("content of x"));
    QCOMPARE(TestFiles::read(f.src() + "/p2.jpg"), QByteArray("content of x"));
    QCOMPARE(TestFiles::names(f.src()), (QStringList{"p1.jpg", "p2.jpg"}));
}

void RenameJobTest::namesKeepTheirExactBytes()
{
    for (const bool move : {false, true}) {
        Fixture f;
        // テスト.jpg in Shift-JIS, and a file named as its bytes would read if they were lost.
        const QByteArray raw = QFile::encodeName(f.src()) + "/\x83\x65\x83\x58\x83\x67.jpg";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "shift-jis", 9), ssize_t(9));
        ::close(fd);
        QVERIFY(TestFiles::write(QString::fromUtf8(raw), "someone else's file"));
        QStringList listed;
        QVERIFY(f.files.listFiles(f.src(), listed));
        QCOMPARE(listed.size(), 2);
        RenameRequest r = f.request({});
        for (const QString &name : listed)
            r.entries.push_back({name, !name.contains(QChar(QChar::ReplacementCharacter))});
        r.move = move;
        QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
        QCOMPARE(TestFiles::read(f.dst() + "/photo007.jpg"), QByteArray("shift-jis"));
        QCOMPARE(TestFiles::read(QString::fromUtf8(raw)), QByteArray("someone else's file"));
        struct stat st
        {
        };
        QCOMPARE(::lstat(raw.constData(), &st) == 0, !move);
    }
}

void RenameJobTest::aPipeAmongTheSourcesInterruptsWithoutBlocking()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg", "b.jpg", "c.jpg"});
    // b.jpg was listed as a file, then became a pipe without a writer.
    QVERIFY(QFile::remove(f.src() + "/b.jpg"));
    QCOMPARE(::mkfifo(QFile::encodeName(f.src() + "/b.jpg").constData(), 0644), 0);
    ::alarm(20); // a blocking open would hang here; the alarm ends the test instead
    const JobResult result = f.job.run(r);
    ::alarm(0);
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    QCOMPARE(result.filesDone, 1);
    QVERIFY2(f.messages.informed.first().contains(f.src() + "/b.jpg"),
             qPrintable(f.messages.informed.first()));
    QCOMPARE(TestFiles::names(f.dst()), QStringList{"photo007.jpg"});
}

void RenameJobTest::oneFolderSeenThroughTwoMountsIsOneFolder_data()
{
    QTest::addColumn<QString>("batch");
    QTest::addColumn<bool>("move");
    QTest::addColumn<QStringList>("expected"); // name=content afterwards
    // Moving x1.jpg onto itself through the view must not delete it.
    QTest::newRow("own name/move") << "own" << true << QStringList{"x1.jpg=one"};
    QTest::newRow("own name/copy") << "own" << false << QStringList{"x1.jpg=one"};
    // x1, x2 become x2, x3: x2 must be read before it is replaced through the view.
    QTest::newRow("renumber/copy")
        << "renumber" << false << QStringList{"x1.jpg=one", "x2.jpg=one", "x3.jpg=two"};
    QTest::newRow("renumber/move") << "renumber" << true << QStringList{"x2.jpg=one", "x3.jpg=two"};
}

void RenameJobTest::oneFolderSeenThroughTwoMountsIsOneFolder()
{
    QFETCH(QString, batch);
    QFETCH(bool, move);
    QFETCH(QStringList, expected);
    Fixture f;
    QVERIFY(TestFiles::write(f.src() + "/x1.jpg", "one"));
    if (batch == "renumber")
        QVERIFY(TestFiles::write(f.src() + "/x2.jpg", "two"));
    const QString view = f.root.path() + "/view";
    AliasedView files(f.src(), view);
    RenameJob job(files, f.progress, f.messages, f.host, f.program());
    RenameRequest r;
    r.baseName = QStringLiteral("x");
    r.startNumberText = batch == "own" ? QStringLiteral("1") : QStringLiteral("2");
    r.digitCountText = QStringLiteral("1");
    r.extension = QStringLiteral("jpg");
    r.sourceFolder = f.src();
    r.targetFolder = view;
    r.move = move;
    r.overwrite = true;
    r.entries.push_back({"x1.jpg", true});
    if (batch == "renumber")
        r.entries.push_back({"x2.jpg", true});
    QCOMPARE(job.run(r).outcome, JobResult::Outcome::Completed);
    QStringList now;
    for (const QString &name : TestFiles::names(f.src()))
        now.append(name + "=" + QString::fromUtf8(TestFiles::read(f.src() + "/" + name)));
    QCOMPARE(now, expected);
}

void RenameJobTest::aSourceGoneAtTheStartIsNotTakenFromANewFile()
{
    Fixture f;
    RenameRequest r = f.request({"a.jpg"});
    // l.jpg leads to photo007.jpg, which does not exist yet: a.jpg's copy makes it.
    QCOMPARE(::symlink("../dst/photo007.jpg", QFile::encodeName(f.src() + "/l.jpg").constData()),
             0);
    r.entries.push_back({"l.jpg", true});
    const JobResult result = f.job.run(r);
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    QCOMPARE(result.filesDone, 1);
    QVERIFY(!QFileInfo::exists(f.dst() + "/photo008.jpg"));
    QVERIFY2(f.messages.informed.first().contains(systemErrorText(ENOENT)),
             qPrintable(f.messages.informed.first()));
}

void RenameJobTest::reasonsAreTheSystemsOwn()
{
    Fixture f;
    // A link that leads to itself: the system says why, not "no such file".
    QCOMPARE(::symlink("loop.jpg", QFile::encodeName(f.src() + "/loop.jpg").constData()), 0);
    const JobResult result = f.job.run(f.request({"loop.jpg"}));
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    QVERIFY2(f.messages.informed.first().contains(systemErrorText(ELOOP)),
             qPrintable(f.messages.informed.first()));
}

void RenameJobTest::theFirstStopIsTheOneNamed()
{
    Fixture f;
    // a.jpg → p2147483646.jpg would replace a later source; p2147483647.jpg then stops the
    // batch on its own name before the number limit is reached.
    RenameRequest r = f.request({"a.jpg", "p2147483647.jpg", "p2147483646.jpg"});
    r.targetFolder = f.src();
    r.baseName = QStringLiteral("p");
    r.startNumberText = QStringLiteral("2147483646");
    r.digitCountText = QStringLiteral("10");
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Refused);
    const QString message = f.messages.informed.first();
    QVERIFY2(message.contains("同じファイル名") && !message.contains("2147483647 に達した"),
             qPrintable(message));
}

void RenameJobTest::hardLinkedSourcesMoveAcrossDrives()
{
    // /dev/shm is a memory file system, a drive of its own here.
    Fixture f;
    const auto drive = TestFiles::folderOnAnotherDrive(f.dst());
    if (!drive)
        QSKIP("no second file system in /dev/shm here");
    const QTemporaryDir &shm = *drive;
    QVERIFY(TestFiles::write(shm.path() + "/a.jpg", "shared"));
    QCOMPARE(::link(QFile::encodeName(shm.path() + "/a.jpg").constData(),
                    QFile::encodeName(shm.path() + "/b.jpg").constData()),
             0);
    RenameRequest r = f.request({});
    r.sourceFolder = shm.path();
    r.entries = {{"a.jpg", true}, {"b.jpg", true}};
    r.move = true;
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QVERIFY2(TestFiles::names(shm.path()).isEmpty(), "a moved source stayed behind");
    QCOMPARE(TestFiles::read(f.dst() + "/photo007.jpg"), QByteArray("shared"));
    QCOMPARE(TestFiles::read(f.dst() + "/photo008.jpg"), QByteArray("shared"));
    QVERIFY(TestFiles::names(f.dst()).size() == 2);
}

void RenameJobTest::journalComesFirstAndGoesAtTheEnd()
{
    Fixture f;
    RenameRequest r = f.request({"a1.jpg", "a2.jpg"});
    r.targetFolder = f.src();
    r.baseName = QStringLiteral("a");
    r.startNumberText = QStringLiteral("2");
    r.digitCountText = QStringLiteral("1");
    QString journal;
    f.files.failWhen = [&](FaultyFileOperations::Op op, const QString &path) {
        if (op == FaultyFileOperations::Op::Journal) {
            journal = path;
        } else if (op != FaultyFileOperations::Op::List && op != FaultyFileOperations::Op::Read) {
            // Every change to a file comes after the journal is on disk.
            const QByteArray bytes = TestFiles::read(journal);
            if (!bytes.contains("kept "))
                qWarning("a file was touched before the journal named the kept file");
            return !bytes.contains("kept ");
        }
        return false;
    };
    QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
    QVERIFY(journal.startsWith(f.program() + "/.kaenami-batch-"));
    QVERIFY(TestFiles::names(f.program()).isEmpty());
    QCOMPARE(TestFiles::names(f.src()), (QStringList{"a1.jpg", "a2.jpg", "a3.jpg"}));
}

void RenameJobTest::unwritableJournalTouchesNothing()
{
    Fixture f;
    f.files.failWhen = [](FaultyFileOperations::Op op, const QString &) {
        return op == FaultyFileOperations::Op::Journal;
    };
    // A replace goes through a temporary name, which needs the journal.
    QVERIFY(TestFiles::write(f.dst() + "/photo008.jpg", "old"));
    const JobResult result = f.job.run(f.request({"a.jpg", "b.jpg"}));
    QCOMPARE(result.outcome, JobResult::Outcome::Interrupted);
    QCOMPARE(result.filesDone, 0);
    QCOMPARE(TestFiles::names(f.dst()), QStringList{"photo008.jpg"});
    QVERIFY2(f.messages.informed.first().contains(".kaenami-batch-"),
             qPrintable(f.messages.informed.first()));
}

void RenameJobTest::plainBatchesNeedNoJournal()
{
    for (const bool move : {false, true}) {
        Fixture f;
        f.files.failWhen = [](FaultyFileOperations::Op op, const QString &) {
            return op == FaultyFileOperations::Op::Journal;
        };
        // New names only, written unnamed or renamed: nothing hidden, no journal to sync.
        RenameRequest r = f.request({"a.jpg", "b.jpg"});
        r.move = move;
        QCOMPARE(f.job.run(r).outcome, JobResult::Outcome::Completed);
        QCOMPARE(TestFiles::names(f.dst()), (QStringList{"photo007.jpg", "photo008.jpg"}));
    }
}

QTEST_GUILESS_MAIN(RenameJobTest)
#include "tst_renamejob.moc"
