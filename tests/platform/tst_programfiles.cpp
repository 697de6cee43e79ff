#include "programfiles.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class ProgramFilesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void decision_data();
    void decision();
    void configurationHome_data();
    void configurationHome();
    void dataFolderIsMadePrivate();
    void dataFolderIsKeptAsItIs();
    void portableCopyMakesNoFolder();
    void unmakeableDataFolderIsReported();
    void systemEnvironment();
    void folderTheUserMayNotWriteMakesAnInstalledCopy();
    void dataFilesBesideTheProgramKeepItPortable_data();
    void dataFilesBesideTheProgramKeepItPortable();

private:
    QString path(const QString &relative) const { return m_dir->path() + '/' + relative; }
    /// A program folder in an installed layout: prefix/bin, beside prefix/share.
    QString program() const { return path("prefix/bin"); }
    ProgramEnvironment environment(bool writable);

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_probed;
};

void ProgramFilesTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(program()));
    m_probed.clear();
}

ProgramEnvironment ProgramFilesTest::environment(bool writable)
{
    ProgramEnvironment env;
    env.programFolder = program();
    env.configHome = path("config");
    env.home = path("home");
    env.dataFolders = {path("data-home"), path("data-dirs")};
    env.writable = [this, writable](const QString &folder) {
        m_probed.append(folder);
        return writable;
    };
    return env;
}

void ProgramFilesTest::decision_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QStringList>("helpFiles"); // where Readme.txt lies
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("dataFolder");
    QTest::addColumn<QString>("helpFolder");

    const QString beside = "prefix/bin";
    const QString share = "prefix/share/kaenami";
    const QString config = "config/kaenami";
    QTest::newRow("portable/build folder")
        << true << QStringList{beside} << false << beside << beside;
    QTest::newRow("installed/writable bin without help beside (root, /usr/bin)")
        << true << QStringList{} << true << config << share;
    QTest::newRow("portable/help beside wins over share")
        << true << QStringList{beside, share} << false << beside << beside;
    QTest::newRow("installed/read-only prefix")
        << false << QStringList{share} << true << config << share;
    QTest::newRow("installed/writable prefix (root, ~/.local)")
        << true << QStringList{share} << true << config << share;
    QTest::newRow("installed/read-only portable copy")
        << false << QStringList{beside} << true << config << beside;
    QTest::newRow("installed/help from the data folders")
        << false << QStringList{"data-dirs/kaenami"} << true << config << "data-dirs/kaenami";
    QTest::newRow("installed/data home before data dirs")
        << false << QStringList{"data-dirs/kaenami", "data-home/kaenami"} << true << config
        << "data-home/kaenami";
    QTest::newRow("installed/prefix before data folders")
        << false << QStringList{share, "data-home/kaenami"} << true << config << share;
    QTest::newRow("installed/help missing") << false << QStringList{} << true << config << share;
}

void ProgramFilesTest::decision()
{
    QFETCH(bool, writable);
    QFETCH(QStringList, helpFiles);
    QFETCH(bool, installed);
    QFETCH(QString, dataFolder);
    QFETCH(QString, helpFolder);
    for (const QString &folder : std::as_const(helpFiles)) {
        QVERIFY(QDir().mkpath(path(folder)));
        QVERIFY(TestFiles::write(path(folder) + "/Readme.txt", "help"));
    }
    // A folder named like the help file is no help file.
    if (!helpFiles.contains("data-home/kaenami"))
        QVERIFY(QDir().mkpath(path("data-home/kaenami/Readme.txt")));

    const ProgramFiles files(environment(writable));
    QCOMPARE(files.installed(), installed);
    QCOMPARE(files.dataFolder(), path(dataFolder));
    QCOMPARE(files.helpFolder(), path(helpFolder));
    // A journal left where the other decision would have put it is still found at start-up.
    QCOMPARE(files.otherJournalFolder(), installed ? program() : path("config/kaenami"));
    if (!m_probed.isEmpty())
        QCOMPARE(m_probed, QStringList{program()});
    QVERIFY2(!QFileInfo::exists(path("config")), "deciding makes no folder");
}

