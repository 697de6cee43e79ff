#include "desktopsetup.h"
#include "qtmessageboxes.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <functional>

/// How the program shows itself to the desktop: Qt's own texts in Japanese, and a window class
/// the desktop entry names.
class DesktopSetupTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void messageBoxButtonsAreJapanese_data();
    void messageBoxButtonsAreJapanese();
    void textBoxMenuIsJapanese();
    void windowClassIsTheDesktopEntrysAndAscii();
};

namespace {

/// A button's caption without its access key: "はい(&Y)" reads はい, "&OK" reads OK.
QString caption(const QAbstractButton *button)
{
    QString text = button->text();
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)$")));
    return text.remove(QLatin1Char('&'));
}

/// The captions of the buttons of the message box that `show` opens, left to right; the box is
/// closed again (Escape).
QStringList captionsOfTheBoxShownBy(const std::function<void()> &show)
{
    QStringList captions;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        QList<QAbstractButton *> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(),
                  [](QAbstractButton *a, QAbstractButton *b) { return a->x() < b->x(); });
        for (const QAbstractButton *button : buttons)
            captions.append(caption(button));
        box->reject();
    });
    poll.start(10);
    show();
    return captions;
}

} // namespace

void DesktopSetupTest::initTestCase()
{
    QVERIFY2(DesktopSetup::loadQtTranslations(), "Qt's Japanese translations are installed");
    QVERIFY(DesktopSetup::loadQtTranslations()); // once is enough; again does no harm
}

void DesktopSetupTest::messageBoxButtonsAreJapanese_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("drive prompt") << "retry" << QStringList{"再試行", "キャンセル"};
    QTest::newRow("undo question") << "yes/no" << QStringList{"はい", "いいえ"};
    QTest::newRow("message") << "inform" << QStringList{"OK"};
}

void DesktopSetupTest::messageBoxButtonsAreJapanese()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, captions);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QtMessageBoxes messages(&window);
    bool answer = true;
    const QStringList shown = captionsOfTheBoxShownBy([&] {
        if (kind == "retry")
            answer = messages.retryOrCancel("No medium found");
        else if (kind == "yes/no")
            answer = messages.askYesNo("直前のリネームを元に戻しますか？");
        else
            messages.inform("リネームが完了しました。");
    });
    QCOMPARE(shown, captions);
    QVERIFY(kind == "inform" || !answer); // closing answers Cancel or No
}

void DesktopSetupTest::textBoxMenuIsJapanese()
{
    QLineEdit box;
    box.setText("photo");
    std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    QStringList texts;
    for (const QAction *action : menu->actions()) {
        if (!action->isSeparator())
            texts.append(action->text().section(QLatin1Char('\t'), 0, 0)); // less Ctrl+Z
    }
    QVERIFY2(!texts.isEmpty(), "the menu has entries");
    // Not one English word: Undo, Redo, Cut, Copy, Paste, Delete, Select All.
    for (const QString &text : texts)
        QVERIFY2(!text.contains(QRegularExpression("[a-z]{2}")), qPrintable(texts.join(", ")));
    QVERIFY2(texts.first().startsWith("元に戻す"), qPrintable(texts.join(", ")));
}

void DesktopSetupTest::windowClassIsTheDesktopEntrysAndAscii()
{
    DesktopSetup::nameApplication();
    // Qt's X11 plugin writes the application name as WM_CLASS's class, byte for byte.
    const QString windowClass = QCoreApplication::applicationName();
    QCOMPARE(windowClass, QString("kaenami"));
    QCOMPARE(windowClass.toLatin1(), windowClass.toUtf8());

    QFile entry(QStringLiteral(KAENAMI_SOURCE_DIR "/packaging/kaenami.desktop.in"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    const QRegularExpressionMatch startupClass =
        QRegularExpression("^StartupWMClass=(.*)$", QRegularExpression::MultilineOption)
            .match(text);
    QVERIFY(startupClass.hasMatch());
    QCOMPARE(windowClass, startupClass.captured(1).trimmed());

    QCOMPARE(QGuiApplication::desktopFileName(), QString(KAENAMI_APP_ID));
    QCOMPARE(QCoreApplication::applicationVersion(), QString(KAENAMI_VERSION));
    // What people read stays Japanese: no display name that Qt would append to titles.
    QWidget help;
    help.setWindowTitle("カエナミヘルプ");
    help.show();
    QVERIFY(QTest::qWaitForWindowExposed(&help));
    QCOMPARE(help.windowHandle()->title(), QString("カエナミヘルプ"));
}

QTEST_MAIN(DesktopSetupTest)
#include "tst_desktopsetup.moc"
