#include "childprocess.h"
#include "doubles.h"
#include "filenames.h"
#include "form2.h"
#include "frmabout.h"
#include "helptext.h"
#include "helpwindows.h"
#include "qtmessageboxes.h"
#include "regularfile.h"
#include "sysinfo.h"
#include "testfiles.h"
#include "textfit.h"

#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

/// A registry of scripted values; it counts opens and closes.
class FakeRegistry final : public Registry
{
public:
    struct Value
    {
        quint32 type;
        QByteArray data;
    };
    QMap<QByteArray, QMap<QByteArray, Value>> keys;
    QList<QByteArray> opened;
    int open_count = 0;
    int close_count = 0;

    long open(quint32 root, const QByteArray &keyName, quint32 options, quint32 access,
              Key &key) override
    {
        opened.append(keyName);
        if (root != localMachine || options != 0 || access != 0x2003F || !keys.contains(keyName))
            return fileNotFound;
        ++open_count;
        key = Key(std::distance(keys.begin(), keys.find(keyName)) + 1);
        return success;
    }
    long query(Key key, const QByteArray &valueName, quint32 &type, QByteArray &buffer,
               quint32 &size) override
    {
        const auto &values = std::next(keys.begin(), qsizetype(key) - 1).value();
        if (!values.contains(valueName))
            return fileNotFound;
        const Value &value = values.value(valueName);
        if (quint32(value.data.size()) > size)
            return moreData;
        if (buffer.size() != 1024 || buffer.count('\0') != 1024)
            return 87; // the caller must hand in 1024 zero bytes
        buffer.replace(0, value.data.size(), value.data);
        size = quint32(value.data.size());
        type = value.type;
        return success;
    }
    long close(Key) override
    {
        ++close_count;
        return success;
    }
};

class RecordingLauncher final : public Launcher
{
public:
    bool startDetached(const QString &program) override
    {
        started.append(program);
        return !program.isEmpty() && startable;
    }
    QStringList started;
    bool startable = true;
};

/// The outside world of the About window, as doubles.
struct Outside
{
    FakeRegistry registry;
    RecordingLauncher launcher;
    RecordingMessageBoxes messages;
    PosixFileOperations files;
};

const QByteArray msinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray locationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

} // namespace

class HelpTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setApplicationVersion(QStringLiteral(KAENAMI_VERSION)); }
    void helpText_data();
    void helpText();
    void missingReadmeIsNamed();
    void readmeThatIsAPipeIsNotWaitedFor();
    void longReadmeIsCutShort_data();
    void longReadmeIsCutShort();
    void getKeyValue_data();
    void getKeyValue();
    void startSysInfo_data();
    void startSysInfo();
    void desktopRegistryFindsATool();
    void helpWindowLayoutAndText();
    void helpWindowIsOneInstanceReadOnce();
    void aboutWindowTexts();
    void aboutTextsStayReadableOnADarkDesktop_data();
    void aboutTextsStayReadableOnADarkDesktop();
    void aboutWindowKeys();
    void aboutWindowIsOneInstance();
    void windowsTellScreenReadersWhatTheyAre_data();
    void windowsTellScreenReadersWhatTheyAre();
    void aboutIconIsATabStopBetweenTheButtons();
    void readmeReadsWithoutScrollingSideways_data();
    void readmeReadsWithoutScrollingSideways();
    void everyCaptionFitsItsControl_data();
    void everyCaptionFitsItsControl();
    void aMessageIsCentredOverTheWindowThatCausedIt();

private:
    QString writeReadme(const QTemporaryDir &dir, const QByteArray &content)
    {
        TestFiles::write(dir.filePath("Readme.txt"), content);
        return dir.path();
    }
};

void HelpTest::helpText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("lines/with final CR LF") << QByteArray("x\r\ny\r\nz\r\n") << "x\r\ny\r\nz\r\n";
    QTest::newRow("lines/without final CR LF") << QByteArray("x\r\ny\r\nz") << "x\r\ny\r\nz\r\n";
    QTest::newRow("lines/empty file") << QByteArray() << "";
    QTest::newRow("lines/empty line") << QByteArray("a\r\n\r\nb") << "a\r\n\r\nb\r\n";
    QTest::newRow("ends/lone LF stays") << QByteArray("a\nb\nc\n") << "a\nb\nc\n\r\n";
    QTest::newRow("ends/lone CR ends a line") << QByteArray("a\rb") << "a\r\nb\r\n";
    QTest::newRow("ends/CR at the end") << QByteArray("a\r") << "a\r\n";
    QTest::newRow("text/japanese") << QByteArray("カエナミ\r\n") << "カエナミ\r\n";
}

