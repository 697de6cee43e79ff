#include "doubles.h"
#include "drivelist.h"
#include "fakevolumes.h"
#include "filelist.h"
#include "filenames.h"
#include "folderlist.h"
#include "naturalorder.h"
#include "paths.h"
#include "regularfile.h"
#include "testfiles.h"

#include <QAbstractItemModelTester>
#include <QAbstractItemView>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// テスト.jpg in Shift-JIS: bytes that are no valid UTF-8.
const QByteArray sjisFile("\x83\x65\x83\x58\x83\x67.jpg");
// テスト in Shift-JIS, as a folder name.
const QByteArray sjisFolder("\x83\x65\x83\x58\x83\x67");
// How those bytes show: each byte outside UTF-8 as a replacement mark.
const QString sjisShown = QStringLiteral("\uFFFDe\uFFFDX\uFFFDg");

/// A name kept from raw bytes, as a listing gives it.
QString kept(const QByteArray &bytes)
{
    return FileNames::decode(bytes);
}

/// Creates a file under exact bytes, bypassing every name conversion.
bool writeRaw(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written =
        ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size());
    return ::close(fd) == 0 && written;
}

/// Empties a test's folder by exact bytes on the way out: QTemporaryDir cannot remove names
/// that are not UTF-8.
struct RawCleanup
{
    QByteArray folder;
    ~RawCleanup()
    {
        ::nftw(
            folder.constData(),
            [](const char *path, const struct stat *, int, FTW *where) {
                return where->level == 0 ? 0 : ::remove(path);
            },
            16, FTW_DEPTH | FTW_PHYS);
    }
};

QByteArray readThrough(const QString &path)
{
    QFile file;
    return openRegularFile(path, file) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

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
    void fileListShowsKeptBytesAndKeepsThem();
    void fileListOrdersByTheShownText();
    void folderListShowsTheChainAndSubfolders();
    void folderListListsFoldersAndLinksToFolders();
    void folderListOpensANonUtf8Folder();
    void systemVolumesTakeExactBytes();
    void folderListOpensWithEnterAndDoubleClick();
    void folderListKeepsItsFolderOnFailure();
    void folderListShowsItsStateAfterAFailedOpen_data();
    void folderListShowsItsStateAfterAFailedOpen();
    void eachFolderListRemembersItsOwnFolders();
    void driveListShowsWhatIdentifiesTheVolume_data();
    void driveListShowsWhatIdentifiesTheVolume();
    void driveListPopupShowsLongestEntryWhole();
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
    QTest::newRow("japanese/numbers")
        << QStringList{"写真10.jpg", "写真9.jpg"} << QStringList{"写真9.jpg", "写真10.jpg"};
    QTest::newRow("full-width/by value") << QStringList{"写真１.jpg", "写真１０.jpg", "写真２.jpg"}
                                         << QStringList{"写真１.jpg", "写真２.jpg", "写真１０.jpg"};
    QTest::newRow("full-width/mixed with ASCII")
        << QStringList{"写真１０.jpg", "写真9.jpg", "写真11.jpg", "写真２.jpg"}
        << QStringList{"写真２.jpg", "写真9.jpg", "写真１０.jpg", "写真11.jpg"};
    QTest::newRow("full-width/within one number")
        << QStringList{"p1０", "p９", "p1１"} << QStringList{"p９", "p1０", "p1１"};
    QTest::newRow("full-width/leading zeros")
        << QStringList{"x０１０", "x９"} << QStringList{"x９", "x０１０"};
    QTest::newRow("full-width/equal values, the shown text decides")
        << QStringList{"a２", "a2"} << QStringList{"a2", "a２"};
    // A kept byte shows as U+FFFD, which sorts after the fullwidth Ａ; as the kept U+DC83 it
    // would sort before it.
    QTest::newRow("kept bytes/by the shown text")
        << QStringList{kept("x\x83.jpg"), "xＡ.jpg"} << QStringList{"xＡ.jpg", kept("x\x83.jpg")};
    QTest::newRow("kept bytes/numbers")
        << QStringList{kept("\x83\x65 10.jpg"), kept("\x83\x65 9.jpg")}
        << QStringList{kept("\x83\x65 9.jpg"), kept("\x83\x65 10.jpg")};
    QTest::newRow("kept bytes/shown alike, exact bytes decide")
        << QStringList{kept("\x84.jpg"), kept("\x83.jpg"), kept("\xFF.jpg")}
        << QStringList{kept("\x83.jpg"), kept("\x84.jpg"), kept("\xFF.jpg")};
    QTest::newRow("kept bytes/shown alike as a real mark")
        << QStringList{"\uFFFD.jpg", kept("\x83.jpg")}
        << QStringList{kept("\x83.jpg"), "\uFFFD.jpg"};
}

