#include "exactfiles.h"
#include "exfatdrive.h"
#include "filenames.h"
#include "posixfileoperations.h"
#include "testfiles.h"
#include "trash.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace ExactFiles;

QString join(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

bool makeFolder(const QString &path, mode_t mode = 0700)
{
    return ::mkdir(sys(path).constData(), mode) == 0 && ::chmod(sys(path).constData(), mode) == 0;
}

bool makeLink(const QString &target, const QString &path)
{
    return ::symlink(sys(target).constData(), sys(path).constData()) == 0;
}

/// The permission bits of `path`, or -1 when it is missing.
int modeOf(const QString &path)
{
    struct stat st
    {
    };
    return lstatOf(path, st) ? int(st.st_mode & 07777) : -1;
}

/// The exact names in `folder`, sorted; none when it is missing.
QList<QByteArray> entriesOf(const QString &folder)
{
    QList<QByteArray> names;
    DIR *dir = ::opendir(sys(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

/// Every trash information file below `folder`, links not followed.
QStringList infoFilesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, {QStringLiteral("*.trashinfo")},
                    QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

QString describe(const OpResult &result)
{
    return result ? QStringLiteral("succeeded")
                  : result.error + QStringLiteral(" @ ") + result.path;
}

QDateTime nowToTheSecond()
{
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}

/// Why the trash information `info` does not record `recordedPath` as trashed between `from`
/// and `to`; empty when it does.
QString infoProblem(const QString &info, const QByteArray &recordedPath, const QDateTime &from,
                    const QDateTime &to)
{
    const QByteArray text = readExact(info);
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 4 || !lines.last().isEmpty())
        return QStringLiteral("not three whole lines: ") + QString::fromLatin1(text);
    if (lines[0] != "[Trash Info]")
        return QStringLiteral("first line: ") + QString::fromLatin1(lines[0]);
    if (!lines[1].startsWith("Path="))
        return QStringLiteral("second line: ") + QString::fromLatin1(lines[1]);
    const QByteArray encoded = lines[1].mid(5);
    static const QRegularExpression escaped(
        QStringLiteral("^([A-Za-z0-9._~/-]|%[0-9A-Fa-f]{2})*$"));
    if (!escaped.match(QString::fromLatin1(encoded)).hasMatch())
        return QStringLiteral("Path is not escaped as in URLs: ") + QString::fromLatin1(encoded);
    if (QByteArray::fromPercentEncoding(encoded) != recordedPath)
        return QStringLiteral("Path %1 is not %2")
            .arg(QString::fromLatin1(encoded),
                 QString::fromLatin1(recordedPath.toPercentEncoding("/")));
    if (!lines[2].startsWith("DeletionDate="))
        return QStringLiteral("third line: ") + QString::fromLatin1(lines[2]);
    const QDateTime date = QDateTime::fromString(QString::fromLatin1(lines[2].mid(13)),
                                                 QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    if (!date.isValid() || date < from || date > to)
        return QStringLiteral("DeletionDate %1 is not between %2 and %3")
            .arg(QString::fromLatin1(lines[2].mid(13)), from.toString(Qt::ISODate),
                 to.toString(Qt::ISODate));
    return {};
}

/// Sets an environment variable for a test and puts the old value back afterwards.
class ScopedVariable
{
public:
    explicit ScopedVariable(const char *name)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {}
    ~ScopedVariable()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;
    void set(const QByteArray &value) { qputenv(m_name, value); }
    void unset() { qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

/// Trash folders this test makes at the top of a shared volume, removed whatever happens.
class TopTrashes
{
public:
    explicit TopTrashes(QStringList folders) : m_folders(std::move(folders)) {}
    ~TopTrashes()
    {
        for (const QString &folder : std::as_const(m_folders))
            TestFiles::removeTree(sys(folder));
    }
    TopTrashes(const TopTrashes &) = delete;
    TopTrashes &operator=(const TopTrashes &) = delete;
    bool anyThere() const { return std::any_of(m_folders.cbegin(), m_folders.cend(), exists); }

private:
    QStringList m_folders;
};

/// A second volume for files, if this machine has one: tmpfs at /dev/shm.
std::unique_ptr<QTemporaryDir> otherVolume(const QString &than)
{
    auto other = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/kaenami-trash-XXXXXX"));
    struct stat here
    {
    }, there{};
    if (!other->isValid() || !lstatOf(than, here) || !lstatOf(other->path(), there) ||
        here.st_dev == there.st_dev)
        return nullptr;
    return other;
}

} // namespace

class TrashTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void replacedFileGoesToTheTrash_data();
    void replacedFileGoesToTheTrash();
    void everyReplaceGetsItsOwnTrashName();
    void nothingIsTrashedWithoutAReplace_data();
    void nothingIsTrashedWithoutAReplace();
    void linkAtTheDestinationIsKeptAsALink_data();
    void linkAtTheDestinationIsKeptAsALink();
    void destinationNeverGoesMissing_data();
    void destinationNeverGoesMissing();
    void replaceGoesAheadWithoutAUsableTrash_data();
    void replaceGoesAheadWithoutAUsableTrash();
    void homeTrashFollowsTheEnvironment_data();
    void homeTrashFollowsTheEnvironment();
    void entryLeftInTheTrashKeepsItsName();
    void otherVolumeUsesItsTopTrash_data();
    void otherVolumeUsesItsTopTrash();
    void moveAcrossFileSystemsKeepsTheReplacedFileOnce();
    void restorePutsTheFileBack_data();
    void restorePutsTheFileBack();
    void restoreNeverReplaces();
    void restoreTakesOnlyFilesOfATrash();
    void restoreTakesOnlyTheFileItWasToldOf_data();
    void restoreTakesOnlyTheFileItWasToldOf();
    void aHomeTrashLinkedElsewhereKeepsTheFile();
    void discardTakesTheEntryBack();
    void whereLinksAreRefusedTheTrashKeepsACopy();
    void trashKeepsTheSpellingTheDriveLists_data();
    void trashKeepsTheSpellingTheDriveLists();

private:
    QString path(const char *name) const { return join(m_dir->path(), QString::fromUtf8(name)); }
    QString homeTrash() const { return join(m_data->path(), QStringLiteral("Trash")); }
    /// Copies or moves a file with `content` over `destination`, the replaced file kept.
    OpResult replace(const QString &operation, const QString &destination,
                     const QByteArray &content, WriteReport &report, bool trashReplaced = true,
                     bool unnamedFiles = true);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<ScopedVariable> m_dataHome;
    std::unique_ptr<ScopedVariable> m_home;
};

void TrashTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_data = std::make_unique<QTemporaryDir>();
    QVERIFY(m_data->isValid());
    m_dataHome = std::make_unique<ScopedVariable>("XDG_DATA_HOME");
    m_dataHome->set(sys(m_data->path()));
    // Never the real home, whatever a test does to XDG_DATA_HOME.
    m_home = std::make_unique<ScopedVariable>("HOME");
    m_home->set(sys(join(m_data->path(), QStringLiteral("home"))));
}

void TrashTest::cleanup()
{
    m_dataHome.reset();
    m_home.reset();
    // Names that are not UTF-8 and folders of other users are beyond QTemporaryDir.
    TestFiles::removeTree(sys(m_dir->path()));
    TestFiles::removeTree(sys(m_data->path()));
}

OpResult TrashTest::replace(const QString &operation, const QString &destination,
                            const QByteArray &content, WriteReport &report, bool trashReplaced,
                            bool unnamedFiles)
{
    const QString source = join(QFileInfo(destination).path(), QStringLiteral("source"));
    if (!writeExact(source, content))
        return OpResult::failure(QStringLiteral("cannot write the source"), source);
    WriteOptions options;
    options.temporary = join(QFileInfo(destination).path(), QStringLiteral(".kaenami.tmp"));
    options.trashReplaced = trashReplaced;
    PosixFileOperations ops(PosixFileOperations::Options{unnamedFiles});
    return operation == QLatin1String("copy") ? ops.copyFile(source, destination, options, &report)
                                              : ops.moveFile(source, destination, options, &report);
}

void TrashTest::replacedFileGoesToTheTrash_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("unnamedFiles");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("copy/unnamed-file") << "copy" << true << QByteArray("t.txt");
    QTest::newRow("copy/named-temporary") << "copy" << false << QByteArray("t.txt");
    QTest::newRow("move/rename") << "move" << true << QByteArray("t.txt");
    // 写真.jpg in Shift-JIS: not UTF-8, so only its exact bytes name it.
    QTest::newRow("copy/shift-jis-name") << "copy" << true << QByteArray("\x8e\xca\x90\x5e.jpg");
    QTest::newRow("move/shift-jis-name") << "move" << true << QByteArray("\x8e\xca\x90\x5e.jpg");
    QTest::newRow("copy/characters-escaped-in-urls")
        << "copy" << true << QByteArray("a b%c#d?e&f=g+h;i.txt");
    QTest::newRow("copy/longest-name") << "copy" << true << QByteArray(251, 'n') + ".txt";
}

void TrashTest::replacedFileGoesToTheTrash()
{
    QFETCH(QString, operation);
    QFETCH(bool, unnamedFiles);
    QFETCH(QByteArray, name);
    const QString destination = join(m_dir->path(), FileNames::decode(name));
    QVERIFY(writeExact(destination, "old content"));
    struct stat before
    {
    };
    QVERIFY(lstatOf(destination, before));

    const QDateTime from = nowToTheSecond();
    WriteReport report;
    const OpResult result =
        replace(operation, destination, "new content", report, true, unnamedFiles);
    const QDateTime to = QDateTime::currentDateTime();
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY(report.replaced);
    QVERIFY2(!report.replacedNotKept, "the home trash is usable");
    QCOMPARE(readExact(destination), QByteArray("new content"));
    QCOMPARE(exists(path("source")), operation == QLatin1String("copy"));

    const QString files = join(homeTrash(), QStringLiteral("files"));
    QCOMPARE(QFileInfo(report.trashedAs).path(), files);
    QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
    struct stat trashed
    {
    };
    QVERIFY(lstatOf(report.trashedAs, trashed));
    QVERIFY2(trashed.st_ino == before.st_ino && trashed.st_dev == before.st_dev,
             "the trash holds the replaced file itself, not a copy");
    const QList<QByteArray> kept = entriesOf(files);
    QCOMPARE(kept.size(), 1);
    QVERIFY2(kept.first().size() + qsizetype(sizeof ".trashinfo" - 1) <= NAME_MAX,
             "the information file's name fits");

    const QString info = Trash::infoFileOf(report.trashedAs);
    QCOMPARE(info, join(join(homeTrash(), QStringLiteral("info")),
                        FileNames::decode(kept.first() + ".trashinfo")));
    const QString problem = infoProblem(info, sys(destination), from, to);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("info"))).size(), 1);
}

