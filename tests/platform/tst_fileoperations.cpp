#include "posixfileoperations.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class FileOperationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void copyCreatesAndReplaces_data();
    void copyCreatesAndReplaces();
    void failedCopyLeavesTheTargetWhole();
    void copyOfAFolderFails();
    void moveIsARenameAndKeepsTheFile();
    void removeOfAMissingFileFails();
    void setAsideSurvivesAReplacement();
    void listingLeavesOutHiddenFilesAndFolders();
    void listingOfAMissingFolderFails();
    void atomicWriteReplacesWhole();

private:
    QString path(const char *name) const { return m_dir->path() + QLatin1Char('/') + name; }
    std::unique_ptr<QTemporaryDir> m_dir;
    PosixFileOperations m_ops;
};

void FileOperationsTest::copyCreatesAndReplaces_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<int>("size");
    QTest::newRow("new/empty") << false << 0;
    QTest::newRow("new/small") << false << 4096;
    QTest::newRow("new/large") << false << 3 * 1024 * 1024 + 7;
    QTest::newRow("replace/small") << true << 10;
    QTest::newRow("replace/empty") << true << 0;
}

void FileOperationsTest::copyCreatesAndReplaces()
{
    QFETCH(bool, targetExists);
    QFETCH(int, size);
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 7 + i / 251);
    QVERIFY(TestFiles::write(path("s"), content));
    QVERIFY(::chmod(QFile::encodeName(path("s")).constData(), 0604) == 0);
    if (targetExists)
        QVERIFY(TestFiles::write(path("t"), "previous content that is longer"));
    QVERIFY(m_ops.copyFile(path("s"), path("t")));
    QCOMPARE(TestFiles::read(path("t")), content);
    struct stat st
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path("t")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0604));
    QCOMPARE(TestFiles::names(m_dir->path()), (QStringList{"s", "t"}));
}

void FileOperationsTest::failedCopyLeavesTheTargetWhole()
{
    QVERIFY(TestFiles::write(path("t"), "keep me"));
    const OpResult result = m_ops.copyFile(path("missing"), path("t"));
    QVERIFY(!result);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(TestFiles::read(path("t")), QByteArray("keep me"));
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"t"});
}

void FileOperationsTest::copyOfAFolderFails()
{
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    QVERIFY(!m_ops.copyFile(path("sub"), path("t")));
    QVERIFY(TestFiles::names(m_dir->path()).isEmpty());
}

void FileOperationsTest::moveIsARenameAndKeepsTheFile()
{
    QVERIFY(TestFiles::write(path("s"), "moved"));
    struct stat before
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path("s")).constData(), &before), 0);
    QVERIFY(TestFiles::write(path("t"), "replaced"));
    QVERIFY(m_ops.moveFile(path("s"), path("t")));
    struct stat after
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path("t")).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"t"});
}

void FileOperationsTest::removeOfAMissingFileFails()
{
    const OpResult result = m_ops.removeFile(path("missing"));
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(ENOENT));
}

void FileOperationsTest::setAsideSurvivesAReplacement()
{
    QVERIFY(TestFiles::write(path("a"), "original"));
    QVERIFY(TestFiles::write(path("b"), "newer"));
    QString kept;
    QVERIFY(m_ops.setAside(path("a"), kept));
    QVERIFY(QFileInfo(kept).fileName().startsWith('.'));
    QVERIFY(m_ops.isSameFile(kept, path("a")));
    QVERIFY(m_ops.copyFile(path("b"), path("a")));
    QVERIFY(!m_ops.isSameFile(kept, path("a")));
    QCOMPARE(TestFiles::read(kept), QByteArray("original"));
}

void FileOperationsTest::listingLeavesOutHiddenFilesAndFolders()
{
    QVERIFY(TestFiles::write(path("b.jpg"), ""));
    QVERIFY(TestFiles::write(path(".hidden"), ""));
    QVERIFY(QDir(m_dir->path()).mkdir("folder"));
    QVERIFY(::symlink("b.jpg", QFile::encodeName(path("link.jpg")).constData()) == 0);
    QVERIFY(::symlink("folder", QFile::encodeName(path("dirlink")).constData()) == 0);
    QStringList names;
    QVERIFY(m_ops.listFiles(m_dir->path(), names));
    names.sort();
    QCOMPARE(names, (QStringList{"b.jpg", "link.jpg"}));
}

void FileOperationsTest::listingOfAMissingFolderFails()
{
    QStringList names{"stale"};
    const OpResult result = m_ops.listFiles(path("gone"), names);
    QVERIFY(!result);
    QCOMPARE(result.error, systemErrorText(ENOENT));
    QVERIFY(names.isEmpty());
}

void FileOperationsTest::atomicWriteReplacesWhole()
{
    QVERIFY(TestFiles::write(path("f"), "old old old"));
    QVERIFY(m_ops.writeFileAtomically(path("f"), "new"));
    QCOMPARE(TestFiles::read(path("f")), QByteArray("new"));
    QVERIFY(!m_ops.writeFileAtomically(path("nofolder/f"), "x"));
    QCOMPARE(TestFiles::names(m_dir->path()), QStringList{"f"});
}

QTEST_GUILESS_MAIN(FileOperationsTest)
#include "tst_fileoperations.moc"