void PanesTest::naturalOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QStringList reversed(names.crbegin(), names.crend());
    NaturalOrder::sort(names);
    QCOMPARE(names, sorted);
    // The order is total: it does not depend on the order names come in.
    NaturalOrder::sort(reversed);
    QCOMPARE(reversed, sorted);
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
    QVERIFY(dir.isValid());
    const RawCleanup cleanup{FileNames::encode(dir.path())};
    for (const char *name : {"a", "b", "c"})
        QVERIFY(TestFiles::write(dir.filePath(name), ""));
    PosixFileOperations files;
    FileList list(files, QAbstractItemView::ExtendedSelection);
    QAbstractItemModelTester tester(list.listModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(list.setPath(dir.path()));
    QVERIFY(!list.setPath(dir.filePath("missing")));
    QVERIFY(writeRaw(FileNames::encode(dir.path()) + '/' + sjisFile, ""));
    QVERIFY(list.setPath(dir.path()));
    QCOMPARE(list.listCount(), 4);
}

void PanesTest::fileListShowsKeptBytesAndKeepsThem()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const RawCleanup cleanup{FileNames::encode(dir.path())};
    const QByteArray folder = FileNames::encode(dir.path());
    QVERIFY(writeRaw(folder + '/' + sjisFile, "shift-jis"));
    QVERIFY(writeRaw(folder + "/テスト.jpg", "utf-8"));
    PosixFileOperations files;
    FileList list(files, QAbstractItemView::SingleSelection);
    QVERIFY(list.setPath(dir.path()));
    QCOMPARE(list.listCount(), 2);

    // "テスト" sorts before the replacement marks.
    QCOMPARE(list.entry(0), QString("テスト.jpg"));
    const QModelIndex index = list.model()->index(1, 0);
    QCOMPARE(index.data(Qt::DisplayRole).toString(), sjisShown + ".jpg");
    QCOMPARE(index.data(Qt::ToolTipRole).toString(), sjisShown + ".jpg");
    QVERIFY2(FileNames::encode(list.entry(1)) == sjisFile,
             FileNames::encode(list.entry(1)).toHex(' ').constData());
    QCOMPARE(readThrough(Paths::join(dir.path(), list.entry(1))), QByteArray("shift-jis"));

    list.setCurrentIndex(index);
    QCOMPARE(list.fileName(), list.entry(1));
    QCOMPARE(readThrough(Paths::join(dir.path(), list.fileName())), QByteArray("shift-jis"));
}

