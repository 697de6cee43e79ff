#include "batchcommand.h"
#include "batchjournal.h"
#include "consoleoutput.h"
#include "doubles.h"
#include "exiffiles.h"
#include "givenpaths.h"
#include "posixfileoperations.h"
#include "quietjob.h"
#include "renamejob.h"
#include "testfiles.h"
#include "undo.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

/// kaenami --rename and --undo, run as a user's script runs them: the real program on real
/// folders, with no display at all. The data folder is the configuration folder of an
/// installed copy in the test's own home.
class BatchCommandTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void renames_data();
    void renames();
    void dryRunChangesNothing_data();
    void dryRunChangesNothing();
    void undoesTheNewestBatchOfTheSharedHistory();
    void recoversAnAbandonedBatchFirst_data();
    void recoversAnAbandonedBatchFirst();
    void progressStaysOnOneLine();
    void ctrlCStopsAfterTheFileItIsOn();
    void undoAsksOnATerminal_data();
    void undoAsksOnATerminal();

private:
    QTemporaryDir m_install;
    QString m_program;
};

namespace {

struct Run
{
    int exit = -1;
    QString out;
    QString err;
};

/// A home of its own for each run: the files to rename in src/, the target dst/, the
/// program's data in config/kaenami and its trash under data/.
struct Home
{
    Home()
    {
        for (const char *folder : {"src", "dst", "config/kaenami"})
            QDir(dir.path()).mkpath(folder);
    }
    QString path(const QString &relative) const { return dir.path() + '/' + relative; }
    QString dataFolder() const { return path("config/kaenami"); }
    BatchPlaces places() const { return {dataFolder(), {}}; }
    /// Files in src/, each holding its own name.
    bool add(const QStringList &names) const
    {
        return std::all_of(names.cbegin(), names.cend(), [this](const QString &name) {
            return TestFiles::write(path("src/" + name), name.toUtf8());
        });
    }
    /// What each file in `folder` holds, in name order: "name=content".
    QStringList contents(const QString &folder) const
    {
        QStringList listed;
        for (const QString &name : TestFiles::names(path(folder)))
            listed.append(name + '=' + TestFiles::read(path(folder + '/' + name)));
        return listed;
    }
    QTemporaryDir dir;
};

/// A console whose streams are recorded and whose input is scripted.
class RecordingConsole final : public Console
{
public:
    void writeOutput(const QString &text) override { out += text; }
    void writeError(const QString &text) override { err += text; }
    bool errorIsTerminal() override { return terminal; }
    bool inputIsTerminal() override { return terminal; }
    std::optional<QString> readLine() override
    {
        if (answers.isEmpty())
            return std::nullopt;
        return answers.takeFirst();
    }
    QString out, err;
    QStringList answers;
    bool terminal = true;
};

/// A batch as the window runs it, with its record kept in the shared history.
class WindowHost final : public JobHost
{
public:
    WindowHost(FileOperations &files, QString history) : m_files(files), m_history(history) {}
    UndoRecording recordForUndo(const JobResult &result) override
    {
        UndoHistoryFile history(m_files, m_history);
        return {history.record(result), {}};
    }
    OpResult refreshLists() override { return {}; }
    OpResult saveData() override { return {}; }
    void focusBaseName() override {}

private:
    FileOperations &m_files;
    QString m_history;
};

/// Real file operations whose n-th move tells `reached` and then waits until `resume` is
/// closed.
class PausingFiles final : public ForwardingFileOperations
{
public:
    PausingFiles(int pauseAt, int reached, int resume)
        : m_left(pauseAt), m_reached(reached), m_resume(resume)
    {}
    KAENAMI_PATH_FORMS(ForwardingFileOperations);
    OpResult moveFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r) override
    {
        if (--m_left == 0) {
            char byte = 0;
            if (::write(m_reached, "r", 1) == 1)
                while (::read(m_resume, &byte, 1) < 0 && errno == EINTR) {
                }
        }
        return ForwardingFileOperations::moveFile(sf, s, df, d, o, r);
    }

private:
    int m_left;
    int m_reached;
    int m_resume;
};

QString text(QStringView view)
{
    return view.toString();
}

} // namespace

void BatchCommandTest::initTestCase()
{
    // A copy without its help text beside it is an installed one: its data lie in the home's
    // configuration folder, not in the build's.
    QVERIFY(m_install.isValid());
    QVERIFY(QDir(m_install.path()).mkpath("bin"));
    m_program = m_install.path() + "/bin/kaenami";
    QVERIFY(QFile::copy(QStringLiteral(KAENAMI_PROGRAM), m_program));
}

