#include "batchjournal.h"
#include "datafiles.h"
#include "doubles.h"
#include "fakevolumes.h"
#include "folderlist.h"
#include "form1.h"
#include "form2.h"
#include "helpwindows.h"
#include "programfiles.h"
#include "registry.h"
#include "testfiles.h"
#include "undo.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

/// The main window and the help window of a portable and of an installed copy, each with its
/// program folder and configuration home in a test folder: the same files, in their places.
class InstalledCopyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filesLiveWhereTheCopyBelongs_data();
    void filesLiveWhereTheCopyBelongs();
    void aJournalLeftUnderTheOtherDecisionIsRecovered_data();
    void aJournalLeftUnderTheOtherDecisionIsRecovered();
};

void InstalledCopyTest::filesLiveWhereTheCopyBelongs_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("helpAt");
    QTest::addColumn<QString>("dataAt");
    QTest::newRow("portable") << true << "prefix/bin"
                              << "prefix/bin";
    QTest::newRow("installed/read-only") << false << "prefix/share/kaenami"
                                         << "config/kaenami";
    QTest::newRow("installed/writable prefix") << true << "prefix/share/kaenami"
                                               << "config/kaenami";
}

void InstalledCopyTest::filesLiveWhereTheCopyBelongs()
{
    QFETCH(bool, writable);
    QFETCH(QString, helpAt);
    QFETCH(QString, dataAt);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const auto path = [&](const QString &relative) { return root.path() + '/' + relative; };
    for (const char *folder : {"prefix/bin", "a/home", "a/photos", "config"})
        QVERIFY(QDir().mkpath(path(folder)));
    QVERIFY(QDir().mkpath(path(helpAt)));
    QVERIFY(TestFiles::write(path(helpAt) + "/Readme.txt", "help of " + helpAt.toUtf8()));
    QVERIFY(TestFiles::write(path("a/home/a.jpg"), "a"));
    // Files a batch replaces would go to a trash of the test's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));

    ProgramEnvironment environment;
    environment.programFolder = path("prefix/bin");
    environment.configHome = path("config");
    environment.home = path("a/home");
    environment.writable = [writable](const QString &) { return writable; };
    const ProgramFiles programFiles(environment);
    QCOMPARE(programFiles.dataFolder(), path(dataAt));
    QVERIFY(programFiles.makeDataFolder());

    FaultyFileOperations files;
    FakeVolumes volumes;
    volumes.volumes = {{"/", {}}, {path("a"), "A"}};
    volumes.home = path("a/home");
    RecordingMessageBoxes messages;
    DesktopRegistry registry;
    ProcessLauncher launcher;
    HelpWindows helpWindows(files, registry, launcher, messages, programFiles.helpFolder());
    int ended = 0;
    const auto start = [&] {
        auto form = std::make_unique<Form1>(
            Form1Services{files, volumes, messages, programFiles.dataFolder(), [&] { ++ended; },
                          [&] { helpWindows.mnuH_Click(); }, [] {}});
        form->Form_Load();
        return form;
    };

    // First start with an empty data folder: the first-start entries.
    auto form = start();
    const Form1Controls &ui = form->ui();
    QCOMPARE(ui.Combo1->count(), 2);
    QCOMPARE(ui.Combo1->currentText(), QString("jpg"));
    QCOMPARE(ui.Text2->text(), QString("0"));
    QVERIFY(messages.informed.isEmpty());

    ui.mnuH->trigger();
    QVERIFY(helpWindows.help());
    QCOMPARE(helpWindows.help()->helpText(), "help of " + helpAt + "\r\n");

    // A batch leaves its undo history, the exit button the settings and the list.
    ui.Dir2->setPath(path("a/photos"));
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    ui.Text1->setText("photo");
    ui.Text2->setText("1");
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(messages.informed, QStringList{"リネームが完了しました。"});
    QCOMPARE(TestFiles::names(path("a/photos")), QStringList{"photo00001.jpg"});
    ui.Text1->setText("later");
    QTest::mouseClick(ui.Command2, Qt::LeftButton);
    QCOMPARE(ended, 1);

    QCOMPARE(TestFiles::names(path(dataAt)),
             (QStringList{".kaenami-undo", "DuVuzeRezo.ini", "ListFile.dat"} +
              (dataAt == helpAt ? QStringList{"Readme.txt"} : QStringList{})));
    QCOMPARE(TestFiles::read(path(dataAt) + "/DuVuzeRezo.ini"),
             DataFiles::iniBytes(IniData{path("a"), path("a/home"), path("a"), path("a/photos"),
                                         "later", "1", "0", "4"}));
    QCOMPARE(TestFiles::read(path(dataAt) + "/ListFile.dat"),
             QByteArray("\"jpg\"\r\n\"bmp\"\r\n") + QByteArray("\"\"\r\n").repeated(29));
    if (dataAt != "prefix/bin")
        QCOMPARE(TestFiles::names(path("prefix/bin")), QStringList{});
    else
        QVERIFY2(!QFileInfo::exists(path("config/kaenami")), "a portable copy leaves no trace");

    // The next start remembers the window and the batch.
    form = start();
    QCOMPARE(form->ui().Text1->text(), QString("later"));
    QCOMPARE(form->ui().Dir2->path(), path("a/photos"));
    QVERIFY2(form->ui().mnuUndo->isEnabled(), "the batch can be undone after a restart");
}