void PanesTest::fileListOrdersByTheShownText()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const RawCleanup cleanup{FileNames::encode(dir.path())};
    const QByteArray folder = FileNames::encode(dir.path());
    for (const QByteArray &name :
         {QByteArray("x\x83 10.jpg"), QByteArray("x\x83 9.jpg"), QByteArray("xＡ.jpg"),
          QByteArray("x\x84 9.jpg"), QByteArray("xb.jpg")})
        QVERIFY2(writeRaw(folder + '/' + name, ""), name.toHex(' ').constData());
    PosixFileOperations files;
    FileList list(files, QAbstractItemView::ExtendedSelection);
    QVERIFY(list.setPath(dir.path()));
    QStringList shown;
    for (int i = 0; i < list.listCount(); ++i)
        shown.append(list.model()->index(i, 0).data().toString());
    QCOMPARE(shown, (QStringList{"xb.jpg", "xＡ.jpg", "x\uFFFD 9.jpg", "x\uFFFD 9.jpg",
                                 "x\uFFFD 10.jpg"}));
    QCOMPARE(list.listModel()->names(), (QStringList{"xb.jpg", "xＡ.jpg", kept("x\x83 9.jpg"),
                                                     kept("x\x84 9.jpg"), kept("x\x83 10.jpg")}));
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
    QCOMPARE(list.currentFolderOf(dir.filePath("vol")), dir.filePath("vol/photos/2026"));
}

void PanesTest::folderListListsFoldersAndLinksToFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString vol = dir.filePath("vol");
    QVERIFY(QDir(dir.path()).mkpath("vol/folder/inner"));
    QVERIFY(QDir(dir.path()).mkpath("vol/.hidden"));
    QVERIFY(TestFiles::write(dir.filePath("vol/file"), ""));
    const QByteArray raw = FileNames::encode(vol);
    QVERIFY(::symlink("folder", (raw + "/link to folder").constData()) == 0);
    QVERIFY(::symlink("file", (raw + "/link to file").constData()) == 0);
    QVERIFY(::symlink("nowhere", (raw + "/dangling").constData()) == 0);
    QVERIFY(::mkfifo((raw + "/fifo").constData(), 0644) == 0);
    FakeVolumes volumes;
    volumes.volumes = {{vol, {}}};
    FolderList list(volumes);
    QVERIFY(list.setPath(vol));
    QCOMPARE(itemTexts(list), (QStringList{vol, "folder", "link to folder"}));

    list.setCurrentRow(2);
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(list.path(), vol + "/link to folder");
    QCOMPARE(itemTexts(list), (QStringList{vol, "link to folder", "inner"}));
}

void PanesTest::folderListOpensANonUtf8Folder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const RawCleanup cleanup{FileNames::encode(dir.path())};
    const QString vol = dir.filePath("vol");
    QVERIFY(QDir(dir.path()).mkpath("vol/plain"));
    const QByteArray sjisPath = FileNames::encode(vol) + '/' + sjisFolder;
    QVERIFY(::mkdir(sjisPath.constData(), 0755) == 0);
    QVERIFY(::mkdir((sjisPath + "/sub").constData(), 0755) == 0);
    QVERIFY(writeRaw(sjisPath + "/a.jpg", "a"));
    QVERIFY(writeRaw(sjisPath + '/' + sjisFile, "b"));
    FakeVolumes volumes;
    volumes.volumes = {{vol, {}}};
    FolderList list(volumes);
    QSignalSpy failed(&list, &FolderList::openFailed);
    QVERIFY(list.setPath(vol));
    QCOMPARE(itemTexts(list), (QStringList{vol, "plain", sjisShown}));

    list.setCurrentRow(2);
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(failed.count(), 0);
    QVERIFY2(FileNames::encode(list.path()) == sjisPath,
             FileNames::encode(list.path()).toHex(' ').constData());
    QCOMPARE(itemTexts(list), (QStringList{vol, sjisShown, "sub"}));
    QCOMPARE(list.currentFolderOf(vol), list.path());

    PosixFileOperations files;
    FileList fileList(files, QAbstractItemView::ExtendedSelection);
    const OpResult listed = fileList.setPath(list.path());
    QVERIFY2(listed, qPrintable(listed.error));
    QCOMPARE(fileList.listModel()->names(), (QStringList{"a.jpg", kept(sjisFile)}));
    QCOMPARE(readThrough(Paths::join(list.path(), fileList.entry(1))), QByteArray("b"));

    // The chain's item for the folder opens it again; the volume's item goes back up.
    list.setCurrentRow(1);
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(FileNames::encode(list.path()), sjisPath);
    list.setCurrentRow(0);
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(list.path(), vol);
    QCOMPARE(failed.count(), 0);
}