void ProgramFilesTest::configurationHome_data()
{
    QTest::addColumn<QString>("configHome");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("dataFolder");
    QTest::newRow("XDG_CONFIG_HOME") << "/x/conf"
                                     << "/home/u"
                                     << "/x/conf/kaenami";
    QTest::newRow("XDG_CONFIG_HOME with a slash") << "/x/conf/"
                                                  << "/home/u"
                                                  << "/x/conf/kaenami";
    QTest::newRow("unset") << ""
                           << "/home/u"
                           << "/home/u/.config/kaenami";
    QTest::newRow("relative is ignored") << "conf"
                                         << "/home/u"
                                         << "/home/u/.config/kaenami";
    QTest::newRow("home with a slash") << ""
                                       << "/home/u/"
                                       << "/home/u/.config/kaenami";
    QTest::newRow("root's home") << ""
                                 << "/"
                                 << "/.config/kaenami";
}

void ProgramFilesTest::configurationHome()
{
    QFETCH(QString, configHome);
    QFETCH(QString, home);
    QFETCH(QString, dataFolder);
    ProgramEnvironment env = environment(false);
    env.configHome = configHome;
    env.home = home;
    const ProgramFiles files(env);
    QVERIFY(files.installed());
    QCOMPARE(files.dataFolder(), dataFolder);
}

void ProgramFilesTest::dataFolderIsMadePrivate()
{
    ProgramEnvironment env = environment(false);
    env.configHome.clear(); // ~/.config is made too
    QVERIFY(QDir().mkpath(path("home")));
    const ProgramFiles files(env);
    QCOMPARE(files.dataFolder(), path("home/.config/kaenami"));
    const OpResult made = files.makeDataFolder();
    QVERIFY2(made, qPrintable(made.error));
    for (const char *folder : {"home/.config", "home/.config/kaenami"}) {
        struct stat st
        {
        };
        QVERIFY(::stat(QFile::encodeName(path(folder)).constData(), &st) == 0);
        QVERIFY2(S_ISDIR(st.st_mode), folder);
        QCOMPARE(st.st_mode & 0777, mode_t(0700) & ~mode_t(::umask(::umask(0))));
    }
    QVERIFY(TestFiles::names(files.dataFolder()).isEmpty());
}

void ProgramFilesTest::dataFolderIsKeptAsItIs()
{
    QVERIFY(QDir().mkpath(path("config/kaenami")));
    QVERIFY(::chmod(QFile::encodeName(path("config/kaenami")).constData(), 0755) == 0);
    QVERIFY(TestFiles::write(path("config/kaenami/DuVuzeRezo.ini"), "\"a\"\r\n"));
    const ProgramFiles files(environment(false));
    QVERIFY(files.makeDataFolder());
    QCOMPARE(TestFiles::read(path("config/kaenami/DuVuzeRezo.ini")), QByteArray("\"a\"\r\n"));
    QCOMPARE(QFileInfo(path("config/kaenami")).permissions() & QFileDevice::ExeOther,
             QFileDevice::ExeOther);
}

void ProgramFilesTest::portableCopyMakesNoFolder()
{
    QVERIFY(TestFiles::write(program() + "/Readme.txt", "help"));
    const ProgramFiles files(environment(true));
    QVERIFY(!files.installed());
    QVERIFY(files.makeDataFolder());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"prefix"});
    QCOMPARE(TestFiles::names(program()), QStringList{"Readme.txt"});
}

void ProgramFilesTest::unmakeableDataFolderIsReported()
{
    // A file where a folder must go: a real failure that root meets too.
    QVERIFY(TestFiles::write(path("config"), "not a folder"));
    const ProgramFiles files(environment(false));
    const OpResult made = files.makeDataFolder();
    QVERIFY2(!made, "a folder cannot be made inside a file");
    QCOMPARE(made.error, systemErrorText(ENOTDIR));
    QCOMPARE(made.path, path("config/kaenami"));
}

