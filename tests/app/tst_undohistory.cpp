// The undo history as the windows share it: one file for every window and run, the user's own
// only, bounded, and every batch told when it cannot be undone.

#include "filenames.h"
#include "form1fixture.h"
#include "undo.h"

#include <QDate>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// A second window on the fixture's program folder, as a second start of the program.
std::unique_ptr<Form1> secondWindow(Form1Fixture &f)
{
    auto form = std::make_unique<Form1>(
        Form1Services{f.files, f.volumes, f.messages, f.path("prog"), {}, {}, {}});
    form->Form_Load();
    return form;
}

/// Copies every file of a/home into `target` as base01, base02, ...
void renameAll(Form1Fixture &f, Form1 &form, const QString &target, const QString &base)
{
    const Form1Controls &ui = form.ui();
    ui.Dir1->setPath(f.path("a/home"));
    ui.Dir2->setPath(f.path(target));
    ui.File1->selectAll();
    ui.Text1->setText(base);
    ui.Text2->setText("1");
    ui.List1->setCurrentRow(1);
    ui.Check1->setChecked(false);
    ui.Command1->click();
}

size_t batchesIn(const Form1Fixture &f)
{
    return UndoHistory::fromBytes(TestFiles::read(f.programFile(UndoHistory::fileName))).size();
}

qint64 peakResidentKiB()
{
    struct rusage usage
    {
    };
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QByteArray encoded(const QString &path)
{
    return FileNames::encode(path);
}

} // namespace

class UndoHistoryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoWindowsKeepEachOthersBatches();
    void aBatchChangedElsewhereWhileAskedIsNotUndone_data();
    void aBatchChangedElsewhereWhileAskedIsNotUndone();
    void aHistoryOthersMayWriteIsNotObeyed_data();
    void aHistoryOthersMayWriteIsNotObeyed();
    void aDamagedHistoryIsSetAsideUnread_data();
    void aDamagedHistoryIsSetAsideUnread();
    void aBatchThatCannotBeRecordedSaysWhy_data();
    void aBatchThatCannotBeRecordedSaysWhy();
};

void UndoHistoryTest::twoWindowsKeepEachOthersBatches()
{
    Form1Fixture f;
    for (const char *name : {"a.jpg", "b.jpg"})
        QVERIFY(TestFiles::write(f.path("a/home/") + name, name));
    Form1 &first = f.start();
    const std::unique_ptr<Form1> second = secondWindow(f);
    // Each window has read the history before the other one's batch.
    renameAll(f, *second, "b/dcim", "one");
    renameAll(f, first, "a/photos", "two");
    renameAll(f, *second, "b/dcim", "three");
    QCOMPARE(batchesIn(f), size_t(3));

    // Either window undoes the newest batch as the file holds it, whoever made it.
    f.messages.informed.clear();
    f.messages.yesNoAnswers = {true, true, true};
    first.ui().mnuUndo->trigger();
    QCOMPARE(TestFiles::names(f.path("b/dcim")), (QStringList{"one01.jpg", "one02.jpg"}));
    second->ui().mnuUndo->trigger();
    QCOMPARE(TestFiles::names(f.path("a/photos")), QStringList{});
    first.ui().mnuUndo->trigger();
    QCOMPARE(TestFiles::names(f.path("b/dcim")), QStringList{});
    QCOMPARE(f.messages.informed, QStringList(3, "リネームを元に戻しました（2 件）。"));
    QCOMPARE(batchesIn(f), size_t(0));
    QCOMPARE(TestFiles::names(f.path("a/home")), (QStringList{"a.jpg", "b.jpg"}));
    QVERIFY2(!first.ui().mnuUndo->isEnabled(), "the window knows there is nothing to undo");

    // A batch in the other window is there to undo when this one is used again.
    renameAll(f, *second, "b/dcim", "four");
    first.show();
    first.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&first));
    QVERIFY(first.ui().mnuUndo->isEnabled());
}

void UndoHistoryTest::aBatchChangedElsewhereWhileAskedIsNotUndone_data()
{
    QTest::addColumn<bool>("undoneElsewhere");
    QTest::newRow("meanwhile/undone in the other window") << true;
    QTest::newRow("meanwhile/a newer batch in the other window") << false;
}