void PanesTest::systemVolumesTakeExactBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const RawCleanup cleanup{FileNames::encode(dir.path())};
    const QByteArray sjisPath = FileNames::encode(dir.path()) + '/' + sjisFolder;
    QVERIFY(::mkdir(sjisPath.constData(), 0755) == 0);
    QVERIFY(::mkdir((sjisPath + '/' + sjisFolder).constData(), 0755) == 0);
    const QString folder = FileNames::decode(sjisPath);
    SystemVolumes volumes;
    const OpResult readable = volumes.checkReadable(folder);
    QVERIFY2(readable, qPrintable(readable.error));
    QStringList names;
    const OpResult listed = volumes.listFolders(folder, names);
    QVERIFY2(listed, qPrintable(listed.error));
    QCOMPARE(names, QStringList{kept(sjisFolder)});

    // Failures name the folder with the system's reason.
    const QString missing = Paths::join(folder, "missing");
    OpResult result = volumes.listFolders(missing, names);
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(ENOENT));
    QCOMPARE(result.path, missing);
    QVERIFY(names.isEmpty());
    QVERIFY(writeRaw(sjisPath + "/file", ""));
    result = volumes.listFolders(Paths::join(folder, "file"), names);
    QCOMPARE(result.error, systemErrorText(ENOTDIR));
    result = volumes.checkReadable(missing);
    QCOMPARE(result.error, systemErrorText(ENOENT));
    QCOMPARE(result.path, missing);
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

void PanesTest::folderListShowsItsStateAfterAFailedOpen_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("open/Enter") << true;
    QTest::newRow("open/double-click") << false;
}

void PanesTest::folderListShowsItsStateAfterAFailedOpen()
{
    QFETCH(bool, byKey);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("vol/a/gone"));
    QVERIFY(QDir(dir.path()).mkpath("vol/a/kept"));
    FakeVolumes volumes;
    volumes.volumes = {{dir.filePath("vol"), {}}};
    FolderList list(volumes);
    QSignalSpy failed(&list, &FolderList::openFailed);
    QVERIFY(list.setPath(dir.filePath("vol/a")));
    QCOMPARE(itemTexts(list), (QStringList{dir.filePath("vol"), "a", "gone", "kept"}));
    QVERIFY(QDir(dir.filePath("vol/a/gone")).removeRecursively());
    list.setCurrentRow(2);
    if (byKey)
        QTest::keyClick(&list, Qt::Key_Return);
    else
        Q_EMIT list.itemDoubleClicked(list.item(2));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(list.path(), dir.filePath("vol/a"));
    // The folder still shown is the one highlighted, and the one that went is no longer listed.
    QCOMPARE(itemTexts(list), (QStringList{dir.filePath("vol"), "a", "kept"}));
    QCOMPARE(list.currentRow(), 1);
    QCOMPARE(list.selectedItems().size(), 1);
    QCOMPARE(list.selectedItems().first()->text(), QString("a"));
}