namespace {

Run run(const QString &program, const Home &home, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("HOME", home.path("home"));
    environment.insert("XDG_CONFIG_HOME", home.path("config"));
    environment.insert("XDG_DATA_HOME", home.path("data"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home.dir.path());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exit = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace

void BatchCommandTest::renames_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QStringList>("target"); // dst/ afterwards
    QTest::addColumn<QStringList>("source"); // src/ afterwards, when it changes
    QTest::addColumn<QString>("err");

    const QStringList four{"c.jpg", "a.jpg", "b10.jpg", "b9.jpg"};
    const QStringList all{"a.jpg=a.jpg", "b10.jpg=b10.jpg", "b9.jpg=b9.jpg", "c.jpg=c.jpg"};
    const QString done = RenameJob::completedMessage() + '\n';
    const QStringList base{"--rename", "--base", "photo", "--to", "dst"};
    const auto files = [&](const QStringList &names) {
        QStringList paths;
        for (const QString &name : names)
            paths.append("src/" + name);
        return paths;
    };

    QTest::newRow("done/natural order")
        << base + files(four) << 0
        << QStringList{"photo0001.jpg=a.jpg", "photo0002.jpg=b9.jpg", "photo0003.jpg=b10.jpg",
                       "photo0004.jpg=c.jpg"}
        << all << done;
    QTest::newRow("done/given order, moved, as the boxes take them")
        << QStringList{"--rename", "--base", "写真",   "--start", "007",   "--digits", "3",
                       "--ext",    "JPG",    "--move", "--order", "given", "--to",     "dst"} +
               files(four)
        << 0
        << QStringList{"写真007.JPG=c.jpg", "写真008.JPG=a.jpg", "写真009.JPG=b10.jpg",
                       "写真010.JPG=b9.jpg"}
        << QStringList{} << done;
    QTest::newRow("done/by date taken")
        << base + QStringList{"--order", "taken"} + files({"tokyo.jpg", "london.jpg", "a.jpg"}) << 0
        << QStringList{"photo0001.jpg=tokyo", "photo0002.jpg=london", "photo0003.jpg=a.jpg"} << all
        << done;

    QTest::newRow("refused/digit check")
        << QStringList{"--rename", "--base", "p", "--start", "12345", "--to", "dst"} + files(four)
        << 1 << QStringList{} << all << RenameJob::digitCheckMessage() + '\n';
    BatchPlan slash;
    slash.nameProblem = NameProblem::Slash;
    slash.refusedName = "a/b0001.jpg";
    QTest::newRow("refused/unusable name")
        << QStringList{"--rename", "--base", "a/b", "--to", "dst"} + files(four) << 1
        << QStringList{} << all
        << RenameJob::nameRefusedMessage(slash, 255).replace("\r\n", "\n") + '\n';
    QTest::newRow("refused/start out of range")
        << QStringList{"--rename", "--base", "p",    "--start", "99999999999",
                       "--digits", "15",     "--to", "dst"} +
               files(four)
        << 1 << QStringList{} << all
        << RenameJob::startOutOfRangeMessage("99999999999").replace("\r\n", "\n") + '\n';
    QTest::newRow("stopped/same name in one folder")
        << QStringList{"--rename", "--base", "b",    "--digits", "1",          "--start",  "9",
                       "--order",  "given",  "--to", "src",      "src/b9.jpg", "src/a.jpg"}
        << 1 << QStringList{} << all << RenameJob::sameNameMessage().replace("\r\n", "\n") + '\n';

    QTest::newRow("usage/no target")
        << QStringList{"--rename", "--base", "p"} + files(four) << 2 << QStringList{} << all
        << "--rename には --to でコピー先のフォルダーを指定してくだ"
           "さい。\n使い方は kaenami --help で表示します。\n";
    QTest::newRow("usage/a file that is not there")
        << base + files({"a.jpg", "none.jpg"}) << 2 << QStringList{} << all
        << GivenPathMessages::cannotOpen("src/none.jpg", systemErrorText(ENOENT))
                   .replace("\r\n", "\n") +
               '\n';
    QTest::newRow("usage/files of two folders")
        << base + QStringList{"src/a.jpg", "dst/x.jpg"} << 2 << QStringList{"x.jpg=x"} << all
        << "<severalFolders>";
    QTest::newRow("usage/the target is a file")
        << QStringList{"--rename", "--base", "p", "--to", "src/a.jpg", "src/c.jpg"} << 2
        << QStringList{} << all << "--to にはコピー先のフォルダーを指定してください。\n";
}

void BatchCommandTest::renames()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exit);
    QFETCH(QStringList, target);
    QFETCH(QStringList, source);
    QFETCH(QString, err);
    Home home;
    QVERIFY(home.add({"c.jpg", "a.jpg", "b10.jpg", "b9.jpg"}));
    // Photos of two cameras: 10:00 in Tokyo came before 09:00 in London.
    QVERIFY(ExifFiles::write(home.path("src/tokyo.jpg"),
                             ExifFiles::jpeg({"2023:08:14 10:00:00", {}, "+09:00"}) + "tokyo", 0));
    QVERIFY(ExifFiles::write(home.path("src/london.jpg"),
                             ExifFiles::jpeg({"2023:08:14 09:00:00", {}, "+00:00"}) + "london", 0));
    if (target == QStringList{"x.jpg=x"})
        QVERIFY(TestFiles::write(home.path("dst/x.jpg"), "x"));
    if (err == "<severalFolders>")
        err = GivenPathMessages::severalFolders(home.path("src"), home.path("dst"))
                  .replace("\r\n", "\n") +
              "\n";
    const Run ran = run(m_program, home, arguments);
    QCOMPARE(ran.err, err);
    QCOMPARE(ran.exit, exit);
    QCOMPARE(ran.out, QString());
    // Photo files hold their header first; the test's words come after it.
    QStringList names;
    for (const QString &entry : target)
        names.append(entry.left(entry.indexOf('=')));
    QCOMPARE(TestFiles::names(home.path("dst")), names);
    for (const QString &entry : target) {
        const QByteArray content =
            TestFiles::read(home.path("dst/" + names[target.indexOf(entry)]));
        QVERIFY2(content.endsWith(entry.mid(entry.indexOf('=') + 1).toUtf8()), qPrintable(entry));
    }
    QStringList kept = home.contents("src");
    kept.removeIf([](const QString &entry) {
        return entry.startsWith("tokyo") || entry.startsWith("london");
    });
    QCOMPARE(kept, source);
    // A run without a window keeps no settings, only what every batch keeps: its undo record.
    const QStringList data = TestFiles::names(home.dataFolder());
    QVERIFY2(!data.contains("DuVuzeRezo.ini") && !data.contains("ListFile.dat"),
             qPrintable(data.join(' ')));
    if (exit == 0)
        QVERIFY(data.contains(".kaenami-undo"));
}