void UndoHistoryTest::aBatchChangedElsewhereWhileAskedIsNotUndone()
{
    QFETCH(bool, undoneElsewhere);
    Form1Fixture f;
    for (const char *name : {"a.jpg", "b.jpg"})
        QVERIFY(TestFiles::write(f.path("a/home/") + name, name));
    Form1 &first = f.start();
    renameAll(f, first, "b/dcim", "one");
    const std::unique_ptr<Form1> second = secondWindow(f);
    f.messages.informed.clear();
    // The first window asks about its batch; the other one acts before the answer.
    f.messages.whileAsking = [&](const QString &) {
        if (undoneElsewhere)
            second->ui().mnuUndo->trigger();
        else
            renameAll(f, *second, "a/photos", "two");
    };
    f.messages.yesNoAnswers = {true, true};
    first.ui().mnuUndo->trigger();

    const QString changed =
        "確かめている間に、直前のリネームが変わりました（ほかのウィンドウで元に戻したか、"
        "リネームしたため）。何も元に戻していません。";
    QCOMPARE(f.messages.informed.last(), changed);
    QCOMPARE(f.messages.informed.size(), 2);
    QCOMPARE(TestFiles::names(f.path("b/dcim")),
             (undoneElsewhere ? QStringList{} : QStringList{"one01.jpg", "one02.jpg"}));
    QCOMPARE(TestFiles::names(f.path("a/photos")),
             (undoneElsewhere ? QStringList{} : QStringList{"two01.jpg", "two02.jpg"}));
    QCOMPARE(batchesIn(f), size_t(undoneElsewhere ? 0 : 2));
}

void UndoHistoryTest::aHistoryOthersMayWriteIsNotObeyed_data()
{
    QTest::addColumn<int>("owner"); // -1 for the user's own
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("reason");
    const QString others = "ほかのユーザーのファイルか、ほかのユーザーも書き込めるファイルです。";
    QTest::newRow("owner/another user's, writable by all") << 65534 << 0666 << false << others;
    QTest::newRow("owner/another user's") << 65534 << 0600 << false << others;
    QTest::newRow("mode/writable by the group") << -1 << 0620 << false << others;
    QTest::newRow("mode/writable by all") << -1 << 0606 << false << others;
    QTest::newRow("link/to a history of the user's own")
        << -1 << 0600 << true << QString("通常のファイルではありません。");
}

void UndoHistoryTest::aHistoryOthersMayWriteIsNotObeyed()
{
    // A shared program folder: anyone may have put the history there. Its made-up batch
    // "moved" the user's thesis from a free name, so an undo would move the thesis there.
    QFETCH(int, owner);
    QFETCH(int, mode);
    QFETCH(bool, link);
    QFETCH(QString, reason);
    if (owner >= 0 && ::geteuid() != 0)
        QSKIP("making a file another user's needs root");
    Form1Fixture f;
    const QString thesis = f.path("b/dcim/thesis.odt");
    const QString freeName = f.path("a/home/thesis.odt");
    QVERIFY(TestFiles::write(thesis, "years of work"));
    JobResult madeUp;
    madeUp.filesDone = 1;
    madeUp.folders = {f.path("a/home"), f.path("b/dcim")};
    JobAction moved;
    moved.kind = JobAction::Kind::Moved;
    moved.from = moved.source = QStringLiteral("thesis.odt");
    moved.to = QStringLiteral("thesis.odt");
    moved.written = f.files.status(thesis, false);
    moved.item = 0;
    madeUp.record.push_back(moved);
    UndoHistory planted;
    QVERIFY(planted.push(madeUp));
    const QString history = f.programFile(UndoHistory::fileName);
    const QString written = link ? f.path("a/history") : history;
    QVERIFY(TestFiles::write(written, planted.toBytes()));
    QCOMPARE(::chmod(encoded(written).constData(), mode_t(mode)), 0);
    if (owner >= 0)
        QCOMPARE(::chown(encoded(written).constData(), uid_t(owner), gid_t(owner)), 0);
    if (link)
        QCOMPARE(::symlink(encoded(written).constData(), encoded(history).constData()), 0);

    Form1 &form = f.start();
    f.messages.yesNoAnswers = {true};
    form.ui().mnuUndo->trigger();
    QCOMPARE(f.messages.informed,
             QStringList{"元に戻す記録 " + history + " は使えません。\r\n理由: " + reason});
    QCOMPARE(f.messages.questions, QStringList{});
    QCOMPARE(TestFiles::read(thesis), QByteArray("years of work"));
    QVERIFY(!QFileInfo::exists(freeName));
    // Not ours to move or change.
    QCOMPARE(TestFiles::read(written), planted.toBytes());
    struct stat st
    {
    };
    QCOMPARE(::stat(encoded(written).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), mode);
}