void PanesTest::eachFolderListRemembersItsOwnFolders()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("vol/home"));
    QVERIFY(QDir(dir.path()).mkpath("vol/photos"));
    QVERIFY(QDir(dir.path()).mkpath("usb"));
    FakeVolumes volumes;
    volumes.volumes = {{dir.filePath("vol"), {}}, {dir.filePath("usb"), {}}};
    volumes.home = dir.filePath("vol/home");
    FolderList source(volumes);
    FolderList target(volumes);
    QCOMPARE(target.currentFolderOf(dir.filePath("vol")), dir.filePath("vol/home"));
    QCOMPARE(target.currentFolderOf(dir.filePath("usb")), dir.filePath("usb"));
    QVERIFY(target.setPath(dir.filePath("vol/home")));
    QVERIFY(source.setPath(dir.filePath("vol/photos")));
    QVERIFY(target.setPath(dir.filePath("usb")));
    QCOMPARE(target.currentFolderOf(dir.filePath("vol")), dir.filePath("vol/home"));
    QCOMPARE(source.currentFolderOf(dir.filePath("vol")), dir.filePath("vol/photos"));
    QCOMPARE(source.currentFolderOf(dir.filePath("usb")), dir.filePath("usb"));

    // A remembered folder that went away gives way to the nearest folder above it.
    QVERIFY(QDir(dir.path()).mkpath("vol/photos/2026/08"));
    QVERIFY(source.setPath(dir.filePath("vol/photos/2026/08")));
    QVERIFY(source.setPath(dir.filePath("usb")));
    QVERIFY(QDir(dir.filePath("vol/photos/2026")).removeRecursively());
    QCOMPARE(source.currentFolderOf(dir.filePath("vol")), dir.filePath("vol/photos"));
    QVERIFY(QDir(dir.filePath("vol")).removeRecursively());
    QVERIFY(QDir(dir.path()).mkpath("vol"));
    QCOMPARE(source.currentFolderOf(dir.filePath("vol")), dir.filePath("vol"));
    // A volume that cannot be read at all keeps the remembered folder, whose failure is told.
    volumes.unreadable.insert(dir.filePath("vol"), "No medium found");
    QCOMPARE(target.currentFolderOf(dir.filePath("vol")), dir.filePath("vol/home"));
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

void PanesTest::driveListShowsWhatIdentifiesTheVolume_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("shown"); // "…" marks an elision in the middle
    QTest::newRow("label") << "/media/user/3a5e-11f0-a9c2-7b2d1c0e4f88"
                           << "写真カード"
                           << "写真カード";
    QTest::newRow("short path") << "/mnt/usb"
                                << ""
                                << "/mnt/usb";
    QTest::newRow("long path") << "/media/user/fa1c2b3d-4e5f-6789-abcd-ef0123456789"
                               << ""
                               << "/media/…456789";
}

void PanesTest::driveListShowsWhatIdentifiesTheVolume()
{
    QFETCH(QString, root);
    QFETCH(QString, label);
    QFETCH(QString, shown);
    FakeVolumes volumes;
    volumes.volumes = {{"/", {}}, {root, label}};
    DriveList list(volumes);
    list.resize(177, 20); // the width the window gives it
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QVERIFY(list.setDrive(root));
    const QString text = list.shownText();
    QCOMPARE(list.toolTip(), root);
    QVERIFY2(list.fontMetrics().horizontalAdvance(text) <= list.width(), qPrintable(text));
    if (!shown.contains(QChar(0x2026))) {
        QCOMPARE(text, shown);
        return;
    }
    // Both ends of the path stay readable; the middle gives way.
    const QStringList ends = shown.split(QChar(0x2026));
    QVERIFY2(text.startsWith(ends[0]) && text.endsWith(ends[1]) && text.contains(QChar(0x2026)),
             qPrintable(text));
}

void PanesTest::driveListPopupShowsLongestEntryWhole()
{
    FakeVolumes volumes;
    const QString longest = "/media/user/fa1c2b3d-4e5f-6789-abcd-ef0123456789";
    volumes.volumes = {{"/", {}}, {longest, {}}, {"/mnt/b", "B"}};
    DriveList list(volumes);
    // Not every style widens a combo box's list to its entries.
    std::unique_ptr<QStyle> plain(QStyleFactory::create("Windows"));
    QVERIFY(plain);
    list.setStyle(plain.get());
    list.resize(177, 20);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.showPopup();
    QWidget *popup = list.view()->window();
    QTRY_VERIFY(popup->isVisible());
    const int needed = list.fontMetrics().horizontalAdvance(longest) + list.iconSize().width();
    QVERIFY2(list.view()->viewport()->width() >= needed,
             qPrintable(QString("%1 < %2").arg(list.view()->viewport()->width()).arg(needed)));
    list.hidePopup();
}

QTEST_MAIN(PanesTest)
#include "tst_panes.moc"
