#include "doubles.h"
#include "givenpaths.h"
#include "programoptions.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

Q_DECLARE_METATYPE(PathsFor)
Q_DECLARE_METATYPE(ProgramOptions::Request)

/// Paths handed in from outside, as the window and the command-line batches take them, and the
/// command line's options.
class GivenPathsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void pathsToOpen_data();
    void pathsToOpen();
    void options_data();
    void options();

private:
    QTemporaryDir m_root;
    QString m_workingFolder;
};

void GivenPathsTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    QDir root(m_root.path());
    for (const char *folder : {"src", "dst", "other"})
        QVERIFY(root.mkdir(folder));
    for (const char *file : {"src/a.jpg", "src/b.jpg", "src/.hidden.jpg", "other/c.jpg"})
        QVERIFY(TestFiles::write(root.filePath(file), file));
    QVERIFY(QFile::link(root.filePath("src"), root.filePath("link")));
    QVERIFY(::mkfifo(QFile::encodeName(root.filePath("fifo")).constData(), 0600) == 0);
    // Relative paths count from the working folder, as a shell gives them.
    m_workingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_root.path()));
}

void GivenPathsTest::cleanupTestCase()
{
    QDir::setCurrent(m_workingFolder);
}

void GivenPathsTest::pathsToOpen_data()
{
    QTest::addColumn<PathsFor>("use");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("failReads");
    QTest::addColumn<QString>("source"); // relative to the root
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("problem"); // the message, with <root> for the root

    const auto window = PathsFor::Window;
    const QString none;
    QTest::newRow("window/one folder")
        << window << QStringList{"src"} << false << "src" << QStringList{} << none << none;
    QTest::newRow("window/two folders") << window << QStringList{"src/", "<root>/dst"} << false
                                        << "src" << QStringList{} << "dst" << none;
    QTest::newRow("window/files in the order given")
        << window << QStringList{"src/b.jpg", "<root>/src/a.jpg"} << false << "src"
        << QStringList{"b.jpg", "a.jpg"} << none << none;
    QTest::newRow("window/files and a folder") << window << QStringList{"src/a.jpg", "dst"} << false
                                               << "src" << QStringList{"a.jpg"} << "dst" << none;
    QTest::newRow("window/one file named twice")
        << window << QStringList{"src/a.jpg", "./src/../src/a.jpg"} << false << "src"
        << QStringList{"a.jpg"} << none << none;
    QTest::newRow("window/through a linked folder")
        << window << QStringList{"link/a.jpg", "link"} << false << "src" << QStringList{"a.jpg"}
        << "src" << none;

    QTest::newRow("problem/missing")
        << window << QStringList{"src/none.jpg"} << false << none << QStringList{} << none
        << GivenPathMessages::cannotOpen("src/none.jpg", systemErrorText(ENOENT));
    QTest::newRow("problem/missing folder on the way")
        << window << QStringList{"nowhere/a.jpg"} << false << none << QStringList{} << none
        << GivenPathMessages::cannotOpen("nowhere/a.jpg", systemErrorText(ENOENT));
    QTest::newRow("problem/unreadable file")
        << window << QStringList{"src/a.jpg"} << true << none << QStringList{} << none
        << GivenPathMessages::cannotOpen("src/a.jpg", "Permission denied");
    QTest::newRow("problem/file named as a folder")
        << window << QStringList{"src/a.jpg/"} << false << none << QStringList{} << none
        << GivenPathMessages::cannotOpen("src/a.jpg/", systemErrorText(ENOTDIR));
    QTest::newRow("problem/hidden file")
        << window << QStringList{"src/.hidden.jpg"} << false << none << QStringList{} << none
        << GivenPathMessages::hidden("src/.hidden.jpg");
    QTest::newRow("problem/pipe") << window << QStringList{"fifo"} << false << none << QStringList{}
                                  << none << GivenPathMessages::neitherFileNorFolder("fifo");
    QTest::newRow("problem/files of two folders")
        << window << QStringList{"src/a.jpg", "other/c.jpg"} << false << none << QStringList{}
        << none << GivenPathMessages::severalFolders("<root>/src", "<root>/other");
    QTest::newRow("problem/three folders")
        << window << QStringList{"src", "dst", "other"} << false << none << QStringList{} << none
        << GivenPathMessages::arrangement(window);
    QTest::newRow("problem/a file after a folder")
        << window << QStringList{"dst", "src/a.jpg"} << false << none << QStringList{} << none
        << GivenPathMessages::arrangement(window);
    QTest::newRow("problem/files and two folders")
        << window << QStringList{"src/a.jpg", "dst", "other"} << false << none << QStringList{}
        << none << GivenPathMessages::arrangement(window);

    QTest::newRow("source pane/files") << PathsFor::SourcePane << QStringList{"src/a.jpg"} << false
                                       << "src" << QStringList{"a.jpg"} << none << none;
    QTest::newRow("source pane/folder") << PathsFor::SourcePane << QStringList{"other"} << false
                                        << "other" << QStringList{} << none << none;
    QTest::newRow("source pane/two folders")
        << PathsFor::SourcePane << QStringList{"src", "dst"} << false << none << QStringList{}
        << none << GivenPathMessages::arrangement(PathsFor::SourcePane);
    QTest::newRow("source pane/files and a folder")
        << PathsFor::SourcePane << QStringList{"src/a.jpg", "dst"} << false << none << QStringList{}
        << none << GivenPathMessages::arrangement(PathsFor::SourcePane);
    QTest::newRow("target pane/folder") << PathsFor::TargetPane << QStringList{"dst"} << false
                                        << none << QStringList{} << "dst" << none;
    QTest::newRow("target pane/files")
        << PathsFor::TargetPane << QStringList{"src/a.jpg"} << false << none << QStringList{}
        << none << GivenPathMessages::arrangement(PathsFor::TargetPane);
}