void TrashTest::everyReplaceGetsItsOwnTrashName()
{
    const QString destination = path("photo.jpg");
    QVERIFY(writeExact(destination, "first"));
    const QList<QByteArray> contents = {"second", "third", "fourth"};
    QStringList trashed;
    for (const QByteArray &content : contents) {
        WriteReport report;
        const OpResult result =
            replace(trashed.size() == 1 ? QStringLiteral("move") : QStringLiteral("copy"),
                    destination, content, report);
        QVERIFY2(result, qPrintable(describe(result)));
        QVERIFY2(!report.trashedAs.isEmpty(), "kept");
        QVERIFY2(!trashed.contains(report.trashedAs), qPrintable(report.trashedAs));
        trashed.append(report.trashedAs);
    }
    QCOMPARE(readExact(trashed[0]), QByteArray("first"));
    QCOMPARE(readExact(trashed[1]), QByteArray("second"));
    QCOMPARE(readExact(trashed[2]), QByteArray("third"));
    QCOMPARE(readExact(destination), QByteArray("fourth"));
    for (const QString &file : std::as_const(trashed)) {
        const QString problem =
            infoProblem(Trash::infoFileOf(file), sys(destination), nowToTheSecond().addSecs(-60),
                        QDateTime::currentDateTime());
        QVERIFY2(problem.isEmpty(), qPrintable(file + QStringLiteral(": ") + problem));
    }
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("info"))).size(), 3);
}