void BatchCommandTest::dryRunChangesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("links"); // in dst/, "name>where it leads"

    QTest::newRow("would run")
        << QStringList{"--to", "dst", "src/b.jpg", "src/a.jpg", "src/c.jpg"} << 0
        << "a.jpg → p0001.jpg\t新規\nb.jpg → p0002.jpg\t置き換え（元のファイルはごみ箱へ）\n"
           "c.jpg → p0003.jpg\t置き換え（元のファイルはごみ箱へ）\n3 件: 新規 1、置き換え 2\n"
        << "" << QStringList{};
    QTest::newRow("would stop at the same name")
        << QStringList{"--to", "dst", "--order", "given", "dst/p0003.jpg", "dst/p0002.jpg"} << 1
        << "p0003.jpg → p0001.jpg\t新規\np0002.jpg → p0002.jpg\t同じ名前のため停止\n"
           "2 件: 新規 1。2 行目で停止（同じ名前があり、上書きしない設定）\n"
        << "" << QStringList{};
    QTest::newRow("would be refused")
        << QStringList{"--digits", "1", "--start", "10", "--to", "dst", "src/a.jpg"} << 1 << ""
        << RenameJob::digitCheckMessage() + '\n'
        << QStringList{};
    BatchLayout blocked;
    blocked.blocked = "<dst>/p0001.jpg";
    blocked.blockedIsFolder = true;
    QTest::newRow("would meet a folder")
        << QStringList{"--to", "dst", "src/a.jpg"} << 1
        << "a.jpg → p0001.jpg\tフォルダー「p0001.jpg」があるため中止\n"
        << RenameJob::blockedMessage(blocked).replace("\r\n", "\n") + '\n'
        << QStringList{};
    // Told as the batch does it, which looks at the folders, not at the listed names alone.
    QTest::newRow("would trash a dangling link")
        << QStringList{"--to", "dst", "src/a.jpg"} << 0
        << "a.jpg → p0001.jpg\t置き換え（元のファイルはごみ箱へ）\n1 件: 置き換え 1\n"
        << "" << QStringList{"p0001.jpg>nowhere"};
}