void GivenPathsTest::pathsToOpen()
{
    QFETCH(PathsFor, use);
    QFETCH(QStringList, paths);
    QFETCH(bool, failReads);
    QFETCH(QString, source);
    QFETCH(QStringList, files);
    QFETCH(QString, target);
    QFETCH(QString, problem);
    const QString root = m_root.path();
    for (QString &path : paths)
        path.replace("<root>", root);
    problem.replace("<root>", root);
    const auto absolute = [&](const QString &relative) {
        return relative.isEmpty() ? QString() : root + '/' + relative;
    };

    FaultyFileOperations operations;
    operations.reason = "Permission denied";
    if (failReads)
        operations.failWhen = [](FaultyFileOperations::Op op, const QString &) {
            return op == FaultyFileOperations::Op::Read;
        };
    const PathsToOpen open = ::pathsToOpen(operations, paths, use);
    QCOMPARE(open.problem, problem);
    QCOMPARE(open.sourceFolder, absolute(source));
    QCOMPARE(open.sourceFiles, files);
    QCOMPARE(open.targetFolder, absolute(target));
}

void GivenPathsTest::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<ProgramOptions::Request>("request");
    QTest::addColumn<QString>("detail"); // the paths, the command, or part of the error

    using R = ProgramOptions::Request;
    QTest::newRow("window/paths") << QStringList{"-platform", "xcb", "a", "-reverse", "b"}
                                  << R::Window << "a|b";
    QTest::newRow("window/a path after --")
        << QStringList{"--", "--rename"} << R::Window << "--rename";
    QTest::newRow("window/unknown option")
        << QStringList{"--frobnicate"} << R::UnknownOption << "'frobnicate'";
    QTest::newRow("window/a batch option")
        << QStringList{"--move", "a"} << R::UsageError << "--move は --rename と一緒に使います。";
    QTest::newRow("rename/defaults") << QStringList{"--rename", "--base", "p", "--to", "t", "x"}
                                     << R::Rename << "p|1|4|jpg|name|-|t|x";
    QTest::newRow("rename/everything")
        << QStringList{"--rename",  "--base=写真", "--start", "007",
                       "--digits",  "15",          "--ext",   "",
                       "--move",    "--overwrite", "--order", "given",
                       "--dry-run", "--to",        "t",       "x",
                       "y"}
        << R::Rename << "写真|007|15||given|mod|t|x,y";
    QTest::newRow("rename/no base")
        << QStringList{"--rename", "--to", "t", "x"} << R::UsageError << "--base";
    QTest::newRow("rename/no target")
        << QStringList{"--rename", "--base", "p", "x"} << R::UsageError << "--to";
    QTest::newRow("rename/no files")
        << QStringList{"--rename", "--base", "p", "--to", "t"} << R::UsageError << "ファイルを指定";
    QTest::newRow("rename/digits beyond the list")
        << QStringList{"--rename", "--base", "p", "--digits", "16", "--to", "t", "x"}
        << R::UsageError << "--digits";
    QTest::newRow("rename/digits with a zero")
        << QStringList{"--rename", "--base", "p", "--digits", "04", "--to", "t", "x"}
        << R::UsageError << "--digits";
    QTest::newRow("rename/unknown order")
        << QStringList{"--rename", "--base", "p", "--order", "size", "--to", "t", "x"}
        << R::UsageError << "--order";
    QTest::newRow("rename/unknown option")
        << QStringList{"--rename", "--bse", "p", "--to", "t", "x"} << R::UsageError << "'bse'";
    QTest::newRow("rename/a value missing")
        << QStringList{"--rename", "--to", "t", "--base"} << R::UsageError << "base";
    QTest::newRow("rename/with undo")
        << QStringList{"--rename", "--undo", "--base", "p", "--to", "t", "x"} << R::UsageError
        << "--undo";
    // Qt's window options take a value: in a batch they would take a file.
    QTest::newRow("rename/a window option")
        << QStringList{"--rename", "--base", "p", "--to", "t", "--name", "x", "y"} << R::UsageError
        << "--name はウィンドウを開くときのオプションです。";
    QTest::newRow("undo/asking") << QStringList{"--undo"} << R::Undo << "ask";
    QTest::newRow("undo/yes") << QStringList{"--undo", "--yes"} << R::Undo << "yes";
    QTest::newRow("undo/with files")
        << QStringList{"--undo", "x"} << R::UsageError << "ファイルを指定しません";
    QTest::newRow("undo/a window option")
        << QStringList{"--undo", "-reverse"} << R::UsageError << "--reverse";
    QTest::newRow("undo/with a rename option")
        << QStringList{"--undo", "--to", "t"} << R::UsageError << "--to";
    QTest::newRow("yes without undo") << QStringList{"--yes"} << R::UsageError << "--yes";
    QTest::newRow("help") << QStringList{"--rename", "--help"} << R::Help << "";
    QTest::newRow("help/all") << QStringList{"--help-all"} << R::Help << "";
    QTest::newRow("version") << QStringList{"-v"} << R::Version << "";
}