void ProgramFilesTest::systemEnvironment()
{
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path("config")));
    qputenv("HOME", QFile::encodeName(path("home")));
    const ProgramEnvironment env = ProgramEnvironment::system();
    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("HOME", savedHome);

    QCOMPARE(env.programFolder, QCoreApplication::applicationDirPath());
    QCOMPARE(env.configHome, path("config"));
    QCOMPARE(env.home, path("home"));
    QVERIFY(env.writable);
    QVERIFY2(env.writable(m_dir->path()), "the test's own folder is writable");
    QVERIFY2(!env.writable(path("missing")), "a missing folder is not writable");
}

void ProgramFilesTest::dataFilesBesideTheProgramKeepItPortable_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("settings") << "DuVuzeRezo.ini";
    QTest::newRow("extension list") << "ListFile.dat";
}

void ProgramFilesTest::dataFilesBesideTheProgramKeepItPortable()
{
    QFETCH(QString, name);
    // The help text was deleted from a portable copy; the settings beside it still say where
    // its files are, whatever lies under share/.
    QVERIFY(QDir().mkpath(path("prefix/share/kaenami")));
    QVERIFY(TestFiles::write(path("prefix/share/kaenami/Readme.txt"), "help"));
    QVERIFY(TestFiles::write(program() + '/' + name, "x"));
    const ProgramFiles files(environment(true));
    QVERIFY(!files.installed());
    QCOMPARE(files.dataFolder(), program());
    // A folder is no data file.
    QVERIFY(QFile::remove(program() + '/' + name));
    QVERIFY(QDir().mkpath(program() + '/' + name));
    QVERIFY(ProgramFiles(environment(true)).installed());
}

void ProgramFilesTest::folderTheUserMayNotWriteMakesAnInstalledCopy()
{
    // The real probe, on a folder this user may not write. Root writes anything, so the child
    // gives up root first; as another user, permission bits stop it.
    QVERIFY(TestFiles::write(program() + "/Readme.txt", "help"));
    QVERIFY(QDir().mkpath(path("config")));
    for (const char *folder : {"", "prefix", "prefix/bin"})
        QVERIFY(::chmod(QFile::encodeName(path(folder)).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(path("config")).constData(), 0777) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::getuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(10);
        } else if (::chmod(QFile::encodeName(program()).constData(), 0555) != 0 ||
                   ::access(QFile::encodeName(program()).constData(), W_OK) == 0) {
            ::_exit(11);
        }
        ProgramEnvironment env = ProgramEnvironment::system();
        env.programFolder = program();
        env.configHome = path("config");
        const ProgramFiles files(env);
        if (!files.installed())
            ::_exit(1);
        if (files.dataFolder() != path("config/kaenami") || files.helpFolder() != program())
            ::_exit(2);
        if (!files.makeDataFolder())
            ::_exit(3);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    ::chmod(QFile::encodeName(program()).constData(), 0755);
    QVERIFY2(WIFEXITED(status), "the child ended normally");
    const int code = WEXITSTATUS(status);
    if (code == 10 || code == 11)
        QSKIP("cannot make a folder this user may not write");
    QVERIFY2(code == 0, qPrintable(QStringLiteral("child failed at step %1").arg(code)));
    struct stat st
    {
    };
    QVERIFY(::stat(QFile::encodeName(path("config/kaenami")).constData(), &st) == 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 0077, mode_t(0));
    if (::getuid() == 0)
        QCOMPARE(st.st_uid, uid_t(65534));
    // The same folder is a portable copy's for a user who may write it.
    ProgramEnvironment env = ProgramEnvironment::system();
    env.programFolder = program();
    env.configHome = path("config");
    if (env.writable(program()))
        QVERIFY(!ProgramFiles(env).installed());
}

QTEST_GUILESS_MAIN(ProgramFilesTest)
#include "tst_programfiles.moc"