void BatchCommandTest::dryRunChangesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exit);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, links);
    Home home;
    QVERIFY(home.add({"a.jpg", "b.jpg", "c.jpg"}));
    for (const char *name : {"p0002.jpg", "p0003.jpg"})
        QVERIFY(TestFiles::write(home.path("dst/") + name, name));
    for (const QString &link : std::as_const(links))
        QVERIFY(QFile::link(link.section('>', 1), home.path("dst/" + link.section('>', 0, 0))));
    if (err.contains("<dst>")) {
        QVERIFY(QDir().mkpath(home.path("dst/p0001.jpg")));
        err.replace("<dst>", home.path("dst"));
    }
    const QStringList source = home.contents("src");
    const QStringList target = TestFiles::names(home.path("dst"));

    const Run ran =
        run(m_program, home, QStringList{"--rename", "--dry-run", "--base", "p"} + arguments);
    QCOMPARE(ran.out, out);
    QCOMPARE(ran.err, err);
    QCOMPARE(ran.exit, exit);
    QCOMPARE(home.contents("src"), source);
    QCOMPARE(TestFiles::names(home.path("dst")), target);
    QCOMPARE(TestFiles::names(home.dataFolder()), QStringList{});
    QVERIFY2(!QFileInfo::exists(home.path("data/Trash")), "nothing went to the trash");
}

void BatchCommandTest::undoesTheNewestBatchOfTheSharedHistory()
{
    Home home;
    QVERIFY(home.add({"a.jpg", "b.jpg"}));
    PosixFileOperations files;
    const QString history = home.dataFolder() + "/" + UndoHistory::fileName;

    // A batch made in a window, then one made by a script.
    {
        RenameRequest request;
        request.baseName = "win";
        request.startNumberText = "1";
        request.digitCountText = "1";
        request.extension = "jpg";
        request.sourceFolder = home.path("src");
        request.targetFolder = home.path("dst");
        request.entries = {{"a.jpg", true}, {"b.jpg", false}};
        QuietProgress progress;
        RecordingMessageBoxes messages;
        WindowHost host(files, history);
        RenameJob job(files, progress, messages, host, home.dataFolder());
        QCOMPARE(job.run(request).outcome, JobResult::Outcome::Completed);
    }
    QCOMPARE(run(m_program, home,
                 {"--rename", "--base", "cli", "--digits", "1", "--to", "dst", "src/b.jpg"})
                 .exit,
             0);
    UndoHistory both;
    QVERIFY(UndoHistoryFile(files, history).read(both));
    QCOMPARE(both.size(), size_t(2));
    QCOMPARE(TestFiles::names(home.path("dst")), (QStringList{"cli1.jpg", "win1.jpg"}));

    // The script's batch goes first, then the window's: the newest each time.
    Run undone = run(m_program, home, {"--undo", "--yes"});
    QCOMPARE(undone.err, QString("リネームを元に戻しました（1 件）。\n"));
    QCOMPARE(undone.exit, 0);
    QCOMPARE(TestFiles::names(home.path("dst")), QStringList{"win1.jpg"});
    undone = run(m_program, home, {"--undo"}); // no terminal to ask on
    QCOMPARE(undone.exit, 0);
    QCOMPARE(TestFiles::names(home.path("dst")), QStringList{});
    undone = run(m_program, home, {"--undo"});
    QCOMPARE(undone.err, nothingToUndoMessage() + '\n');
    QCOMPARE(undone.exit, 1);
    QCOMPARE(home.contents("src"), (QStringList{"a.jpg=a.jpg", "b.jpg=b.jpg"}));
}

void BatchCommandTest::recoversAnAbandonedBatchFirst_data()
{
    QTest::addColumn<bool>("undo");
    QTest::newRow("then a batch") << false;
    // The newest batch of the history is not the one cut short: nothing is undone this time.
    QTest::newRow("then no undo") << true;
}