void GivenPathsTest::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(ProgramOptions::Request, request);
    QFETCH(QString, detail);
    ProgramOptions options;
    QCOMPARE(options.parse(QStringList{"kaenami"} + arguments), request);
    switch (request) {
    case ProgramOptions::Request::Window:
        QCOMPARE(options.paths().join('|'), detail);
        break;
    case ProgramOptions::Request::Rename: {
        const RenameCommand &command = options.renameCommand();
        const QStringList orders{"name", "taken", "modified", "given"};
        const QString described =
            QStringList{command.baseName,
                        command.startNumberText,
                        command.digitCountText,
                        command.extension,
                        orders[int(command.order)],
                        QString(command.move && command.overwrite && command.dryRun ? "mod" : "-"),
                        command.target,
                        command.files.join(',')}
                .join('|');
        QCOMPARE(described, detail);
        break;
    }
    case ProgramOptions::Request::Undo:
        QCOMPARE(options.yes() ? "yes" : "ask", detail);
        break;
    case ProgramOptions::Request::UnknownOption:
    case ProgramOptions::Request::UsageError:
        QVERIFY2(options.error().contains(detail), qPrintable(options.error()));
        break;
    case ProgramOptions::Request::Help:
    case ProgramOptions::Request::Version:
        break;
    }
}

QTEST_GUILESS_MAIN(GivenPathsTest)
#include "tst_givenpaths.moc"