void InstalledCopyTest::aJournalLeftUnderTheOtherDecisionIsRecovered_data()
{
    QTest::addColumn<bool>("wasPortable");
    QTest::newRow("portable copy made read-only after a crash") << true;
    QTest::newRow("installed copy run as a portable one") << false;
}

void InstalledCopyTest::aJournalLeftUnderTheOtherDecisionIsRecovered()
{
    QFETCH(bool, wasPortable);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const auto path = [&](const QString &relative) { return root.path() + '/' + relative; };
    for (const char *folder : {"prefix/bin", "a/home", "a/photos", "config/kaenami"})
        QVERIFY(QDir().mkpath(path(folder)));
    QVERIFY(TestFiles::write(path("prefix/bin/Readme.txt"), "help"));
    // The batch was killed with a photo kept aside under a hidden name; its journal lies where
    // the copy kept its files then.
    PosixFileOperations files;
    BatchJournal dead = BatchJournal::begin(path("a/photos"), path("a/photos"));
    dead.kept.push_back({dead.keptPath(1), path("a/photos/photo1.jpg"), path("a/photos/x.jpg")});
    QVERIFY(TestFiles::write(path("a/photos/photo1.jpg"), "photo"));
    QVERIFY(files.setAside(path("a/photos/photo1.jpg"), dead.kept[0].kept));
    QVERIFY(QFile::remove(path("a/photos/photo1.jpg")));
    const QString journalFolder = wasPortable ? path("prefix/bin") : path("config/kaenami");
    QVERIFY(TestFiles::write(BatchJournal::pathIn(journalFolder, dead.id), dead.toBytes()));

    ProgramEnvironment environment;
    environment.programFolder = path("prefix/bin");
    environment.configHome = path("config");
    environment.home = path("a/home");
    environment.writable = [wasPortable](const QString &) { return !wasPortable; };
    const ProgramFiles programFiles(environment);
    QCOMPARE(programFiles.installed(), wasPortable);
    QVERIFY(programFiles.dataFolder() != journalFolder);

    FakeVolumes volumes;
    volumes.volumes = {{"/", {}}, {path("a"), "A"}};
    volumes.home = path("a/home");
    RecordingMessageBoxes messages;
    Form1 form(Form1Services{files,
                             volumes,
                             messages,
                             programFiles.dataFolder(),
                             {},
                             {},
                             {},
                             programFiles.otherJournalFolder()});
    form.Form_Load();
    QCOMPARE(TestFiles::read(path("a/photos/photo1.jpg")), QByteArray("photo"));
    QCOMPARE(TestFiles::names(path("a/photos")), QStringList{"photo1.jpg"});
    QCOMPARE(messages.informed.size(), 1);
    QVERIFY2(messages.informed.first().contains(path("a/photos/photo1.jpg")),
             qPrintable(messages.informed.first()));
}

QTEST_MAIN(InstalledCopyTest)
#include "tst_installedcopy.moc"