void TrashTest::nothingIsTrashedWithoutAReplace_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("trashReplaced");
    QTest::addColumn<bool>("destinationExists");
    QTest::newRow("option-off/copy") << "copy" << false << true;
    QTest::newRow("option-off/move") << "move" << false << true;
    QTest::newRow("new-name/copy") << "copy" << true << false;
    QTest::newRow("new-name/move") << "move" << true << false;
}

void TrashTest::nothingIsTrashedWithoutAReplace()
{
    QFETCH(QString, operation);
    QFETCH(bool, trashReplaced);
    QFETCH(bool, destinationExists);
    if (destinationExists)
        QVERIFY(writeExact(path("t"), "old content"));
    WriteReport report;
    const OpResult result = replace(operation, path("t"), "new content", report, trashReplaced);
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(report.replaced, destinationExists);
    QCOMPARE(readExact(path("t")), QByteArray("new content"));
    QVERIFY2(report.trashedAs.isEmpty(), qPrintable(report.trashedAs));
    QVERIFY(!report.replacedNotKept);
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("files"))), QList<QByteArray>{});
    QCOMPARE(infoFilesBelow(m_data->path()), QStringList{});
}

void TrashTest::linkAtTheDestinationIsKeptAsALink_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("link/copy") << "copy";
    QTest::newRow("link/move") << "move";
}

void TrashTest::linkAtTheDestinationIsKeptAsALink()
{
    QFETCH(QString, operation);
    QVERIFY(writeExact(path("other"), "pointed to"));
    QVERIFY(::symlink("other", sys(path("t")).constData()) == 0);
    WriteReport report;
    const OpResult result = replace(operation, path("t"), "new content", report);
    QVERIFY2(result, qPrintable(describe(result)));
    struct stat st
    {
    };
    QVERIFY2(lstatOf(report.trashedAs, st) && S_ISLNK(st.st_mode), "the trash keeps the link");
    char text[64] = {};
    QCOMPARE(::readlink(sys(report.trashedAs).constData(), text, sizeof text - 1), ssize_t(5));
    QCOMPARE(QByteArray(text), QByteArray("other"));
    QVERIFY2(lstatOf(path("t"), st) && S_ISREG(st.st_mode), "the destination became a file");
    QCOMPARE(readExact(path("t")), QByteArray("new content"));
    QCOMPARE(readExact(path("other")), QByteArray("pointed to"));
}

void TrashTest::destinationNeverGoesMissing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("unnamedFiles");
    QTest::newRow("copy/unnamed-file") << "copy" << true;
    QTest::newRow("copy/named-temporary") << "copy" << false;
    QTest::newRow("move/rename") << "move" << true;
}