void BatchCommandTest::recoversAnAbandonedBatchFirst()
{
    // A batch killed with a photo kept aside under a hidden name, its journal in the data folder.
    QFETCH(bool, undo);
    Home home;
    QVERIFY(home.add({"a.jpg"}));
    PosixFileOperations files;
    BatchJournal dead = BatchJournal::begin(home.path("dst"), home.path("dst"));
    dead.kept.push_back({dead.keptPath(1), home.path("dst/photo1.jpg"), home.path("dst/x.jpg")});
    QVERIFY(TestFiles::write(home.path("dst/photo1.jpg"), "photo"));
    QVERIFY(files.setAside(home.path("dst/photo1.jpg"), dead.kept[0].kept));
    QVERIFY(QFile::remove(home.path("dst/photo1.jpg")));
    if (undo) {
        QCOMPARE(run(m_program, home, {"--rename", "--base", "b", "--to", "dst", "src/a.jpg"}).exit,
                 0);
    }
    QVERIFY(TestFiles::write(BatchJournal::pathIn(home.dataFolder(), dead.id), dead.toBytes()));
    if (undo) {
        const Run ran = run(m_program, home, {"--undo", "--yes"});
        QCOMPARE(ran.exit, 1);
        QVERIFY2(ran.err.contains(home.path("dst/photo1.jpg")), qPrintable(ran.err));
        QCOMPARE(home.contents("dst"), (QStringList{"b0001.jpg=a.jpg", "photo1.jpg=photo"}));
        return;
    }

    const Run ran = run(m_program, home, {"--rename", "--base", "b", "--to", "dst", "src/a.jpg"});
    QCOMPARE(ran.exit, 0);
    QVERIFY2(ran.err.contains(home.path("dst/photo1.jpg")) &&
                 ran.err.endsWith('\n' + RenameJob::completedMessage() + '\n'),
             qPrintable(ran.err));
    QCOMPARE(home.contents("dst"), (QStringList{"b0001.jpg=a.jpg", "photo1.jpg=photo"}));
}

void BatchCommandTest::progressStaysOnOneLine()
{
    Home home;
    QStringList names;
    for (int i = 0; i < 250; ++i)
        names.append(QString("f%1.jpg").arg(i));
    QVERIFY(home.add(names));
    RenameCommand command;
    command.baseName = "p";
    command.target = home.path("dst");
    for (const QString &name : names)
        command.files.append(home.path("src/" + name));
    PosixFileOperations files;
    RecordingConsole console;
    QCOMPARE(runRename(files, console, home.places(), command), BatchExit::done);

    // Redrawn in place as its bar grows, then cleared for the closing message.
    const QString cleared = QStringLiteral("\r\x1b[K");
    QVERIFY2(console.err.endsWith(cleared + RenameJob::completedMessage() + '\n'),
             qPrintable(console.err.right(80)));
    const QString progress = console.err.left(console.err.size() - cleared.size() -
                                              RenameJob::completedMessage().size() - 1);
    QVERIFY(!progress.contains('\n'));
    const QList<QStringView> lines = QStringView(progress).split('\r', Qt::SkipEmptyParts);
    QCOMPARE(text(lines.first()), TerminalProgress::line(0, 249, 0));
    QCOMPARE(text(lines.last()), TerminalProgress::line(0, 249, 249));
    // Drawn again only when it looks different: once a percent or a step of the bar.
    QVERIFY2(lines.size() > 20 && lines.size() <= 101 + TerminalProgress::barWidth,
             qPrintable(QString::number(lines.size())));
    QVERIFY(text(lines.last()).contains("100%"));
    QCOMPARE(console.out, QString());

    // Where standard error is no terminal, only the message.
    RecordingConsole piped;
    piped.terminal = false;
    command.baseName = "q";
    QCOMPARE(runRename(files, piped, home.places(), command), BatchExit::done);
    QCOMPARE(piped.err, RenameJob::completedMessage() + '\n');
}

