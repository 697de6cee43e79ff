#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

/// Runs the built program as a user would on a terminal: no display, no platform chosen.
class CommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersWithoutADisplay_data();
    void answersWithoutADisplay();
    void unknownOptionIsRefused_data();
    void unknownOptionIsRefused();
};

void CommandLineTest::answersWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const QString version = QStringLiteral(KAENAMI_VERSION);
    QTest::newRow("version/long") << QStringList{"--version"} << version;
    QTest::newRow("version/short") << QStringList{"-v"} << version;
    QTest::newRow("version/after a window-system option")
        << QStringList{"-platform", "xcb", "--version"} << version;
    QTest::newRow("version/after the X11 -icon option")
        << QStringList{"-icon", "x.png", "--version"} << version;
    QTest::newRow("help/long") << QStringList{"--help"} << "--version";
    QTest::newRow("help/short") << QStringList{"-h"} << "--version";
    QTest::newRow("help/all") << QStringList{"--help-all"} << "--version";
    QTest::newRow("help/the batches")
        << QStringList{"--help"} << "kaenami --rename --base NAME [--start N] [--digits D]";
}

void CommandLineTest::answersWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QTemporaryDir home;
    QVERIFY(home.isValid());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(KAENAMI_PROGRAM), arguments);
    QVERIFY2(program.waitForFinished(20000), "the program answers and ends");
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == 0, qPrintable(err));
    QVERIFY2(out.contains(expected), qPrintable(out));
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY2(QDir(home.path()).isEmpty(), "answering touches no file");
}

void CommandLineTest::unknownOptionIsRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display");
    QTest::addColumn<QString>("unknown");
    QTest::newRow("offscreen") << QStringList{"--no-such-option"} << true << "no-such-option";
    QTest::newRow("no display") << QStringList{"--no-such-option"} << false << "no-such-option";
    // Window-system options are words, not letters: -reverse holds no -v, -stylesheet no -h.
    QTest::newRow("after -reverse")
        << QStringList{"-reverse", "--no-such-option"} << false << "no-such-option";
    QTest::newRow("after -visual")
        << QStringList{"-visual", "x", "--no-such-option"} << false << "no-such-option";
    QTest::newRow("after -stylesheet")
        << QStringList{"-stylesheet", "x.qss", "--no-such-option"} << false << "no-such-option";
    QTest::newRow("after -platformtheme")
        << QStringList{"-platformtheme", "gtk3", "--no-such-option"} << false << "no-such-option";
    // Options of older Qt versions that Qt 6 leaves alone are unknown here too.
    QTest::newRow("old -fn") << QStringList{"-fn", "fixed"} << false << "fn";
    QTest::newRow("old -sync") << QStringList{"-sync"} << false << "sync";
}

void CommandLineTest::unknownOptionIsRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(QString, unknown);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (display)
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path() + "/config");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(KAENAMI_PROGRAM), arguments);
    QVERIFY2(program.waitForFinished(20000), "the program refuses and ends");
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == 1, qPrintable(out + err));
    QVERIFY2(err.contains("'" + unknown + "'"), qPrintable(err));
    QVERIFY2(out.isEmpty(), qPrintable(out));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