void TrashTest::destinationNeverGoesMissing()
{
    QFETCH(QString, operation);
    QFETCH(bool, unnamedFiles);
    static constexpr int replaces = 300;
    const QString destination = path("watched.bin");
    QByteArray content(64 * 1024, Qt::Uninitialized);
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 7 + i / 251);
    QVERIFY(writeExact(destination, content));

    const QByteArray watched = sys(destination);
    std::atomic<bool> stop{false};
    std::atomic<long> looks{0};
    std::atomic<long> missing{0};
    std::thread watcher([&] {
        struct stat st
        {
        };
        while (!stop.load(std::memory_order_relaxed)) {
            if (::lstat(watched.constData(), &st) != 0 && errno == ENOENT)
                missing.fetch_add(1, std::memory_order_relaxed);
            looks.fetch_add(1, std::memory_order_relaxed);
        }
    });
    OpResult failed;
    int notKept = 0;
    for (int i = 0; i < replaces && failed; ++i) {
        content[0] = char(i);
        WriteReport report;
        failed = replace(operation, destination, content, report, true, unnamedFiles);
        notKept += report.trashedAs.isEmpty() ? 1 : 0;
    }
    stop = true;
    watcher.join();

    QVERIFY2(failed, qPrintable(describe(failed)));
    QVERIFY2(missing == 0, qPrintable(QStringLiteral("the destination was missing %1 times of %2")
                                          .arg(missing.load())
                                          .arg(looks.load())));
    QVERIFY2(looks > replaces, "the watcher looked while the replaces ran");
    QCOMPARE(notKept, 0);
    QCOMPARE(readExact(destination), content);
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("files"))).size(), replaces);
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("info"))).size(), replaces);
}

void TrashTest::replaceGoesAheadWithoutAUsableTrash_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("operation");
    for (const char *operation : {"copy", "move"}) {
        for (const char *kind : {"data-home-under-a-file", "trash-is-a-link", "files-is-a-link",
                                 "info-is-a-link", "trash-is-a-file", "trash-of-another-user"})
            QTest::newRow(qPrintable(
                QStringLiteral("%1/%2").arg(QLatin1String(kind), QLatin1String(operation))))
                << QString::fromLatin1(kind) << QString::fromLatin1(operation);
    }
}

void TrashTest::replaceGoesAheadWithoutAUsableTrash()
{
    QFETCH(QString, kind);
    QFETCH(QString, operation);
    const QString elsewhere = join(m_data->path(), QStringLiteral("elsewhere"));
    QVERIFY(makeFolder(elsewhere));
    const QString trash = homeTrash();
    if (kind == QLatin1String("data-home-under-a-file")) {
        // Root may write anywhere, but no one makes a folder under a file (ENOTDIR).
        const QString file = join(m_data->path(), QStringLiteral("file"));
        QVERIFY(writeExact(file, "a file"));
        m_dataHome->set(sys(join(file, QStringLiteral("data"))));
    } else if (kind == QLatin1String("trash-is-a-link")) {
        // Someone else's link: the user's own one is followed (a trash kept elsewhere).
        QVERIFY(makeFolder(join(elsewhere, QStringLiteral("files"))));
        QVERIFY(makeFolder(join(elsewhere, QStringLiteral("info"))));
        QVERIFY(makeLink(elsewhere, trash));
        if (::lchown(sys(trash).constData(), ::geteuid() + 1000, ::getegid()) != 0)
            QSKIP("only root can give a link to another user");
    } else if (kind == QLatin1String("files-is-a-link")) {
        QVERIFY(makeFolder(trash));
        QVERIFY(makeFolder(join(trash, QStringLiteral("info"))));
        QVERIFY(makeLink(elsewhere, join(trash, QStringLiteral("files"))));
    } else if (kind == QLatin1String("info-is-a-link")) {
        QVERIFY(makeFolder(trash));
        QVERIFY(makeFolder(join(trash, QStringLiteral("files"))));
        QVERIFY(makeLink(elsewhere, join(trash, QStringLiteral("info"))));
    } else if (kind == QLatin1String("trash-is-a-file")) {
        QVERIFY(writeExact(trash, "not a folder"));
    } else if (kind == QLatin1String("trash-of-another-user")) {
        QVERIFY(makeFolder(trash));
        if (::chown(sys(trash).constData(), ::geteuid() + 1000, ::getegid()) != 0)
            QSKIP("only root can give a folder to another user");
    }
    const bool rootTrashBefore = exists(QStringLiteral("/.Trash-%1").arg(::getuid()));
    QVERIFY(writeExact(path("t"), "old content"));

    WriteReport report;
    const OpResult result = replace(operation, path("t"), "new content", report);
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY(report.replaced);
    QVERIFY2(report.replacedNotKept, "the report tells that nothing kept the old file");
    QVERIFY2(report.trashedAs.isEmpty(), qPrintable(report.trashedAs));
    QCOMPARE(readExact(path("t")), QByteArray("new content"));
    QCOMPARE(exists(path("source")), operation == QLatin1String("copy"));
    QCOMPARE(infoFilesBelow(m_data->path()), QStringList{});
    QCOMPARE(entriesOf(elsewhere).size(), kind == QLatin1String("trash-is-a-link") ? 2 : 0);
    QCOMPARE(entriesOf(join(elsewhere, QStringLiteral("files"))), QList<QByteArray>{});
    QVERIFY2(rootTrashBefore || !exists(QStringLiteral("/.Trash-%1").arg(::getuid())),
             "a file on the home trash's volume never goes to another trash");
}