void UndoHistoryTest::aDamagedHistoryIsSetAsideUnread_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<qint64>("size"); // the rest is a hole
    QTest::addColumn<bool>("byBatch");
    const QByteArray header = "kaenami undo history 2\n";
    const qint64 large = qint64(3) << 30;
    QTest::newRow("size/3 GiB of nothing, found by Ctrl+Z") << QByteArray() << large << false;
    QTest::newRow("size/a header and 3 GiB, found by a batch") << header << large << true;
    const QByteArray cut = header + "batch 1\na 0 0 /x";
    QTest::newRow("content/cut short, found by Ctrl+Z") << cut << qint64(cut.size()) << false;
}

void UndoHistoryTest::aDamagedHistoryIsSetAsideUnread()
{
    QFETCH(QByteArray, start);
    QFETCH(qint64, size);
    QFETCH(bool, byBatch);
    Form1Fixture f;
    QVERIFY(TestFiles::write(f.path("a/home/a.jpg"), "a.jpg"));
    const QString history = f.programFile(UndoHistory::fileName);
    QVERIFY(TestFiles::write(history, start));
    QCOMPARE(::truncate(encoded(history).constData(), off_t(size)), 0);
    // One set aside earlier the same day keeps its name.
    const QString today = "kaenami-undo-damaged-" + QDate::currentDate().toString("yyyy-MM-dd");
    QVERIFY(TestFiles::write(f.path("prog/" + today + ".txt"), "set aside before"));

    Form1 &form = f.start();
    const qint64 peakBefore = peakResidentKiB();
    if (byBatch)
        renameAll(f, form, "b/dcim", "photo");
    else
        form.ui().mnuUndo->trigger();
    QVERIFY2(peakResidentKiB() - peakBefore < 256 * 1024, "the history was read into memory");
    const QString setAside = f.path("prog/" + today + "-2.txt");
    QCOMPARE(QFileInfo(setAside).size(), size);
    QCOMPARE(TestFiles::read(f.path("prog/" + today + ".txt")), QByteArray("set aside before"));
    const QString note = "元に戻す記録が壊れていたため、" + setAside + " として残しました。";
    QCOMPARE(f.messages.informed,
             QStringList{byBatch ? "リネームが完了しました。\r\n" + note : note});
    QCOMPARE(f.messages.questions, QStringList{});

    // Told once; a new history begins.
    f.messages.informed.clear();
    if (!byBatch) {
        renameAll(f, form, "b/dcim", "photo");
        QCOMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
        f.messages.informed.clear();
    }
    f.messages.yesNoAnswers = {true};
    form.ui().mnuUndo->trigger();
    QCOMPARE(f.messages.informed, QStringList{"リネームを元に戻しました（1 件）。"});
    QCOMPARE(TestFiles::names(f.path("b/dcim")), QStringList{});
}

void UndoHistoryTest::aBatchThatCannotBeRecordedSaysWhy_data()
{
    QTest::addColumn<bool>("interrupted");
    QTest::newRow("completed") << false;
    QTest::newRow("interrupted") << true;
}

void UndoHistoryTest::aBatchThatCannotBeRecordedSaysWhy()
{
    QFETCH(bool, interrupted);
    Form1Fixture f;
    for (int i = 1; i <= 12; ++i)
        QVERIFY(TestFiles::write(f.path("a/home/f%1.jpg").arg(i, 2, 10, QLatin1Char('0')), "x"));
    Form1 &form = f.start();
    if (interrupted) {
        f.files.failWhen = [](FaultyFileOperations::Op op, const QString &path) {
            return op == FaultyFileOperations::Op::Copy && path.endsWith("/photo10.jpg");
        };
    }
    // The drive fills up during the batch: the photos still fit, the history (over 1 KiB for
    // this many files) no longer does. Root cannot write past the limit either.
    struct rlimit before
    {
    };
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const auto restore = qScopeGuard([&] {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previousHandler);
    });
    const struct rlimit full = {1024, before.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
    renameAll(f, form, "b/dcim", "photo");
    ::setrlimit(RLIMIT_FSIZE, &before);

    QCOMPARE(TestFiles::names(f.path("b/dcim")).size(), interrupted ? 9 : 12);
    QCOMPARE(f.messages.informed.size(), 1);
    const QString message = f.messages.informed.first();
    QVERIFY2(
        message.startsWith(interrupted ? "リネームを中断しました。" : "リネームが完了しました。"),
        qPrintable(message));
    const QString why =
        "\r\nこのリネームは元に戻せません。理由: " + QString::fromLocal8Bit(std::strerror(EFBIG));
    QVERIFY2(message.endsWith(why), qPrintable(message));
}

QTEST_MAIN(UndoHistoryTest)
#include "tst_undohistory.moc"
