#include "doubles.h"
#include "drivelist.h"
#include "fakevolumes.h"
#include "filelist.h"
#include "folderlist.h"
#include "naturalorder.h"
#include "testfiles.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class PanesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void naturalOrder_data();
    void naturalOrder();
    void naturalOrderIgnoresTheLocale();
    void fileListListsOrdinaryFilesInOrder();
    void fileListSelectAllAndSingleSelection();
    void fileListFailureEmptiesTheList();
    void fileListModelIsSound();
    void folderListShowsTheChainAndSubfolders();
    void folderListOpensWithEnterAndDoubleClick();
    void folderListKeepsItsFolderOnFailure();
    void driveListSelectsTheLongestPrefix_data();
    void driveListSelectsTheLongestPrefix();
};

void PanesTest::naturalOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("numbers/by value") << QStringList{"img10.jpg", "img2.jpg", "img1.jpg"}
                                      << QStringList{"img1.jpg", "img2.jpg", "img10.jpg"};
    QTest::newRow("case/ignored") << QStringList{"b.jpg", "A.jpg", "a.jpg", "C.jpg"}
                                  << QStringList{"A.jpg", "a.jpg", "b.jpg", "C.jpg"};
    QTest::newRow("zeros/tie broken")
        << QStringList{"x7", "x007", "x07"} << QStringList{"x007", "x07", "x7"};
    QTest::newRow("digits/before letters")
        << QStringList{"photo_b", "photo1", "photoa"} << QStringList{"photo1", "photo_b", "photoa"};
    QTest::newRow("long/numbers") << QStringList{"20260101120000.jpg", "9.jpg",
                                                 "100000000000000000000.jpg"}
                                  << QStringList{"9.jpg", "20260101120000.jpg",
                                                 "100000000000000000000.jpg"};
    QTest::newRow("point/before number")
        << QStringList{"img1.jpg", "img.jpg"} << QStringList{"img.jpg", "img1.jpg"};
    QTest::newRow("japanese") << QStringList{"写真10.jpg", "写真9.jpg"}
                              << QStringList{"写真9.jpg", "写真10.jpg"};
}

void PanesTest::naturalOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    NaturalOrder::sort(names);
    QCOMPARE(names, sorted);
}

void PanesTest::naturalOrderIgnoresTheLocale()
{
    const QLocale before;
    QLocale::setDefault(QLocale::c());
    QStringList names{"img10", "img9"};
    NaturalOrder::sort(names);
    QLocale::setDefault(before);
    QCOMPARE(names, (QStringList{"img9", "img10"}));
}

void PanesTest::fileListListsOrdinaryFilesInOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"img10.jpg", "img2.jpg", ".hidden", "IMG1.jpg"})
        QVERIFY(TestFiles::write(dir.filePath(name), "x"));
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    PosixFileOperations files;
    FileList list(files, QAbstractItemView::ExtendedSelection);
    QVERIFY(list.setPath(dir.path()));
    QCOMPARE(list.listCount(), 3);
    QCOMPARE(list.listModel()->names(), (QStringList{"IMG1.jpg", "img2.jpg", "img10.jpg"}));

    QVERIFY(TestFiles::write(dir.filePath("img3.jpg"), "x"));
    QCOMPARE(list.listCount(), 3); // not until refreshed
    QVERIFY(list.refresh());
    QCOMPARE(list.entry(2), QString("img3.jpg"));
}

void PanesTest::fileListSelectAllAndSingleSelection()
{
    QTemporaryDir dir;
    for (int i = 0; i < 500; ++i)
        QVERIFY(TestFiles::write(dir.filePath(QString("f%1").arg(i)), ""));
    PosixFileOperations files;
    FileList many(files, QAbstractItemView::ExtendedSelection);
    QVERIFY(many.setPath(dir.path()));
    many.setSelected(3, true);
    many.selectAll();
    for (int i = 0; i < many.listCount(); ++i)
        QVERIFY2(many.isSelected(i), qPrintable(QString::number(i)));
    many.setSelected(7, false);
    QVERIFY(!many.isSelected(7));

    FileList single(files, QAbstractItemView::SingleSelection);
    QVERIFY(single.setPath(dir.path()));
    single.selectAll();
    QVERIFY(!single.isSelected(0));
    QVERIFY(single.fileName().isEmpty());
    single.setCurrentIndex(single.model()->index(4, 0));
    QCOMPARE(single.fileName(), single.entry(4));
}

void PanesTest::fileListFailureEmptiesTheList()
{
    QTemporaryDir dir;
    QVERIFY(TestFiles::write(dir.filePath("a"), ""));
    FaultyFileOperations files;
    FileList list(files, QAbstractItemView::ExtendedSelection);
    QVERIFY(list.setPath(dir.path()));
    QCOMPARE(list.listCount(), 1);
    files.reason = "Permission denied";
    files.failWhen = [](FaultyFileOperations::Op op, const QString &) {
        return op == FaultyFileOperations::Op::List;
    };
    const OpResult result = list.refresh();
    QVERIFY(!result);
    QCOMPARE(result.error, QString("Permission denied"));
    QCOMPARE(result.path, dir.path());
    QCOMPARE(list.listCount(), 0);
}