void TrashTest::homeTrashFollowsTheEnvironment_data()
{
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<QString>("expected");
    QTest::newRow("xdg-data-home/set") << "data"
                                       << "data/Trash";
    QTest::newRow("xdg-data-home/trailing-slash") << "data/"
                                                  << "data/Trash";
    QTest::newRow("xdg-data-home/unset") << "<unset>"
                                         << "home/.local/share/Trash";
    QTest::newRow("xdg-data-home/empty") << ""
                                         << "home/.local/share/Trash";
    QTest::newRow("xdg-data-home/relative") << "<relative>"
                                            << "home/.local/share/Trash";
}

void TrashTest::homeTrashFollowsTheEnvironment()
{
    QFETCH(QString, dataHome);
    QFETCH(QString, expected);
    if (dataHome == QLatin1String("<unset>"))
        m_dataHome->unset();
    else if (dataHome == QLatin1String("<relative>"))
        m_dataHome->set("relative/data");
    else if (dataHome.isEmpty())
        m_dataHome->set("");
    else
        m_dataHome->set(sys(join(m_data->path(), dataHome)));
    const QString folder = join(m_data->path(), expected);
    QCOMPARE(Trash::homeFolder(), folder);

    QVERIFY(writeExact(path("t"), "old content"));
    QString found;
    const OpResult located = Trash::folderFor(path("t"), found);
    QVERIFY2(located, qPrintable(describe(located)));
    QCOMPARE(found, folder);
    for (const char *made : {"", "/files", "/info"})
        QVERIFY2(modeOf(folder + QLatin1String(made)) == 0700,
                 qPrintable(folder + QLatin1String(made) + QStringLiteral(" is private")));

    WriteReport report;
    const OpResult result = replace(QStringLiteral("copy"), path("t"), "new content", report);
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(report.trashedAs, join(folder, QStringLiteral("files/t")));
    QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
    QVERIFY2(!exists(QDir::currentPath() + QStringLiteral("/relative")),
             "a relative XDG_DATA_HOME is ignored");
}

void TrashTest::entryLeftInTheTrashKeepsItsName()
{
    // A file in files/ without its information (another program stopped halfway).
    const QString files = join(homeTrash(), QStringLiteral("files"));
    QVERIFY(makeFolder(homeTrash()));
    QVERIFY(makeFolder(files));
    QVERIFY(makeFolder(join(homeTrash(), QStringLiteral("info"))));
    QVERIFY(writeExact(join(files, QStringLiteral("t.txt")), "left over"));
    QVERIFY(writeExact(path("t.txt"), "old content"));

    WriteReport report;
    const OpResult result = replace(QStringLiteral("copy"), path("t.txt"), "new content", report);
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY2(!report.trashedAs.isEmpty() &&
                 report.trashedAs != join(files, QStringLiteral("t.txt")),
             qPrintable(report.trashedAs));
    QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
    QCOMPARE(readExact(join(files, QStringLiteral("t.txt"))), QByteArray("left over"));
    QCOMPARE(infoFilesBelow(m_data->path()), QStringList{Trash::infoFileOf(report.trashedAs)});
}

void TrashTest::otherVolumeUsesItsTopTrash_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("operation");
    /// The trash folder below the top; "home" where the drive's own trash cannot be used and
    /// the home trash keeps a copy instead.
    QTest::addColumn<QString>("expected");
    const QString uid = QString::number(::getuid());
    const QString own = QStringLiteral(".Trash-") + uid;
    const QString shared = QStringLiteral(".Trash/") + uid;
    QTest::newRow("own-folder/made-by-copy") << ""
                                             << "copy" << own;
    QTest::newRow("own-folder/made-by-move") << ""
                                             << "move" << own;
    QTest::newRow("own-folder/already-there") << "own"
                                              << "copy" << own;
    QTest::newRow("shared-folder/sticky") << "shared-sticky"
                                          << "copy" << shared;
    QTest::newRow("shared-folder/not-sticky") << "shared-not-sticky"
                                              << "copy" << own;
    QTest::newRow("shared-folder/link") << "shared-link"
                                        << "copy" << own;
    QTest::newRow("own-folder/link") << "own-link"
                                     << "copy"
                                     << "home";
    // Anyone can make .Trash-<uid> first on a shared drive: replaces there are still kept.
    QTest::newRow("own-folder/of-another-user") << "own-of-another-user"
                                                << "copy"
                                                << "home";
    QTest::newRow("own-folder/of-another-user, move") << "own-of-another-user"
                                                      << "move"
                                                      << "home";
}