void HelpTest::helpText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(HelpText::fromBytes(bytes), text);
}

void HelpTest::missingReadmeIsNamed()
{
    QTemporaryDir dir;
    PosixFileOperations files;
    const QString text = HelpText::load(files, dir.path());
    QVERIFY2(text.contains(dir.filePath("Readme.txt")), qPrintable(text));
    QVERIFY(text.contains("読み込めませんでした"));
}

void HelpTest::readmeThatIsAPipeIsNotWaitedFor()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString readme = dir.filePath("Readme.txt");
    QVERIFY(::mkfifo(FileNames::encode(readme).constData(), 0644) == 0);
    PosixFileOperations files;
    // Opened plainly, a pipe without a writer waits for one for ever.
    QVERIFY2(endsWithin(5000,
                        [&] {
                            Form2 form(files, dir.path());
                            form.Form_Load();
                        }),
             "reading a Readme.txt that is a pipe did not return");

    Form2 form(files, dir.path());
    form.Form_Load();
    QCOMPARE(form.helpText(), QString("ヘルプファイル %1 を読み込めませんでした。\r\n%2\r\n")
                                  .arg(readme, notARegularFileText()));
    QVERIFY2(form.Text1->toPlainText().contains(notARegularFileText()),
             qPrintable(form.Text1->toPlainText()));
}

void HelpTest::longReadmeIsCutShort_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("cut");
    QTest::newRow("fits/short") << qint64(1000) << false;
    QTest::newRow("fits/exactly the limit") << HelpText::maxBytes << false;
    QTest::newRow("cut/one byte over") << HelpText::maxBytes + 1 << true;
    QTest::newRow("cut/200 MB") << qint64(200) * 1000 * 1000 << true;
}

void HelpTest::longReadmeIsCutShort()
{
    QFETCH(qint64, size);
    QFETCH(bool, cut);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // One line, then a hole of zeros (no disk) without a line end.
    const QString readme = writeReadme(dir, "first\r\n") + "/Readme.txt";
    QVERIFY(::truncate(FileNames::encode(readme).constData(), off_t(size)) == 0);
    FaultyFileOperations files;
    const QString text = HelpText::load(files, dir.path());
    QCOMPARE(files.calls.size(), 1);
    if (!cut) {
        QCOMPARE(text.size(), size + 2);
        QVERIFY(text.startsWith("first\r\n"));
        QVERIFY(!text.contains(HelpText::cutShortNote()));
        return;
    }
    // Whole lines up to the limit, then the note.
    QCOMPARE(text, "first\r\n" + HelpText::cutShortNote());
    Form2 form(files, dir.path());
    form.Form_Load();
    QCOMPARE(form.Text1->toPlainText(), "first\n" + HelpText::cutShortNote().replace("\r\n", "\n"));
}

void HelpTest::getKeyValue_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");
    QTest::newRow("text with NUL")
        << 1u << QByteArray("/usr/bin/tool\0", 14) << true << "/usr/bin/tool";
    QTest::newRow("text without NUL")
        << 1u << QByteArray("/usr/bin/tool") << true << "/usr/bin/tool";
    QTest::newRow("number") << 4u << QByteArray("\x2a\x01\x00\x00", 4) << true << "298";
    QTest::newRow("other type keeps the value")
        << 3u << QByteArray("\x01\x02", 2) << true << "before";
    QTest::newRow("exactly 1024 bytes")
        << 1u << QByteArray(1024, 'a') << true << QString(1024, 'a');
    QTest::newRow("over 1024 bytes") << 1u << QByteArray(1025, 'a') << false << "";
}

void HelpTest::getKeyValue()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(bool, found);
    QFETCH(QString, value);
    FakeRegistry registry;
    registry.keys[msinfoKey]["PATH"] = {type, data};
    QString keyVal = "before";
    QCOMPARE(SysInfo::GetKeyValue(registry, Registry::localMachine, msinfoKey, "PATH", keyVal),
             found);
    QCOMPARE(keyVal, value);
    QCOMPARE(registry.close_count, registry.open_count);

    keyVal = "before";
    QVERIFY(!SysInfo::GetKeyValue(registry, Registry::localMachine, "missing", "PATH", keyVal));
    QVERIFY(keyVal.isEmpty());
    QVERIFY(!SysInfo::GetKeyValue(registry, Registry::localMachine, msinfoKey, "NONE", keyVal));
    QCOMPARE(registry.close_count, registry.open_count);
}