void PanesTest::fileListModelIsSound()
{
    QTemporaryDir dir;
    for (const char *name : {"a", "b", "c"})
        QVERIFY(TestFiles::write(dir.filePath(name), ""));
    PosixFileOperations files;
    FileList list(files, QAbstractItemView::ExtendedSelection);
    QAbstractItemModelTester tester(list.listModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(list.setPath(dir.path()));
    QVERIFY(!list.setPath(dir.filePath("missing")));
    QVERIFY(list.setPath(dir.path()));
}

namespace {
QStringList itemTexts(const QListWidget &list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts.append(list.item(i)->text());
    return texts;
}
} // namespace

void PanesTest::folderListShowsTheChainAndSubfolders()
{
    QTemporaryDir dir;
    QDir root(dir.path());
    QVERIFY(root.mkpath("vol/photos/2026/b"));
    QVERIFY(root.mkpath("vol/photos/2026/a10"));
    QVERIFY(root.mkpath("vol/photos/2026/a9"));
    QVERIFY(root.mkpath("vol/photos/2026/.cache"));
    FakeVolumes volumes;
    volumes.volumes = {{dir.filePath("vol"), {}}};
    FolderList list(volumes);
    QSignalSpy changed(&list, &FolderList::changed);
    QVERIFY(list.setPath(dir.filePath("vol/photos/2026/")));
    QCOMPARE(list.path(), dir.filePath("vol/photos/2026"));
    QCOMPARE(itemTexts(list),
             (QStringList{dir.filePath("vol"), "photos", "2026", "a9", "a10", "b"}));
    QCOMPARE(list.currentRow(), 2);
    QCOMPARE(changed.count(), 1);
    QVERIFY(list.setPath(dir.filePath("vol/photos/2026")));
    QCOMPARE(changed.count(), 1); // the same folder again is no change
    QCOMPARE(volumes.current.value(dir.filePath("vol")), dir.filePath("vol/photos/2026"));
}

void PanesTest::folderListOpensWithEnterAndDoubleClick()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("vol/a/b"));
    FakeVolumes volumes;
    volumes.volumes = {{dir.filePath("vol"), {}}};
    FolderList list(volumes);
    QVERIFY(list.setPath(dir.filePath("vol/a")));
    list.setCurrentRow(2); // "b"
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(list.path(), dir.filePath("vol/a/b"));
    list.setCurrentRow(0);
    Q_EMIT list.itemDoubleClicked(list.item(0));
    QCOMPARE(list.path(), dir.filePath("vol"));
}

void PanesTest::folderListKeepsItsFolderOnFailure()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("vol/a"));
    QVERIFY(QDir(dir.path()).mkpath("usb"));
    FakeVolumes volumes;
    volumes.volumes = {{dir.filePath("vol"), {}}, {dir.filePath("usb"), {}}};
    volumes.unreadable.insert(dir.filePath("usb"), "No medium found");
    FolderList list(volumes);
    QVERIFY(list.setPath(dir.filePath("vol/a")));
    QSignalSpy changed(&list, &FolderList::changed);
    const OpResult result = list.setPath(dir.filePath("usb"));
    QVERIFY(!result);
    QCOMPARE(result.error, QString("No medium found"));
    QVERIFY(!list.setPath(dir.filePath("vol/gone")));
    QVERIFY(!list.setPath("relative/path"));
    QCOMPARE(list.path(), dir.filePath("vol/a"));
    QCOMPARE(changed.count(), 0);
}

void PanesTest::driveListSelectsTheLongestPrefix_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drive");
    QTest::newRow("root itself") << "/"
                                 << "/";
    QTest::newRow("a volume root") << "/media/usb"
                                   << "/media/usb";
    QTest::newRow("inside a volume") << "/media/usb/DCIM/100"
                                     << "/media/usb";
    QTest::newRow("component boundary") << "/media/usb2/x"
                                        << "/";
    QTest::newRow("nested volume") << "/media/usb/inner/x"
                                   << "/media/usb/inner";
    QTest::newRow("relative") << "media"
                              << "";
}

void PanesTest::driveListSelectsTheLongestPrefix()
{
    QFETCH(QString, path);
    QFETCH(QString, drive);
    FakeVolumes volumes;
    volumes.volumes = {{"/", {}}, {"/media/usb", "USB"}, {"/media/usb/inner", {}}};
    DriveList list(volumes);
    QVERIFY(list.drive().isEmpty());
    QSignalSpy changed(&list, &DriveList::changed);
    QCOMPARE(list.setDrive(path), !drive.isEmpty());
    QCOMPARE(list.drive(), drive);
    QCOMPARE(changed.count(), drive.isEmpty() ? 0 : 1);
    list.setDrive(path);
    QCOMPARE(changed.count(), drive.isEmpty() ? 0 : 1); // the same drive again is no change
}

QTEST_MAIN(PanesTest)
#include "tst_panes.moc"