void TrashTest::otherVolumeUsesItsTopTrash()
{
    QFETCH(QString, setup);
    QFETCH(QString, operation);
    QFETCH(QString, expected);
    const std::unique_ptr<QTemporaryDir> volume = otherVolume(m_dir->path());
    if (!volume)
        QSKIP("no tmpfs at /dev/shm apart from the temporary folder");
    const QString top = QFileInfo(QStringLiteral("/dev/shm")).canonicalFilePath();
    const QString own = join(top, QStringLiteral(".Trash-%1").arg(::getuid()));
    const QString shared = join(top, QStringLiteral(".Trash"));
    const TopTrashes trashes({own, shared});
    if (trashes.anyThere())
        QSKIP("/dev/shm already has a trash, which this test leaves alone");

    const QString elsewhere = join(volume->path(), QStringLiteral("elsewhere"));
    QVERIFY(makeFolder(elsewhere, 01777));
    if (setup == QLatin1String("own")) {
        QVERIFY(makeFolder(own));
    } else if (setup == QLatin1String("shared-sticky")) {
        QVERIFY(makeFolder(shared, 01777));
    } else if (setup == QLatin1String("shared-not-sticky")) {
        QVERIFY(makeFolder(shared, 0777));
    } else if (setup == QLatin1String("shared-link")) {
        QVERIFY(makeLink(elsewhere, shared));
    } else if (setup == QLatin1String("own-link")) {
        QVERIFY(makeLink(elsewhere, own));
    } else if (setup == QLatin1String("own-of-another-user")) {
        QVERIFY(makeFolder(own));
        if (::chown(sys(own).constData(), ::geteuid() + 1000, ::getegid()) != 0)
            QSKIP("only root can give a folder to another user");
    }
    const QString destination = join(volume->path(), QStringLiteral("t"));
    QVERIFY(writeExact(destination, "old content"));

    const QDateTime from = nowToTheSecond();
    WriteReport report;
    const OpResult result = replace(operation, destination, "new content", report);
    const QDateTime to = QDateTime::currentDateTime();
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(readExact(destination), QByteArray("new content"));
    PosixFileOperations ops;
    if (expected == QLatin1String("home")) {
        // An unsafe trash is not used, and the file is not lost either: the home trash keeps a
        // copy across the drives, recorded under its absolute path, and it restores.
        QVERIFY2(!report.replacedNotKept, "the home trash keeps the replaced file");
        QCOMPARE(report.trashedAs, join(homeTrash(), QStringLiteral("files/t")));
        QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
        const QString problem =
            infoProblem(Trash::infoFileOf(report.trashedAs),
                        sys(QFileInfo(destination).canonicalFilePath()), from, to);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(entriesOf(elsewhere), QList<QByteArray>{});
        if (setup == QLatin1String("own-of-another-user"))
            QCOMPARE(entriesOf(own), QList<QByteArray>{});
        const QString back = join(volume->path(), QStringLiteral("back"));
        const OpResult restored = ops.restoreFromTrash(report.trashedAs, back);
        QVERIFY2(restored, qPrintable(describe(restored)));
        QCOMPARE(readExact(back), QByteArray("old content"));
        QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("files"))), QList<QByteArray>{});
        QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("info"))), QList<QByteArray>{});
        return;
    }
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("files"))), QList<QByteArray>{});
    const QString folder = join(top, expected);
    QString found;
    QVERIFY(Trash::folderFor(destination, found));
    QCOMPARE(found, folder);
    QCOMPARE(report.trashedAs, join(folder, QStringLiteral("files/t")));
    QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
    QVERIFY2(modeOf(folder) == 0700, "the user's trash is private");
    // Relative to the volume's top folder, so the entry still restores when mounted elsewhere.
    const QString relative = join(QFileInfo(volume->path()).canonicalFilePath().mid(top.size() + 1),
                                  QStringLiteral("t"));
    const QString problem =
        infoProblem(Trash::infoFileOf(report.trashedAs), sys(relative), from, to);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(entriesOf(elsewhere), QList<QByteArray>{});

    const QString back = join(volume->path(), QStringLiteral("back"));
    const OpResult restored = ops.restoreFromTrash(report.trashedAs, back);
    QVERIFY2(restored, qPrintable(describe(restored)));
    QCOMPARE(readExact(back), QByteArray("old content"));
    QCOMPARE(infoFilesBelow(folder), QStringList{});
}

void TrashTest::moveAcrossFileSystemsKeepsTheReplacedFileOnce()
{
    const std::unique_ptr<QTemporaryDir> volume = otherVolume(m_dir->path());
    if (!volume)
        QSKIP("no tmpfs at /dev/shm apart from the temporary folder");
    const QString source = join(volume->path(), QStringLiteral("s"));
    QVERIFY(writeExact(source, "new content"));
    QVERIFY(writeExact(path("t"), "old content"));
    WriteOptions options;
    options.temporary = path(".t.tmp");
    options.trashReplaced = true;
    WriteReport report;
    PosixFileOperations ops;
    const OpResult result = ops.moveFile(source, path("t"), options, &report);
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY(report.copied && report.replaced && !report.replacedNotKept);
    QCOMPARE(readExact(path("t")), QByteArray("new content"));
    QVERIFY2(!exists(source), "the source goes once its copy is complete");
    QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("files"))), QList<QByteArray>{"t"});
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("info"))),
             QList<QByteArray>{"t.trashinfo"});
}