void HelpTest::startSysInfo_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("started"); // "<folder>" stands for the tool folder
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("secondLookup");
    QTest::newRow("PATH found") << "path"
                                << "/opt/tool/sysinfo" << false << false;
    QTest::newRow("PATH not startable") << "path unstartable"
                                        << "/opt/tool/sysinfo" << true << false;
    QTest::newRow("PATH of another type") << "path binary"
                                          << "" << true << false;
    QTest::newRow("folder with the tool") << "folder with tool"
                                          << "<folder>/MSINFO32.EXE" << false << true;
    QTest::newRow("folder without the tool") << "folder"
                                             << "-" << true << true;
    QTest::newRow("neither") << ""
                             << "-" << true << true;
}

void HelpTest::startSysInfo()
{
    QFETCH(QString, setup);
    QFETCH(QString, started);
    QFETCH(bool, message);
    QFETCH(bool, secondLookup);
    QTemporaryDir dir;
    FakeRegistry registry;
    RecordingLauncher launcher;
    RecordingMessageBoxes messages;
    PosixFileOperations files;
    if (setup.startsWith("path"))
        registry.keys[msinfoKey]["PATH"] = {setup.contains("binary") ? 3u : 1u,
                                            QByteArray("/opt/tool/sysinfo\0", 18)};
    if (setup.contains("unstartable"))
        launcher.startable = false;
    if (setup.startsWith("folder"))
        registry.keys[locationKey]["MSINFO"] = {1u, dir.path().toUtf8() + '\0'};
    if (setup.contains("with tool"))
        QVERIFY(TestFiles::write(dir.filePath("MSINFO32.EXE"), ""));

    SysInfo::StartSysInfo(registry, files, launcher, messages);
    started.replace("<folder>", dir.path());
    QCOMPARE(launcher.started, started == "-" ? QStringList{} : QStringList{started});
    QCOMPARE(messages.informed,
             message ? QStringList{"現時点ではｼｽﾃﾑ情報を使用できません"} : QStringList{});
    QCOMPARE(registry.opened.contains(locationKey), secondLookup);
}