void BatchCommandTest::ctrlCStopsAfterTheFileItIsOn()
{
    // Moves within one folder; p0030.jpg is a later source that an earlier new name replaces,
    // so the batch keeps it aside before the first file, and must leave it whole on stopping.
    Home home;
    QStringList names;
    for (int i = 1; i <= 40; ++i)
        names.append(QString("f%1.jpg").arg(i, 2, 10, QChar('0')));
    names.append("p0030.jpg");
    QVERIFY(home.add(names));
    const QStringList before = home.contents("src");
    RenameCommand command;
    command.baseName = "p";
    command.move = true;
    command.target = home.path("src");
    for (const QString &name : std::as_const(names))
        command.files.append(home.path("src/" + name));

    // The batch in a process of its own, which gets Ctrl+C while its fifth file waits.
    int reached[2], resume[2];
    QVERIFY(::pipe(reached) == 0 && ::pipe(resume) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(reached[0]);
        ::close(resume[1]);
        qputenv("XDG_DATA_HOME", home.path("data").toUtf8());
        PausingFiles files(5, reached[1], resume[0]);
        RecordingConsole console;
        console.terminal = false;
        const int exit = runRename(files, console, home.places(), command);
        TestFiles::write(home.path("err"), console.err.toUtf8());
        ::_exit(exit);
    }
    ::close(reached[1]);
    ::close(resume[0]);
    char byte = 0;
    const bool paused = ::read(reached[0], &byte, 1) == 1;
    const QStringList dataWhilePaused = TestFiles::names(home.dataFolder());
    if (paused)
        ::kill(child, SIGINT);
    ::close(resume[1]);
    ::close(reached[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(paused);
    QVERIFY2(WIFEXITED(status), "ended by the signal");
    QCOMPARE(WEXITSTATUS(status), BatchExit::notDone);

    // Five files done, the kept source under its own name, nothing hidden left anywhere.
    QStringList expected;
    for (int i = 1; i <= 5; ++i)
        expected.append(
            QString("p%1.jpg=f%2.jpg").arg(i, 4, 10, QChar('0')).arg(i, 2, 10, QChar('0')));
    for (int i = 6; i <= 40; ++i)
        expected.append(QString("f%1.jpg=f%1.jpg").arg(i, 2, 10, QChar('0')));
    expected.append("p0030.jpg=p0030.jpg");
    expected.sort();
    QCOMPARE(home.contents("src"), expected);
    QVERIFY2(dataWhilePaused.size() == 1 &&
                 dataWhilePaused.first().startsWith(BatchJournal::fileNamePrefix()),
             qPrintable(dataWhilePaused.join(' ')));
    QCOMPARE(TestFiles::names(home.dataFolder()), QStringList{UndoHistory::fileName});
    QCOMPARE(QString::fromUtf8(TestFiles::read(home.path("err"))),
             QString("リネームを途中で止めました。\n止めるまでに処理したファイル: 5 件\n"
                     "処理していないファイル: 36 件（最初のファイル: %1）\n")
                 .arg(home.path("src/f06.jpg")));

    // The record is whole: the real program takes it back.
    const Run undone = run(m_program, home, {"--undo", "--yes"});
    QCOMPARE(undone.err, QString("リネームを元に戻しました（5 件）。\n"));
    QCOMPARE(undone.exit, 0);
    QCOMPARE(home.contents("src"), before);
}

void BatchCommandTest::undoAsksOnATerminal_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("undone");
    QTest::newRow("answered yes") << false << QStringList{"y"} << true;
    QTest::newRow("answered はい") << false << QStringList{" はい "} << true;
    QTest::newRow("answered no") << false << QStringList{"n"} << false;
    QTest::newRow("just Enter") << false << QStringList{""} << false;
    QTest::newRow("input ended") << false << QStringList{} << false;
    QTest::newRow("--yes") << true << QStringList{} << true;
}

void BatchCommandTest::undoAsksOnATerminal()
{
    QFETCH(bool, yes);
    QFETCH(QStringList, answers);
    QFETCH(bool, undone);
    Home home;
    QVERIFY(home.add({"a.jpg", "b.jpg"}));
    RenameCommand command;
    command.baseName = "p";
    command.target = home.path("dst");
    command.files = QStringList{home.path("src/a.jpg"), home.path("src/b.jpg")};
    PosixFileOperations files;
    RecordingConsole console;
    QCOMPARE(runRename(files, console, home.places(), command), BatchExit::done);

    console.err.clear();
    console.answers = answers;
    QCOMPARE(runUndo(files, console, home.places(), yes),
             undone ? BatchExit::done : BatchExit::notDone);
    UndoEntry twoFiles;
    twoFiles.files = 2;
    const QString question = undoQuestion(twoFiles) + " [y/N] ";
    QCOMPARE(console.err.startsWith(question), !yes);
    QCOMPARE(TestFiles::names(home.path("dst")),
             undone ? QStringList() : (QStringList{"p0001.jpg", "p0002.jpg"}));
    if (undone)
        QVERIFY(console.err.endsWith("リネームを元に戻しました（2 件）。\n"));
}

QTEST_GUILESS_MAIN(BatchCommandTest)
#include "tst_batchcommand.moc"