void TrashTest::restorePutsTheFileBack_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("name/plain") << QByteArray("t.txt");
    QTest::newRow("name/shift-jis") << QByteArray("\x8e\xca\x90\x5e.jpg");
}

void TrashTest::restorePutsTheFileBack()
{
    QFETCH(QByteArray, name);
    const QString destination = join(m_dir->path(), FileNames::decode(name));
    QVERIFY(writeExact(destination, "old content"));
    struct stat before
    {
    };
    QVERIFY(lstatOf(destination, before));
    WriteReport report;
    QVERIFY(replace(QStringLiteral("copy"), destination, "new content", report));
    const QString info = Trash::infoFileOf(report.trashedAs);
    QVERIFY2(exists(info), qPrintable(info));

    PosixFileOperations ops;
    const QString restored = join(m_dir->path(), FileNames::decode("back-" + name));
    const OpResult result = ops.restoreFromTrash(report.trashedAs, restored);
    QVERIFY2(result, qPrintable(describe(result)));
    QCOMPARE(readExact(restored), QByteArray("old content"));
    struct stat after
    {
    };
    QVERIFY(lstatOf(restored, after));
    QCOMPARE(after.st_ino, before.st_ino);
    QVERIFY2(!exists(report.trashedAs), "the file left the trash");
    QVERIFY2(!exists(info), "its trash information went with it");
    QCOMPARE(readExact(destination), QByteArray("new content"));
}

void TrashTest::restoreNeverReplaces()
{
    QVERIFY(writeExact(path("t"), "old content"));
    WriteReport report;
    QVERIFY(replace(QStringLiteral("copy"), path("t"), "new content", report));

    PosixFileOperations ops;
    const OpResult result = ops.restoreFromTrash(report.trashedAs, path("t"));
    QVERIFY2(!result, "an existing name is never replaced");
    QCOMPARE(result.error, systemErrorText(EEXIST));
    QCOMPARE(result.path, path("t"));
    QCOMPARE(readExact(path("t")), QByteArray("new content"));
    QCOMPARE(readExact(report.trashedAs), QByteArray("old content"));
    QVERIFY2(exists(Trash::infoFileOf(report.trashedAs)), "the trash still lists it");
}

void TrashTest::restoreTakesOnlyFilesOfATrash()
{
    QVERIFY(writeExact(path("loose"), "not in a trash"));
    PosixFileOperations ops;
    const OpResult result = ops.restoreFromTrash(path("loose"), path("back"));
    QVERIFY2(!result, "a file outside a trash's files/ is refused");
    QCOMPARE(result.error, systemErrorText(EINVAL));
    QVERIFY(exists(path("loose")));
    QVERIFY(!exists(path("back")));
}

void TrashTest::restoreTakesOnlyTheFileItWasToldOf_data()
{
    QTest::addColumn<QString>("swap");
    // Whoever owns a shared .Trash can swap the user's folder in it for a link to their own.
    QTest::newRow("trash folder swapped for another user's") << "folder";
    QTest::newRow("trashed file swapped for another file") << "file";
}

void TrashTest::restoreTakesOnlyTheFileItWasToldOf()
{
    QFETCH(QString, swap);
    QVERIFY(writeExact(path("t"), "old content"));
    WriteReport report;
    QVERIFY(replace("copy", path("t"), "new content", report));
    QVERIFY(!report.trashedAs.isEmpty());
    const QString trash = homeTrash();
    if (swap == "folder") {
        if (::geteuid() != 0)
            QSKIP("making a folder another user's needs root");
        const QString theirs = join(m_data->path(), QStringLiteral("theirs"));
        QVERIFY(makeFolder(theirs) && makeFolder(join(theirs, QStringLiteral("files"))) &&
                makeFolder(join(theirs, QStringLiteral("info"))));
        QVERIFY(writeExact(join(theirs, QStringLiteral("files/t")), "their file"));
        QVERIFY(::chown(sys(theirs).constData(), 65534, 65534) == 0);
        QVERIFY(QDir().rename(trash, trash + ".moved"));
        QVERIFY(makeLink(theirs, trash));
    } else {
        QVERIFY(QFile::remove(report.trashedAs));
        QVERIFY(writeExact(report.trashedAs, "another file"));
    }
    PosixFileOperations ops;
    OpenFolder folder;
    QVERIFY(ops.openFolder(m_dir->path(), folder));
    const OpResult result =
        ops.restoreFromTrash(report.trashedAs, folder, QStringLiteral("back"), {report.trashed});
    QVERIFY2(!result, "only the very file the trash was given comes back");
    QVERIFY(!exists(path("back")));
}