void HelpTest::desktopRegistryFindsATool()
{
    QTemporaryDir dir;
    for (const char *tool : {"gnome-system-monitor", "kinfocenter"}) {
        QVERIFY(TestFiles::write(dir.filePath(tool), "#!/bin/sh\n"));
        QFile::setPermissions(dir.filePath(tool), QFile::ReadOwner | QFile::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toLocal8Bit());
    DesktopRegistry registry;
    QString value;
    const bool found =
        SysInfo::GetKeyValue(registry, Registry::localMachine, msinfoKey, "PATH", value);
    QString other = "x";
    const bool otherFound =
        SysInfo::GetKeyValue(registry, Registry::localMachine, locationKey, "MSINFO", other);
    qputenv("PATH", path);
    QVERIFY(found);
    QCOMPARE(value, dir.filePath("kinfocenter"));
    QVERIFY(!otherFound);
}

void HelpTest::helpWindowLayoutAndText()
{
    QTemporaryDir dir;
    PosixFileOperations files;
    Form2 form(files, writeReadme(dir, "first\r\nsecond\r\n"));
    form.Form_Load();
    QCOMPARE(form.windowTitle(), QString("カエナミヘルプ"));
    QCOMPARE(form.size(), QSize(538, 468));
    QCOMPARE(form.Text1->geometry(), QRect(0, 0, 537, 433));
    QCOMPARE(form.Command1->text(), QString("プログラムへ戻る"));
    QCOMPARE(form.helpText(), QString("first\r\nsecond\r\n"));
    QCOMPARE(form.Text1->toPlainText(), QString("first\nsecond\n"));
    QVERIFY(!form.Text1->isReadOnly());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
}

void HelpTest::helpWindowIsOneInstanceReadOnce()
{
    QTemporaryDir dir;
    FaultyFileOperations files;
    FakeRegistry registry;
    RecordingLauncher launcher;
    RecordingMessageBoxes messages;
    HelpWindows windows(files, registry, launcher, messages, writeReadme(dir, "one\r\n"));
    windows.mnuH_Click();
    QPointer<Form2> first = windows.help();
    QVERIFY(first && first->isVisible());
    first->Text1->setPlainText("typed by the user");
    windows.mnuH_Click();
    QCOMPARE(windows.help(), first.data());
    QCOMPARE(first->Text1->toPlainText(), QString("typed by the user"));
    QCOMPARE(files.calls.size(), 1);

    writeReadme(dir, "two\r\n");
    QTest::mouseClick(first->Command1, Qt::LeftButton);
    QTRY_VERIFY(!first);
    windows.mnuH_Click();
    QVERIFY(windows.help());
    QCOMPARE(windows.help()->Text1->toPlainText(), QString("two\n"));
    QCOMPARE(files.calls.size(), 2);
    QCOMPARE(TestFiles::read(dir.filePath("Readme.txt")), QByteArray("two\r\n"));
}

void HelpTest::aboutWindowTexts()
{
    Outside o;
    frmAbout about(o.registry, o.files, o.launcher, o.messages);
    about.Form_Load();
    QCOMPARE(about.windowTitle(), QString("カエナミのﾊﾞｰｼﾞｮﾝ情報"));
    QCOMPARE(about.lblTitle->text(), QString("カエナミ"));
    QCOMPARE(about.lblVersion->text(), QString("ﾊﾞｰｼﾞｮﾝ 1.1.6"));
    QCOMPARE(about.lblDescription->text(), QString("リネーム専用ソフト"));
    QCOMPARE(about.lblDisclaimer->text(), QString("警告: ..."));
    QCOMPARE(about.cmdSysInfo->text(), QString("ｼｽﾃﾑ情報(&S)..."));
    QCOMPARE(about.size(), QSize(323, 157));
    QCOMPARE(about.lblTitle->font().pointSizeF(), 15.75);
    QVERIFY(about.lblTitle->font().bold());
    QCOMPARE(about.lblTitle->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(about.cmdOK->isDefault());
}

void HelpTest::aboutTextsStayReadableOnADarkDesktop_data()
{
    QTest::addColumn<QString>("label");
    for (const char *label : {"lblTitle", "lblVersion", "lblDescription", "lblDisclaimer"})
        QTest::newRow(label) << label;
}

void HelpTest::aboutTextsStayReadableOnADarkDesktop()
{
    QFETCH(QString, label);
    const QPalette before = QApplication::palette();
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    QApplication::setPalette(dark);
    const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });

    Outside o;
    frmAbout about(o.registry, o.files, o.launcher, o.messages);
    about.Form_Load();
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QMap<QString, QLabel *> labels{{"lblTitle", about.lblTitle},
                                         {"lblVersion", about.lblVersion},
                                         {"lblDescription", about.lblDescription},
                                         {"lblDisclaimer", about.lblDisclaimer}};
    const QLabel *shown = labels.value(label);
    const QColor text = shown->palette().color(shown->foregroundRole());
    // The background actually painted behind the label: the commonest colour of its area.
    const QImage painted = about.grab(shown->geometry()).toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < painted.height(); ++y) {
        for (int x = 0; x < painted.width(); ++x)
            ++counts[painted.pixel(x, y)];
    }
    QVERIFY(!counts.isEmpty());
    const QColor background(std::max_element(counts.begin(), counts.end()).key());
    // WCAG 2 contrast ratio of relative luminances.
    const auto luminance = [](QColor c) {
        const auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double lighter = std::max(luminance(text), luminance(background));
    const double darker = std::min(luminance(text), luminance(background));
    const double ratio = (lighter + 0.05) / (darker + 0.05);
    QVERIFY2(
        ratio >= 4.5,
        qPrintable(
            QString("%1 on %2: %3:1").arg(text.name(), background.name()).arg(ratio, 0, 'f', 2)));
}

void HelpTest::aboutWindowKeys()
{
    Outside o;
    HelpWindows windows(o.files, o.registry, o.launcher, o.messages, QString());

    windows.mnuVa_Click();
    QPointer<frmAbout> about = windows.about();
    QVERIFY(QTest::qWaitForWindowActive(about));
    QTest::keyClick(about, Qt::Key_Escape);
    QTRY_VERIFY(!about);

    windows.mnuVa_Click();
    about = windows.about();
    QVERIFY(QTest::qWaitForWindowActive(about));
    about->cmdOK->setFocus();
    QTest::keyClick(about->cmdOK, Qt::Key_Return);
    QTRY_VERIFY(!about);

    windows.mnuVa_Click();
    about = windows.about();
    QVERIFY(QTest::qWaitForWindowActive(about));
    QTest::keyClick(about, Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(o.messages.informed, QStringList{"現時点ではｼｽﾃﾑ情報を使用できません"});
    QVERIFY(about); // stays open

    about->cmdSysInfo->setFocus();
    QTest::keyClick(about->cmdSysInfo, Qt::Key_Return);
    QTRY_COMPARE(o.messages.informed.size(), 2); // Enter on the focused button presses it
    QVERIFY(about);
}

void HelpTest::aboutWindowIsOneInstance()
{
    Outside o;
    HelpWindows windows(o.files, o.registry, o.launcher, o.messages, QString());
    windows.mnuVa_Click();
    frmAbout *first = windows.about();
    windows.mnuVa_Click();
    QCOMPARE(windows.about(), first);
    const QWidgetList windowsOpen = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windowsOpen.begin(), windowsOpen.end(),
                           [](QWidget *w) { return qobject_cast<frmAbout *>(w) != nullptr; }),
             1);
}