void TrashTest::aHomeTrashLinkedElsewhereKeepsTheFile()
{
    // The user keeps the home trash elsewhere on the same drive, through a link of their own.
    const QString elsewhere = join(m_dir->path(), QStringLiteral("kept-trash"));
    QVERIFY(makeFolder(elsewhere, 0700));
    QVERIFY(QDir().mkpath(m_data->path()));
    QVERIFY(makeLink(elsewhere, homeTrash()));
    QVERIFY(writeExact(path("t"), "old content"));
    WriteReport report;
    const OpResult result = replace("copy", path("t"), "new content", report);
    QVERIFY2(result, qPrintable(describe(result)));
    QVERIFY2(!report.replacedNotKept, "the linked trash keeps it");
    QCOMPARE(readExact(join(elsewhere, QStringLiteral("files/t"))), QByteArray("old content"));
}

void TrashTest::discardTakesTheEntryBack()
{
    QVERIFY(writeExact(path("t"), "stays"));
    QString trashedAs;
    const OpResult kept = Trash::keep(path("t"), trashedAs);
    QVERIFY2(kept, qPrintable(describe(kept)));
    QCOMPARE(readExact(trashedAs), QByteArray("stays"));
    QVERIFY(exists(Trash::infoFileOf(trashedAs)));

    const OpResult discarded = Trash::discard(trashedAs);
    QVERIFY2(discarded, qPrintable(describe(discarded)));
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("files"))), QList<QByteArray>{});
    QCOMPARE(entriesOf(join(homeTrash(), QStringLiteral("info"))), QList<QByteArray>{});
    QCOMPARE(readExact(path("t")), QByteArray("stays"));
}

void TrashTest::whereLinksAreRefusedTheTrashKeepsACopy()
{
    // A second mount of the same folder: the home trash is on its device, yet a link from it
    // fails with EXDEV, as links fail on drives without them (FAT, exFAT) with EPERM.
    const QString view = join(m_data->path(), QStringLiteral("view"));
    QVERIFY(QDir().mkpath(view));
    QVERIFY(writeExact(path("photo.jpg"), "the only copy of the old photo"));
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(sys(m_dir->path()).constData(), sys(view).constData(), nullptr, MS_BIND,
                    nullptr) != 0)
            ::_exit(77);
        WriteReport report;
        const OpResult result =
            replace(QStringLiteral("copy"), join(view, QStringLiteral("photo.jpg")), "new", report);
        if (!result)
            ::_exit(1);
        if (report.replacedNotKept || report.trashedAs.isEmpty())
            ::_exit(2);
        if (readExact(report.trashedAs) != "the only copy of the old photo")
            ::_exit(3);
        if (readExact(join(view, QStringLiteral("photo.jpg"))) != "new")
            ::_exit(4);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        QSKIP("no second mount can be made here");
    QVERIFY2(WEXITSTATUS(status) == 0,
             qPrintable(
                 QStringLiteral("the copy in the trash failed, step %1").arg(WEXITSTATUS(status))));
}

void TrashTest::trashKeepsTheSpellingTheDriveLists_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("copy") << "copy";
    QTest::newRow("move") << "move";
}

void TrashTest::trashKeepsTheSpellingTheDriveLists()
{
    // A drive that ignores case replaces PHOTO1.JPG when photo1.jpg is written: the trash must
    // say PHOTO1.JPG, or a restore brings the old file back under the new name.
    QFETCH(QString, operation);
    const QString stick = join(m_data->path(), QStringLiteral("stick"));
    const ExfatDrive drive(join(m_data->path(), QStringLiteral("stick.img")), stick);
    if (!drive.skipReason.isEmpty())
        QSKIP(qPrintable(drive.skipReason));
    QVERIFY(writeExact(join(stick, QStringLiteral("PHOTO1.JPG")), "the old photo"));
    const QString source = path("new.jpg");
    QVERIFY(writeExact(source, "the new photo"));
    WriteOptions options;
    options.trashReplaced = true;
    WriteReport report;
    PosixFileOperations ops;
    const QString destination = join(stick, QStringLiteral("photo1.jpg"));
    const OpResult done = operation == QLatin1String("copy")
                              ? ops.copyFile(source, destination, options, &report)
                              : ops.moveFile(source, destination, options, &report);
    QVERIFY2(done, qPrintable(done.error));
    QVERIFY2(!report.trashedAs.isEmpty(), "the replaced file is kept");
    QCOMPARE(QFileInfo(report.trashedAs).fileName(), QStringLiteral("PHOTO1.JPG"));
    QCOMPARE(readExact(report.trashedAs), QByteArray("the old photo"));
    const QByteArray info = readExact(Trash::infoFileOf(report.trashedAs));
    QVERIFY2(info.contains("\nPath=PHOTO1.JPG\n"), info.constData());
    QCOMPARE(readExact(destination), QByteArray("the new photo"));
}

QTEST_GUILESS_MAIN(TrashTest)
#include "tst_trash.moc"