void HelpTest::windowsTellScreenReadersWhatTheyAre_data()
{
    QTest::addColumn<bool>("about");
    QTest::addColumn<QString>("name");
    QTest::newRow("help") << false << "カエナミヘルプ";
    QTest::newRow("about") << true << "カエナミのﾊﾞｰｼﾞｮﾝ情報";
}

void HelpTest::windowsTellScreenReadersWhatTheyAre()
{
    QFETCH(bool, about);
    QFETCH(QString, name);
    Outside o;
    HelpWindows windows(o.files, o.registry, o.launcher, o.messages, QString());
    about ? windows.mnuVa_Click() : windows.mnuH_Click();
    QWidget *window = about ? static_cast<QWidget *>(windows.about()) : windows.help();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(window);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Dialog);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    // Whatever takes the focus says what it is.
    for (int i = 0; i < accessible->childCount(); ++i) {
        QAccessibleInterface *child = accessible->child(i);
        if (child->state().focusable)
            QVERIFY2(!child->text(QAccessible::Name).isEmpty(),
                     child->object()->metaObject()->className());
    }
    window->close();
}

void HelpTest::readmeReadsWithoutScrollingSideways_data()
{
    TextFit::addFontRows();
}

void HelpTest::readmeReadsWithoutScrollingSideways()
{
    QFETCH(QString, family);
    const TextFit::ProgramFont font(family);
    PosixFileOperations files;
    Form2 form(files, QStringLiteral(KAENAMI_RESOURCES));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int sideways = form.Text1->horizontalScrollBar()->maximum();
    QVERIFY2(form.helpText().size() > 1000, "the program's own help text is shown");
    QCOMPARE(sideways, 0);
    // Columns lined up with spaces come out ragged in a proportional font.
    const QStringList lines = form.helpText().split("\r\n");
    for (const QString &line : lines) {
        QVERIFY2(!line.contains("  ") && !line.contains('\t') && !line.startsWith(' '),
                 qPrintable(line));
    }
}

void HelpTest::everyCaptionFitsItsControl_data()
{
    readmeReadsWithoutScrollingSideways_data();
}

void HelpTest::everyCaptionFitsItsControl()
{
    QFETCH(QString, family);
    const TextFit::ProgramFont font(family);
    Outside o;
    frmAbout about(o.registry, o.files, o.launcher, o.messages);
    about.Form_Load();
    about.show();
    Form2 help(o.files, QStringLiteral(KAENAMI_RESOURCES));
    help.Form_Load();
    help.show();
    QVERIFY(QTest::qWaitForWindowExposed(&help));
    const QStringList clipped = TextFit::clipped(&about) + TextFit::clipped(&help);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
}

void HelpTest::aboutIconIsATabStopBetweenTheButtons()
{
    Outside o;
    frmAbout about(o.registry, o.files, o.launcher, o.messages);
    about.Form_Load();
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(QApplication::focusWidget(), about.cmdOK);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about.picIcon);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about.cmdSysInfo);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), about.picIcon);
}

void HelpTest::aMessageIsCentredOverTheWindowThatCausedIt()
{
    Outside o;
    QWidget mainWindow;
    mainWindow.setGeometry(10, 10, 200, 150);
    mainWindow.show();
    QtMessageBoxes messages(&mainWindow);
    frmAbout about(o.registry, o.files, o.launcher, messages);
    about.Form_Load();
    about.move(420, 320);
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));

    QPointer<QWidget> boxParent;
    QRect boxFrame;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxParent = box->parentWidget();
        boxFrame = box->frameGeometry();
        box->accept();
    });
    poll.start(10);
    QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
    poll.stop();
    QCOMPARE(boxParent.data(), &about);
    const QPoint off = boxFrame.center() - about.frameGeometry().center();
    QVERIFY2(off.manhattanLength() <= 4, qPrintable(QString("%1,%2").arg(off.x()).arg(off.y())));
}

QTEST_MAIN(HelpTest)
#include "tst_help.moc"
