#include "form1fixture.h"
#include "helpwindows.h"
#include "imageview.h"
#include "textfit.h"

#include <QAccessible>
#include <QImage>

#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QThread>
#include <QTimer>

class Form1Test : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data();
    void layout();
    void tabOrderFollowsTheLayout();
    void everyControlHasAnAccessibleName_data();
    void everyControlHasAnAccessibleName();
    void firstStartWithoutFiles();
    void startWithAListFileOnly();
    void unusableListFileCountsAsMissing();
    void startWithBothFiles();
    void fallback_data();
    void fallback();
    void noDigitSelectionIsRestored();
    void wholeRenameFromTheWindow();
    void digitCheckStop();
    void sameNameStop();
    void aBatchStopsAfterTheFileItIsOn_data();
    void aBatchStopsAfterTheFileItIsOn();
    void driveRetryUntilReadable();
    void driveCancelReturnsToTheShownFolder_data();
    void driveCancelReturnsToTheShownFolder();
    void unreadableDriveAtFirstStart();
    void listFailureIsShownAndEmptiesTheList();
    void text1DropsTrailingLineBreaks_data();
    void text1DropsTrailingLineBreaks();
    void homeClearsText1_data();
    void homeClearsText1();
    void exitButtonSavesTheWindow();
    void exitButtonReportsAFailedSave();
    void closeBoxSavesNothing();
    void registerButton_data();
    void registerButton();
    void selectAllAndRefresh();
    void accessKeys();
    void helpMenu();
    void exitButtonClosesTheHelpWindows();
    void pickUpFillsTheEntries_data();
    void pickUpFillsTheEntries();
    void pickUpFollowsTheKeyboard();
    void pickedExtensionIsSavedWithTheList();
    void doubleClickPicksUpBeforeThePreview();
    void enterOnAFileShowsItAsADoubleClickDoes_data();
    void enterOnAFileShowsItAsADoubleClickDoes();
    void editMenuStandsBeforeHelp();
    void ctrlZUndoesTheLastBatches();
    void ctrlZRightAfterABatchUndoesIt_data();
    void ctrlZRightAfterABatchUndoesIt();
    void previewInTheWindow_data();
    void previewInTheWindow();
    void combo1TakesTheTextAsTyped_data();
    void combo1TakesTheTextAsTyped();
    void digitListCannotBeEmptiedByTheUser_data();
    void digitListCannotBeEmptiedByTheUser();
    void windowShrinksAndGrowsWithControlsInPlace();
    void eachPaneComesBackToItsOwnFolder_data();
    void eachPaneComesBackToItsOwnFolder();
    void everyCaptionFitsItsControl_data();
    void everyCaptionFitsItsControl();
    void aDriveWhoseRememberedFolderWentAwayOpensAbove();
};

namespace {
void clickEntry(FileList *list, int row, bool twice = false)
{
    const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
    // A double-click is a click, then the second press, then its release.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (twice) {
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }
}
} // namespace

void Form1Test::layout_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Drive1") << "Drive1" << QRect(120, 0, 2655, 300);
    QTest::newRow("Dir1") << "Dir1" << QRect(120, 360, 2655, 1770);
    QTest::newRow("File1") << "File1" << QRect(120, 2160, 2655, 3150);
    QTest::newRow("File2") << "File2" << QRect(2880, 2160, 2655, 1350);
    QTest::newRow("Command1") << "Command1" << QRect(3000, 3600, 1095, 495);
    QTest::newRow("Text2") << "Text2" << QRect(1080, 6120, 855, 270);
    QTest::newRow("List1") << "List1" << QRect(1200, 6480, 615, 240);
    QTest::newRow("Combo1") << "Combo1" << QRect(1920, 6120, 855, 300);
    QTest::newRow("Picture1") << "Picture1" << QRect(3000, 4560, 2520, 2175);
    QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(120, 6840, 5415, 135);
    QTest::newRow("Command5") << "Command5" << QRect(1080, 5400, 855, 375);
}

void Form1Test::layout()
{
    QFETCH(QString, control);
    QFETCH(QRect, twips);
    Form1Fixture f;
    f.start();
    const Form1Controls &ui = f.ui();
    const QMap<QString, QWidget *> controls{
        {"Drive1", ui.Drive1},     {"Dir1", ui.Dir1},
        {"File1", ui.File1},       {"File2", ui.File2},
        {"Command1", ui.Command1}, {"Text2", ui.Text2},
        {"List1", ui.List1},       {"Combo1", ui.Combo1},
        {"Picture1", ui.Picture1}, {"ProgressBar1", ui.ProgressBar1},
        {"Command5", ui.Command5}};
    const QRect got = controls.value(control)->geometry();
    QCOMPARE(got.x(), twips.x() / 15);
    QCOMPARE(got.y(), twips.y() / 15);
    QVERIFY2(qAbs(got.width() - twips.width() / 15) <= 1, qPrintable(QString::number(got.width())));
    QVERIFY2(qAbs(got.height() - twips.height() / 15) <= 1,
             qPrintable(QString::number(got.height())));
    QCOMPARE(f.form->centralWidget()->size(), QSize(377, 470));
    QCOMPARE(f.form->windowTitle(), QString("カエナミ"));
}

void Form1Test::tabOrderFollowsTheLayout()
{
    Form1Fixture f;
    f.start();
    const Form1Controls &ui = f.ui();
    QList<QWidget *> expected{ui.Drive1,   ui.Dir1,     ui.File1,  ui.Drive2,   ui.Dir2,
                              ui.File2,    ui.Command1, ui.Text1,  ui.Text2,    ui.List1,
                              ui.Combo1,   ui.Command2, ui.Check1, ui.Command3, ui.Check2,
                              ui.Command4, ui.Command5};
    for (int i = 1; i < expected.size(); ++i) {
        QWidget *next = expected[i - 1]->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        // An editable combo box's line edit is its own focus proxy: skip over it.
        if (next && next->parentWidget() == ui.Combo1)
            next = ui.Combo1;
        QCOMPARE(next, expected[i]);
    }
}

void Form1Test::everyControlHasAnAccessibleName_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("heading"); // the label whose buddy it is
    using A = QAccessible;
    QTest::newRow("Drive1") << "Drive1"
                            << "元のドライブ" << A::ComboBox << "";
    QTest::newRow("Dir1") << "Dir1"
                          << "元のフォルダー" << A::List << "";
    QTest::newRow("File1") << "File1"
                           << "元のファイル" << A::List << "";
    QTest::newRow("Drive2") << "Drive2"
                            << "コピー先のドライブ" << A::ComboBox << "";
    QTest::newRow("Dir2") << "Dir2"
                          << "コピー先のフォルダー" << A::List << "";
    QTest::newRow("File2") << "File2"
                           << "コピー先のファイル" << A::List << "";
    QTest::newRow("Command1") << "Command1"
                              << "リネーム" << A::Button << "";
    QTest::newRow("Text1") << "Text1"
                           << "ファイル名" << A::EditableText << "Label1";
    QTest::newRow("Text2") << "Text2"
                           << "開始No" << A::EditableText << "Label2";
    QTest::newRow("List1") << "List1"
                           << "桁数" << A::List << "Label4";
    QTest::newRow("Combo1") << "Combo1"
                            << "拡張子" << A::ComboBox << "Label3";
    QTest::newRow("Combo1's edit field") << "Combo1 edit"
                                         << "拡張子" << A::EditableText << "";
    QTest::newRow("Command2") << "Command2"
                              << "終了" << A::Button << "";
    QTest::newRow("Check1") << "Check1"
                            << "移動する" << A::CheckBox << "";
    QTest::newRow("Command3") << "Command3"
                              << "拡張子を登録" << A::Button << "";
    QTest::newRow("Check2") << "Check2"
                            << "上書きする" << A::CheckBox << "";
    QTest::newRow("Command4") << "Command4"
                              << "全選択" << A::Button << "";
    QTest::newRow("Command5") << "Command5"
                              << "更新" << A::Button << "";
    QTest::newRow("Picture1") << "Picture1"
                              << "プレビュー" << A::Border << "";
    QTest::newRow("Image1") << "Image1"
                            << "プレビューの画像" << A::Graphic << "";
    QTest::newRow("ProgressBar1") << "ProgressBar1"
                                  << "進行状況" << A::ProgressBar << "";
}

void Form1Test::everyControlHasAnAccessibleName()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, heading);
    Form1Fixture f;
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1Controls &ui = f.ui();
    const QMap<QString, QWidget *> controls{{"Drive1", ui.Drive1},
                                            {"Dir1", ui.Dir1},
                                            {"File1", ui.File1},
                                            {"Drive2", ui.Drive2},
                                            {"Dir2", ui.Dir2},
                                            {"File2", ui.File2},
                                            {"Command1", ui.Command1},
                                            {"Text1", ui.Text1},
                                            {"Text2", ui.Text2},
                                            {"List1", ui.List1},
                                            {"Combo1", ui.Combo1},
                                            {"Combo1 edit", ui.Combo1->lineEdit()},
                                            {"Command2", ui.Command2},
                                            {"Check1", ui.Check1},
                                            {"Command3", ui.Command3},
                                            {"Check2", ui.Check2},
                                            {"Command4", ui.Command4},
                                            {"Command5", ui.Command5},
                                            {"Picture1", ui.Picture1},
                                            {"Image1", ui.Image1},
                                            {"ProgressBar1", ui.ProgressBar1}};
    QWidget *widget = controls.value(control);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), role);
    QCOMPARE(widget->accessibleName(), name);
    // Qt on Linux gives a combo box's current entry as its name and its purpose through the
    // label it has (AT-SPI's labelled-by); every other control says its name itself.
    const QList<QPair<QAccessibleInterface *, QAccessible::Relation>> labels =
        accessible->relations(QAccessible::Label);
    QStringList labelledBy;
    for (const auto &label : labels)
        labelledBy.append(label.first->text(QAccessible::Name));
    if (role == QAccessible::ComboBox) {
        QVERIFY(!accessible->text(QAccessible::Name).isEmpty());
        QVERIFY2(labelledBy.contains(name), qPrintable(labelledBy.join(", ")));
    } else {
        QCOMPARE(accessible->text(QAccessible::Name), name);
    }
    const QMap<QString, QLabel *> headings{
        {"Label1", ui.Label1}, {"Label2", ui.Label2}, {"Label3", ui.Label3}, {"Label4", ui.Label4}};
    if (!heading.isEmpty())
        QCOMPARE(headings.value(heading)->buddy(), widget);
}

void Form1Test::firstStartWithoutFiles()
{
    Form1Fixture f;
    TestFiles::write(f.path("a/home/IMG_2.JPG"), "");
    TestFiles::write(f.path("a/home/IMG_10.JPG"), "");
    f.start();
    const Form1Controls &ui = f.ui();
    QCOMPARE(ui.List1->count(), 15);
    QCOMPARE(ui.List1->selectedItems().value(0)->text(), QString("5"));
    QCOMPARE(ui.Combo1->count(), 2);
    QCOMPARE(ui.Combo1->itemText(1), QString("bmp"));
    QCOMPARE(ui.Combo1->currentText(), QString("jpg"));
    QCOMPARE(ui.Drive1->drive(), f.path("a"));
    QCOMPARE(ui.Dir1->path(), f.path("a/home"));
    QCOMPARE(ui.Drive2->drive(), f.path("a"));
    QCOMPARE(ui.Dir2->path(), f.path("a/home"));
    QCOMPARE(ui.File1->listModel()->names(), (QStringList{"IMG_2.JPG", "IMG_10.JPG"}));
    QCOMPARE(ui.File2->listCount(), 2);
    QVERIFY(ui.Text1->text().isEmpty());
    QCOMPARE(ui.Text2->text(), QString("0"));
    QVERIFY(ui.ProgressBar1->isHidden());
    QVERIFY(!ui.Check1->isChecked());
    QVERIFY(!ui.Check2->isChecked());
    QVERIFY(f.messages.informed.isEmpty());
    QVERIFY(f.messages.prompts.isEmpty());
    QCOMPARE(f.form->iniPath(), f.programFile("DuVuzeRezo.ini"));
}

void Form1Test::startWithAListFileOnly()
{
    Form1Fixture f;
    TestFiles::write(f.programFile("ListFile.dat"), "\"gif\"\r\n\"png\"\r\n\"\"\r\n\"tif\"\r\n");
    f.start();
    QCOMPARE(f.ui().Combo1->count(), 2);
    QCOMPARE(f.ui().Combo1->currentText(), QString("gif"));
    QCOMPARE(f.ui().Text2->text(), QString("0"));
    QCOMPARE(f.ui().Dir1->path(), f.path("a/home"));
}

void Form1Test::unusableListFileCountsAsMissing()
{
    Form1Fixture f;
    TestFiles::write(f.programFile("ListFile.dat"), "\"\"\r\n\"png\"\r\n");
    f.start();
    QCOMPARE(f.ui().Combo1->count(), 2);
    QCOMPARE(f.ui().Combo1->currentText(), QString("jpg"));
}

void Form1Test::startWithBothFiles()
{
    Form1Fixture f;
    TestFiles::write(f.programFile("ListFile.dat"), "\"jpg\"\r\n\"png\"\r\n\"gif\"\r\n");
    TestFiles::write(f.path("b/dcim/P1.JPG"), "");
    const IniData record{
        f.path("a"), f.path("a/photos"), f.path("b"), f.path("b/dcim"), "trip", "12", "2", "2"};
    TestFiles::write(f.programFile("DuVuzeRezo.ini"), DataFiles::iniBytes(record));
    f.start();
    const Form1Controls &ui = f.ui();
    QCOMPARE(ui.Drive1->drive(), f.path("a"));
    QCOMPARE(ui.Dir1->path(), f.path("a/photos"));
    QCOMPARE(ui.Drive2->drive(), f.path("b"));
    QCOMPARE(ui.Dir2->path(), f.path("b/dcim"));
    QCOMPARE(ui.File2->listModel()->names(), QStringList{"P1.JPG"});
    QCOMPARE(ui.Text1->text(), QString("trip"));
    QCOMPARE(ui.Text2->text(), QString("12"));
    QCOMPARE(ui.List1->selectedItems().value(0)->text(), QString("3"));
    QCOMPARE(ui.Combo1->currentText(), QString("gif")); // the stored extension comes back
}

void Form1Test::fallback_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("source folder removed") << 1 << "a/removed";
    QTest::newRow("target folder removed") << 3 << "b/removed";
    QTest::newRow("digit index 15") << 7 << "15";
    QTest::newRow("digit index -2") << 7 << "-2";
    QTest::newRow("digit index beyond 16 bits") << 7 << "40000";
    QTest::newRow("empty source drive") << 0 << "";
    QTest::newRow("empty target folder") << 3 << "";
}

void Form1Test::fallback()
{
    QFETCH(int, field);
    QFETCH(QString, value);
    Form1Fixture f;
    IniData record{
        f.path("a"), f.path("a/photos"), f.path("b"), f.path("b/dcim"), "trip", "12", "1", "2"};
    const bool isPath = field <= IniField::TargetFolder && !value.isEmpty();
    record[size_t(field)] = isPath ? f.path(value) : value;
    TestFiles::write(f.programFile("DuVuzeRezo.ini"), DataFiles::iniBytes(record));
    f.start();
    const Form1Controls &ui = f.ui();
    QCOMPARE(ui.Drive1->drive(), QString("/"));
    QCOMPARE(ui.Dir1->path(), QString("/"));
    QCOMPARE(ui.Drive2->drive(), QString("/"));
    QCOMPARE(ui.Dir2->path(), QString("/"));
    QVERIFY(ui.Text1->text().isEmpty());
    QCOMPARE(ui.Text2->text(), QString("1"));
    QVERIFY(ui.List1->selectedItems().isEmpty());
    QCOMPARE(ui.Combo1->currentIndex(), 0);
    QVERIFY(f.messages.informed.isEmpty());
}

void Form1Test::noDigitSelectionIsRestored()
{
    Form1Fixture f;
    const IniData record{
        f.path("a"), f.path("a/photos"), f.path("b"), f.path("b/dcim"), "x", "5", "0", "-1"};
    // Two records: the second one counts.
    TestFiles::write(f.programFile("DuVuzeRezo.ini"),
                     DataFiles::iniBytes(IniData{"/", "/", "/", "/", "old", "1", "0", "4"}) +
                         DataFiles::iniBytes(record));
    f.start();
    QVERIFY(f.ui().List1->selectedItems().isEmpty());
    QCOMPARE(f.ui().Text1->text(), QString("x"));
    QCOMPARE(f.ui().Dir2->path(), f.path("b/dcim")); // no fallback
}

void Form1Test::wholeRenameFromTheWindow()
{
    Form1Fixture f;
    for (const char *name : {"c.jpg", "a.jpg", "b.jpg"})
        TestFiles::write(f.path("a/home/") + name, name);
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1Controls &ui = f.ui();
    ui.Dir2->setPath(f.path("b/dcim"));
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    ui.Text1->setText("photo");
    ui.Text2->setText("7");
    ui.List1->setCurrentRow(2);

    bool barSeen = false;
    f.messages.onMessage = [&](const QString &) { barSeen = !ui.ProgressBar1->isHidden(); };
    QTest::mouseClick(ui.Command1, Qt::LeftButton);

    QCOMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
    QVERIFY2(!barSeen, "the bar is hidden before the completion message");
    QCOMPARE(TestFiles::names(f.path("b/dcim")),
             (QStringList{"photo007.jpg", "photo008.jpg", "photo009.jpg"}));
    QCOMPARE(TestFiles::read(f.path("b/dcim/photo007.jpg")), QByteArray("a.jpg"));
    QCOMPARE(ui.File2->listCount(), 3); // refreshed
    QCOMPARE(ui.Text2->text(), QString("7"));
    QCOMPARE(ui.Text1->selectedText(), QString("photo"));
    // No settings file at start-up: the save writes the empty record.
    QCOMPARE(TestFiles::read(f.programFile("DuVuzeRezo.ini")).size(), 25);
    QCOMPARE(TestFiles::read(f.programFile("ListFile.dat")).size(), 130);
}

void Form1Test::digitCheckStop()
{
    Form1Fixture f;
    TestFiles::write(f.path("a/home/a.jpg"), "");
    f.start();
    const Form1Controls &ui = f.ui();
    ui.Dir2->setPath(f.path("b/dcim"));
    ui.File1->selectAll();
    ui.Text2->setText("123");
    ui.List1->setCurrentRow(1);
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(f.messages.informed, QStringList{"数値が桁数を越えています。"});
    QVERIFY(ui.ProgressBar1->isHidden());
    QVERIFY(TestFiles::names(f.path("b/dcim")).isEmpty());
    QVERIFY(!QFile::exists(f.programFile("DuVuzeRezo.ini")));
}

void Form1Test::sameNameStop()
{
    Form1Fixture f;
    TestFiles::write(f.path("a/home/photo007.jpg"), "new");
    TestFiles::write(f.path("b/dcim/photo007.jpg"), "old");
    f.start();
    const Form1Controls &ui = f.ui();
    ui.Dir2->setPath(f.path("b/dcim"));
    ui.File1->selectAll();
    ui.Text1->setText("photo");
    ui.Text2->setText("7");
    ui.List1->setCurrentRow(2);
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(f.messages.informed,
             QStringList{"コピー先に同じファイル名があります。\r\n"
                         "上書きするのであればチェックボックスをオンにしてください。"});
    QCOMPARE(TestFiles::read(f.path("b/dcim/photo007.jpg")), QByteArray("old"));
    QVERIFY(!ui.ProgressBar1->isHidden());

    QTest::mouseClick(ui.Check2, Qt::LeftButton);
    QVERIFY(ui.Check2->isChecked());
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(f.messages.informed.last(), QString("リネームが完了しました。"));
    QCOMPARE(TestFiles::read(f.path("b/dcim/photo007.jpg")), QByteArray("new"));
    QVERIFY(ui.ProgressBar1->isHidden());
}

void Form1Test::aBatchStopsAfterTheFileItIsOn_data()
{
    QTest::addColumn<bool>("byClosing");
    QTest::newRow("stop/Esc") << false;
    QTest::newRow("stop/closing the window") << true;
}

void Form1Test::aBatchStopsAfterTheFileItIsOn()
{
    QFETCH(bool, byClosing);
    Form1Fixture f;
    const int count = 300;
    for (int i = 1; i <= count; ++i)
        TestFiles::write(f.path("a/home/f%1.jpg").arg(i, 3, 10, QChar('0')), QByteArray::number(i));
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1Controls &ui = f.ui();
    ui.Dir2->setPath(f.path("b/dcim"));
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    ui.Text1->setText("photo");
    ui.Text2->setText("1");
    ui.List1->setCurrentRow(2);

    // From the third file on, the user clicks the exit button, types, and then presses Esc or
    // closes the window; all of it reaches the window when the batch next lets the event loop
    // run. Files are slow until then.
    int copies = 0, copiesWhenSeen = 0;
    bool closeRefused = false;
    f.files.failWhen = [&](FaultyFileOperations::Op op, const QString &) {
        if (op != FaultyFileOperations::Op::Copy)
            return false;
        if (++copies == 3) {
            QTimer::singleShot(0, &form, [&] {
                copiesWhenSeen = copies;
                QTest::mouseClick(ui.Command2, Qt::LeftButton);
                QTest::keyClicks(ui.Text1, "x");
                if (byClosing)
                    closeRefused = !form.close();
                else
                    QTest::keyClick(&form, Qt::Key_Escape);
            });
        }
        if (copies >= 3 && copiesWhenSeen == 0)
            QThread::msleep(20);
        return false;
    };
    bool openAtTheMessage = false;
    f.messages.onMessage = [&](const QString &) { openAtTheMessage = form.isVisible(); };
    QTest::mouseClick(ui.Command1, Qt::LeftButton);

    // The file under way when the user asked is done; none after it is started.
    const int done = copiesWhenSeen;
    QVERIFY2(done >= 3 && done < count, qPrintable(QString::number(done)));
    QCOMPARE(f.messages.informed,
             QStringList{QString("リネームを途中で止めました。\r\n"
                                 "止めるまでに処理したファイル: %1 件\r\n"
                                 "処理していないファイル: %2 件（最初のファイル: %3）")
                             .arg(done)
                             .arg(count - done)
                             .arg(f.path("a/home/f%1.jpg").arg(done + 1, 3, 10, QChar('0')))});
    QStringList written;
    for (int i = 1; i <= done; ++i)
        written.append(QString("photo%1.jpg").arg(i, 3, 10, QChar('0')));
    QCOMPARE(TestFiles::names(f.path("b/dcim")), written);
    QCOMPARE(TestFiles::read(f.path("b/dcim/") + written.last()), QByteArray::number(done));
    // Nothing else the user did acted on the window under the batch.
    QCOMPARE(f.ended, 0);
    QCOMPARE(ui.Text1->text(), QString("photo"));
    QVERIFY(openAtTheMessage);
    QCOMPARE(closeRefused, byClosing);
    QCOMPARE(form.isVisible(), !byClosing);

    // What was done is in the undo history.
    QVERIFY(ui.mnuUndo->isEnabled());
    f.messages.yesNoAnswers = {true};
    ui.mnuUndo->trigger();
    QCOMPARE(f.messages.informed.last(), QString("リネームを元に戻しました（%1 件）。").arg(done));
    QCOMPARE(TestFiles::names(f.path("b/dcim")), QStringList{});
    QCOMPARE(TestFiles::names(f.path("a/home")).size(), count);
}

void Form1Test::driveRetryUntilReadable()
{
    Form1Fixture f;
    TestFiles::write(f.path("b/card.jpg"), "");
    f.start();
    f.volumes.unreadable.insert(f.path("b"), "No medium found");
    f.messages.answers = {true, true};
    // The medium arrives while the second prompt is open.
    f.messages.onPrompt = [&](const QString &, bool) {
        if (f.messages.prompts.size() == 2)
            f.volumes.unreadable.clear();
    };
    const Form1Controls &ui = f.ui();
    ui.Drive1->setCurrentIndex(ui.Drive1->findData(f.path("b")));
    QCOMPARE(f.messages.prompts, (QStringList{"No medium found", "No medium found"}));
    QCOMPARE(ui.Dir1->path(), f.path("b"));
    QCOMPARE(ui.File1->listModel()->names(), QStringList{"card.jpg"});
    QCOMPARE(ui.Drive2->drive(), f.path("a"));
}

void Form1Test::driveCancelReturnsToTheShownFolder_data()
{
    QTest::addColumn<bool>("target");
    QTest::newRow("source pane") << false;
    QTest::newRow("target pane") << true;
}

void Form1Test::driveCancelReturnsToTheShownFolder()
{
    QFETCH(bool, target);
    Form1Fixture f;
    f.start();
    const Form1Controls &ui = f.ui();
    DriveList *drive = target ? ui.Drive2 : ui.Drive1;
    FolderList *folder = target ? ui.Dir2 : ui.Dir1;
    DriveList *otherDrive = target ? ui.Drive1 : ui.Drive2;
    FolderList *otherFolder = target ? ui.Dir1 : ui.Dir2;
    // This pane was last on the home folder; the other pane went to another folder since.
    QVERIFY(folder->setPath(f.path("a/home")));
    QVERIFY(otherFolder->setPath(f.path("a/photos")));
    f.volumes.unreadable.insert(f.path("b"), "No medium found");
    f.messages.answers = {true, false}; // Retry, then Cancel
    drive->setCurrentIndex(drive->findData(f.path("b")));
    QCOMPARE(f.messages.prompts.size(), 2);
    QCOMPARE(drive->drive(), f.path("a"));
    QCOMPARE(folder->path(), f.path("a/home")); // this pane's own folder on that drive
    QCOMPARE(otherDrive->drive(), f.path("a"));
    QCOMPARE(otherFolder->path(), f.path("a/photos"));
    QVERIFY(f.messages.informed.isEmpty());
}

void Form1Test::unreadableDriveAtFirstStart()
{
    Form1Fixture f;
    f.volumes.unreadable.insert(f.path("a"), "No medium found");
    f.start(); // every prompt answered with Cancel
    QVERIFY(!f.messages.prompts.isEmpty());
    QVERIFY(f.form->isHidden());
    QCOMPARE(f.ui().Text2->text(), QString("0")); // start-up went on
}

void Form1Test::listFailureIsShownAndEmptiesTheList()
{
    Form1Fixture f;
    TestFiles::write(f.path("a/photos/x.jpg"), "");
    f.start();
    const Form1Controls &ui = f.ui();
    QVERIFY(ui.Dir1->setPath(f.path("a/photos")));
    QCOMPARE(ui.File1->listCount(), 1);
    QVERIFY(QDir(f.path("a/photos")).removeRecursively());
    QTest::mouseClick(ui.Command5, Qt::LeftButton);
    QCOMPARE(ui.File1->listCount(), 0);
    QCOMPARE(f.messages.informed.size(), 1);
    QVERIFY(f.messages.informed.first().contains(f.path("a/photos")));
    QVERIFY(f.messages.informed.first().contains(systemErrorText(ENOENT)));
}

void Form1Test::text1DropsTrailingLineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kept");
    QTest::newRow("one pair") << "abc\r\n"
                              << "abc";
    QTest::newRow("two pairs") << "abc\r\n\r\n"
                               << "abc";
    QTest::newRow("in the middle") << "a\r\nb"
                                   << "a\r\nb";
    QTest::newRow("lone LF") << "abc\n"
                             << "abc\n";
}

void Form1Test::text1DropsTrailingLineBreaks()
{
    QFETCH(QString, text);
    QFETCH(QString, kept);
    Form1Fixture f;
    f.start();
    f.ui().Text1->setText(text);
    QCOMPARE(f.ui().Text1->text(), kept);
}

void Form1Test::homeClearsText1_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Home") << int(Qt::NoModifier);
    QTest::newRow("Shift+Home") << int(Qt::ShiftModifier);
    QTest::newRow("Ctrl+Home") << int(Qt::ControlModifier);
}

void Form1Test::homeClearsText1()
{
    QFETCH(int, modifiers);
    Form1Fixture f;
    f.start();
    f.ui().Text1->setText("photo");
    QTest::keyClick(f.ui().Text1, Qt::Key_Home, Qt::KeyboardModifiers(modifiers));
    QVERIFY(f.ui().Text1->text().isEmpty());
    QTest::keyClick(f.ui().Text1, Qt::Key_A);
    QCOMPARE(f.ui().Text1->text(), QString("a"));
}

void Form1Test::exitButtonSavesTheWindow()
{
    Form1Fixture f;
    f.start();
    const Form1Controls &ui = f.ui();
    ui.Text1->setText("a,b");
    ui.Text2->setText("007");
    QTest::mouseClick(ui.Command2, Qt::LeftButton);
    QCOMPARE(f.ended, 1);
    const IniData expected{
        f.path("a"), f.path("a/home"), f.path("a"), f.path("a/home"), "a,b", "007", "0", "4"};
    QCOMPARE(TestFiles::read(f.programFile("DuVuzeRezo.ini")), DataFiles::iniBytes(expected));
    QCOMPARE(TestFiles::read(f.programFile("ListFile.dat")).size(), 130);

    // The next start restores it.
    f.start();
    QCOMPARE(f.ui().Text1->text(), QString("a,b"));
    QCOMPARE(f.ui().Text2->text(), QString("007"));
    QCOMPARE(f.ui().List1->selectedItems().value(0)->text(), QString("5"));
    QCOMPARE(f.ui().Dir1->path(), f.path("a/home"));
}

void Form1Test::exitButtonReportsAFailedSave()
{
    Form1Fixture f;
    f.start();
    f.files.reason = "Read-only file system";
    f.files.failWhen = [](FaultyFileOperations::Op op, const QString &) {
        return op == FaultyFileOperations::Op::Write;
    };
    QTest::mouseClick(f.ui().Command2, Qt::LeftButton);
    QCOMPARE(f.messages.informed.size(), 1);
    QVERIFY(f.messages.informed.first().contains("Read-only file system"));
    QVERIFY(f.messages.informed.first().contains(f.programFile("DuVuzeRezo.ini")));
    QCOMPARE(f.ended, 1);
}

void Form1Test::closeBoxSavesNothing()
{
    Form1Fixture f;
    Form1 &form = f.start();
    form.show();
    f.ui().Text1->setText("changed");
    QVERIFY(form.close());
    QCOMPARE(f.ended, 0);
    QVERIFY(TestFiles::names(f.path("prog")).isEmpty());
}

void Form1Test::registerButton_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("empty") << "" << QStringList{"jpg", "bmp"};
    QTest::newRow("listed") << "bmp" << QStringList{"jpg", "bmp"};
    QTest::newRow("other case") << "JPG" << QStringList{"jpg", "bmp", "JPG"};
}

void Form1Test::registerButton()
{
    QFETCH(QString, text);
    QFETCH(QStringList, entries);
    Form1Fixture f;
    f.start();
    QComboBox *combo = f.ui().Combo1;
    combo->setEditText(text);
    QTest::mouseClick(f.ui().Command3, Qt::LeftButton);
    QStringList got;
    for (int i = 0; i < combo->count(); ++i)
        got.append(combo->itemText(i));
    QCOMPARE(got, entries);
    QCOMPARE(combo->currentText(), text);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(TestFiles::names(f.path("prog")).isEmpty()); // nothing written yet

    // The next save writes it.
    QTest::mouseClick(f.ui().Command2, Qt::LeftButton);
    ListData saved;
    QVERIFY(DataFiles::ReadListFile(f.files, f.programFile("ListFile.dat"), saved));
    QCOMPARE(DataFiles::GetData2(saved), entries);
}

void Form1Test::selectAllAndRefresh()
{
    Form1Fixture f;
    for (const char *name : {"1.jpg", "2.jpg", "3.jpg"})
        TestFiles::write(f.path("a/home/") + name, "");
    f.start();
    const Form1Controls &ui = f.ui();
    ui.File1->setSelected(1, true);
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    for (int i = 0; i < 3; ++i)
        QVERIFY(ui.File1->isSelected(i));
    QVERIFY(!ui.File2->isSelected(0));
    TestFiles::write(f.path("a/home/4.jpg"), "");
    QCOMPARE(ui.File2->listCount(), 3);
    QTest::mouseClick(ui.Command5, Qt::LeftButton);
    QCOMPARE(ui.File1->listCount(), 4);
    QCOMPARE(ui.File2->listCount(), 4);
}

void Form1Test::accessKeys()
{
    Form1Fixture f;
    TestFiles::write(f.path("a/home/a.jpg"), "");
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    f.ui().File1->selectAll();
    f.ui().Dir2->setPath(f.path("b/dcim"));
    // A mnemonic animates the button's click, which lands a moment later.
    QTest::keyClick(&form, Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
    QTest::keyClick(&form, Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(f.ended, 1);
}

void Form1Test::editMenuStandsBeforeHelp()
{
    Form1Fixture f;
    f.start();
    const Form1Controls &ui = f.ui();
    const QList<QAction *> menus = f.form->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), QString("編集(&E)"));
    QCOMPARE(menus[1]->text(), QString("ヘルプ(&H)"));
    QCOMPARE(ui.mnuEdit->actions(), (QList<QAction *>{ui.mnuUndo, ui.mnuNameCheck}));
    QCOMPARE(ui.mnuUndo->text(), QString("元に戻す(&U)"));
    QCOMPARE(ui.mnuUndo->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(ui.mnuNameCheck->text(), QString("名前の確認(&P)..."));
    QCOMPARE(ui.mnuNameCheck->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    QVERIFY2(!ui.mnuUndo->isEnabled(), "nothing to undo at the first start");
}

void Form1Test::ctrlZUndoesTheLastBatches()
{
    Form1Fixture f;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        TestFiles::write(f.path("a/home/") + name, name);
    TestFiles::write(f.path("b/dcim/photo1.jpg"), "an older photo");
    const auto renameAll = [&](bool move) {
        const Form1Controls &ui = f.ui();
        ui.Dir2->setPath(f.path("b/dcim"));
        QTest::mouseClick(ui.Command4, Qt::LeftButton);
        ui.Text1->setText("photo");
        ui.Text2->setText("1");
        ui.List1->setCurrentRow(0);
        ui.Check1->setChecked(move);
        QTest::mouseClick(ui.Command1, Qt::LeftButton);
    };
    {
        Form1 &form = f.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        renameAll(true); // a, b, c moved to photo1..3, photo1 replaced
        QVERIFY(f.ui().mnuUndo->isEnabled());
        QCOMPARE(TestFiles::names(f.path("b/dcim")),
                 (QStringList{"photo1.jpg", "photo2.jpg", "photo3.jpg"}));
        // No leaves everything as it is.
        QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.messages.questions, QStringList{"直前のリネーム（3 件）を元に戻しますか？"});
        QCOMPARE(TestFiles::names(f.path("b/dcim")).size(), 3);
        QVERIFY(f.ui().mnuUndo->isEnabled());
    }
    // After a restart the batch can still be undone.
    f.messages.yesNoAnswers = {true};
    f.messages.informed.clear();
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(f.ui().mnuUndo->isEnabled());
    f.ui().Dir1->setPath(f.path("a/home"));
    QCOMPARE(f.ui().File1->listCount(), 0);
    QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.messages.informed, QStringList{"リネームを元に戻しました（3 件）。"});
    QCOMPARE(TestFiles::names(f.path("a/home")), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(TestFiles::names(f.path("b/dcim")), QStringList{"photo1.jpg"});
    QCOMPARE(TestFiles::read(f.path("b/dcim/photo1.jpg")), QByteArray("an older photo"));
    QCOMPARE(f.ui().File1->listCount(), 3); // the lists show it
    QVERIFY(!f.ui().mnuUndo->isEnabled());
}

void Form1Test::ctrlZRightAfterABatchUndoesIt_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed"); // after the batch, before Ctrl+Z
    QTest::newRow("base name/where the batch left the focus") << "Text1"
                                                              << "";
    QTest::newRow("base name/typed into") << "Text1"
                                          << "_x";
    QTest::newRow("start number/untouched") << "Text2"
                                            << "";
    QTest::newRow("start number/typed into") << "Text2"
                                             << "0";
    QTest::newRow("extension/typed into") << "Combo1"
                                          << "x";
}

void Form1Test::ctrlZRightAfterABatchUndoesIt()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    Form1Fixture f;
    for (const char *name : {"a.jpg", "b.jpg"})
        TestFiles::write(f.path("a/home/") + name, name);
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const Form1Controls &ui = f.ui();
    QVERIFY(ui.Dir2->setPath(f.path("b/dcim")));
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    // Typed by hand, so that the boxes have typing of their own from before the batch.
    ui.Text1->setFocus();
    QTest::keyClicks(ui.Text1, "photo");
    ui.Text2->setFocus();
    QTest::keyClick(ui.Text2, Qt::Key_End);
    QTest::keyClicks(ui.Text2, "1");
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(f.messages.informed, QStringList{"リネームが完了しました。"});
    QCOMPARE(TestFiles::names(f.path("b/dcim")), (QStringList{"photo00001.jpg", "photo00002.jpg"}));
    QCOMPARE(QApplication::focusWidget(), ui.Text1);

    const QMap<QString, QLineEdit *> boxes{
        {"Text1", ui.Text1}, {"Text2", ui.Text2}, {"Combo1", ui.Combo1->lineEdit()}};
    QLineEdit *edit = boxes.value(box);
    if (edit != ui.Text1)
        QTest::mouseClick(edit, Qt::LeftButton);
    // An editable combo box keeps the focus itself and hands the keys to its line edit.
    QCOMPARE(QApplication::focusWidget(),
             box == "Combo1" ? static_cast<QWidget *>(ui.Combo1) : edit);
    const QString before = edit->text();
    if (!typed.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_End);
        QTest::keyClicks(edit, typed);
        // The box's own typing is undone first.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(edit->text(), before);
        QVERIFY2(f.messages.questions.isEmpty(), qPrintable(f.messages.questions.join(" | ")));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.messages.questions, QStringList{"直前のリネーム（2 件）を元に戻しますか？"});
    QCOMPARE(edit->text(), before);
}

void Form1Test::helpMenu()
{
    Form1Fixture f;
    f.start();
    const Form1Controls &ui = f.ui();
    QCOMPARE(ui.mnuHelp->title(), QString("ヘルプ(&H)"));
    const QList<QAction *> actions = ui.mnuHelp->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QString("ヘルプ"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), QString("バージョン情報"));
    ui.mnuH->trigger();
    ui.mnuVa->trigger();
    QCOMPARE(f.helpShown, 1);
    QCOMPARE(f.aboutShown, 1);
}

void Form1Test::exitButtonClosesTheHelpWindows()
{
    Form1Fixture f;
    DesktopRegistry registry;
    ProcessLauncher launcher;
    HelpWindows windows(f.files, registry, launcher, f.messages, f.path("prog"));
    f.onHelp = [&] { windows.mnuH_Click(); };
    f.onAbout = [&] { windows.mnuVa_Click(); };
    f.onEnd = [] { QApplication::closeAllWindows(); };
    Form1 &form = f.start();
    form.show();
    f.ui().mnuH->trigger();
    f.ui().mnuVa->trigger();
    QPointer<Form2> help = windows.help();
    QPointer<frmAbout> about = windows.about();
    QVERIFY(help && about && help->isVisible() && about->isVisible());
    QTest::mouseClick(f.ui().Command2, Qt::LeftButton);
    QTRY_VERIFY(!help && !about);
    QVERIFY(!form.isVisible());
    QVERIFY(QFile::exists(f.programFile("DuVuzeRezo.ini")));
}

void Form1Test::pickUpFillsTheEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QStringList>("extensions");
    QTest::addColumn<int>("selected");
    QTest::newRow("listed extension") << "photo007.jpg"
                                      << "photo"
                                      << "8"
                                      << "3" << QStringList{"jpg", "bmp"} << 0;
    QTest::newRow("other case is new") << "IMG_0001.JPG"
                                       << "IMG_"
                                       << "2"
                                       << "4" << QStringList{"jpg", "bmp", "JPG"} << 2;
    QTest::newRow("no extension") << "README"
                                  << "kept"
                                  << "1"
                                  << "6" << QStringList{"jpg", "bmp", ""} << 2;
    QTest::newRow("number too large") << "IMG_20261207123456.bmp"
                                      << "IMG_"
                                      << "0"
                                      << "14" << QStringList{"jpg", "bmp"} << 1;
}

void Form1Test::pickUpFillsTheEntries()
{
    QFETCH(QString, name);
    QFETCH(QString, text1);
    QFETCH(QString, text2);
    QFETCH(QString, digits);
    QFETCH(QStringList, extensions);
    QFETCH(int, selected);
    Form1Fixture f;
    TestFiles::write(f.path("b/dcim/") + name, "");
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1Controls &ui = f.ui();
    QVERIFY(ui.Dir2->setPath(f.path("b/dcim")));
    ui.Text1->setText("kept");
    clickEntry(ui.File2, 0);
    QCOMPARE(ui.Text1->text(), text1);
    QCOMPARE(ui.Text2->text(), text2);
    QCOMPARE(ui.List1->selectedItems().value(0)->text(), digits);
    QStringList got;
    for (int i = 0; i < ui.Combo1->count(); ++i)
        got.append(ui.Combo1->itemText(i));
    QCOMPARE(got, extensions);
    QCOMPARE(ui.Combo1->currentIndex(), selected);
    QCOMPARE(ui.Combo1->currentText(), extensions[selected]);
    QVERIFY(TestFiles::names(f.path("prog")).isEmpty()); // the pick-up saves nothing
}

void Form1Test::pickUpFollowsTheKeyboard()
{
    Form1Fixture f;
    TestFiles::write(f.path("b/dcim/a001.jpg"), "");
    TestFiles::write(f.path("b/dcim/b0041.png"), "");
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(f.ui().Dir2->setPath(f.path("b/dcim")));
    clickEntry(f.ui().File2, 0);
    QCOMPARE(f.ui().Text2->text(), QString("2"));
    QTest::keyClick(f.ui().File2, Qt::Key_Down);
    QCOMPARE(f.ui().Text1->text(), QString("b"));
    QCOMPARE(f.ui().Text2->text(), QString("42"));
    QCOMPARE(f.ui().Combo1->currentText(), QString("png"));
}

void Form1Test::pickedExtensionIsSavedWithTheList()
{
    Form1Fixture f;
    TestFiles::write(f.path("b/dcim/scan01.tif"), "");
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(f.ui().Dir2->setPath(f.path("b/dcim")));
    clickEntry(f.ui().File2, 0);
    QTest::mouseClick(f.ui().Command2, Qt::LeftButton);
    ListData saved;
    QVERIFY(DataFiles::ReadListFile(f.files, f.programFile("ListFile.dat"), saved));
    QCOMPARE(DataFiles::GetData2(saved), (QStringList{"jpg", "bmp", "tif"}));
}

void Form1Test::doubleClickPicksUpBeforeThePreview()
{
    Form1Fixture f;
    TestFiles::write(f.path("b/dcim/photo007.jpg"), "no picture inside");
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(f.ui().Dir2->setPath(f.path("b/dcim")));
    QString startNumberAtMessage;
    f.messages.onMessage = [&](const QString &) { startNumberAtMessage = f.ui().Text2->text(); };
    clickEntry(f.ui().File2, 0, true);
    QCOMPARE(f.messages.informed, QStringList{"対応していないファイルが選択されました。"});
    QCOMPARE(startNumberAtMessage, QString("8"));
    QCOMPARE(f.form->imagePath(), f.path("b/dcim/photo007.jpg"));
    QVERIFY(f.ui().Image1->isHidden());
}

void Form1Test::enterOnAFileShowsItAsADoubleClickDoes_data()
{
    QTest::addColumn<bool>("target");
    QTest::addColumn<int>("key");
    QTest::newRow("source list/Return") << false << int(Qt::Key_Return);
    QTest::newRow("target list/Return") << true << int(Qt::Key_Return);
    QTest::newRow("target list/Enter") << true << int(Qt::Key_Enter);
}

void Form1Test::enterOnAFileShowsItAsADoubleClickDoes()
{
    QFETCH(bool, target);
    QFETCH(int, key);
    Form1Fixture f;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    QVERIFY(image.save(f.path("b/dcim/photo007.bmp"), "BMP"));
    TestFiles::write(f.path("b/dcim/photo008.txt"), "no picture");
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const Form1Controls &ui = f.ui();
    FileList *list = target ? ui.File2 : ui.File1;
    QVERIFY((target ? ui.Dir2 : ui.Dir1)->setPath(f.path("b/dcim")));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home); // the first file becomes the current one
    QTest::keyClick(list, Qt::Key(key));
    QVERIFY(ui.Image1->isVisible());
    QCOMPARE(f.form->imagePath(), f.path("b/dcim/photo007.bmp"));
    QCOMPARE(ui.Image1->accessibleDescription(), QString("photo007.bmp"));
    QCOMPARE(ui.Text2->text(), target ? QString("8") : QString("0")); // picked up on the way
    QVERIFY(f.messages.informed.isEmpty());

    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key(key));
    QCOMPARE(f.messages.informed, QStringList{"対応していないファイルが選択されました。"});
    QVERIFY(ui.Image1->isHidden());
    QVERIFY(ui.Image1->accessibleDescription().isEmpty());
}

void Form1Test::previewInTheWindow_data()
{
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<QRectF>("twips"); // left, top, width, height of Image1
    QTest::newRow("small") << QSize(100, 50) << QRectF(3480, 4560, 1500, 750);
    QTest::newRow("area's width") << QSize(164, 60) << QRectF(3000, 4560, 2460, 900);
    QTest::newRow("twice as wide") << QSize(328, 100) << QRectF(3000, 4560, 2460, 750);
    QTest::newRow("too high") << QSize(100, 300) << QRectF(3877.5, 4560, 705, 2115);
}

void Form1Test::previewInTheWindow()
{
    QFETCH(QSize, pixels);
    QFETCH(QRectF, twips);
    Form1Fixture f;
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    QVERIFY(image.save(f.path("a/home/picture.bmp"), "BMP"));
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1Controls &ui = f.ui();
    QCOMPARE(ui.Picture1->contentsRect().size(), QSize(164, 141));
    clickEntry(ui.File1, 0, true);
    QVERIFY(f.messages.informed.isEmpty());
    QVERIFY(ui.Image1->isVisible());
    QCOMPARE(ui.Image1->left(), float(twips.left()));
    QCOMPARE(ui.Image1->top(), float(twips.top()));
    QCOMPARE(ui.Image1->width(), float(twips.width()));
    QCOMPARE(ui.Image1->height(), float(twips.height()));
    QCOMPARE(f.form->imagePath(), f.path("a/home/picture.bmp"));

    QVERIFY(QFile::remove(f.path("a/home/picture.bmp")));
    clickEntry(ui.File1, 0, true); // still listed, but gone
    QVERIFY(ui.Image1->isHidden());
    QVERIFY(f.messages.informed.isEmpty());
}

void Form1Test::combo1TakesTheTextAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enter");
    QTest::newRow("prefix of an entry") << "b" << false;
    QTest::newRow("prefix then Enter") << "b" << true;
    QTest::newRow("other case then Enter") << "BMP" << true;
    QTest::newRow("other case") << "JP" << false;
}

void Form1Test::combo1TakesTheTextAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    Form1Fixture f;
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QComboBox *combo = f.ui().Combo1;
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), typed);
    if (enter)
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(combo->currentText(), typed);
    QCOMPARE(form.currentRequest().extension, typed);
}

void Form1Test::digitListCannotBeEmptiedByTheUser_data()
{
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("Ctrl+click") << true;
    QTest::newRow("Ctrl+Space") << false;
}

void Form1Test::digitListCannotBeEmptiedByTheUser()
{
    QFETCH(bool, byMouse);
    Form1Fixture f;
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QListWidget *list = f.ui().List1;
    QCOMPARE(list->selectedItems().size(), 1);
    const int row = list->currentRow();
    list->setFocus();
    if (byMouse) {
        const QPoint at = list->visualItemRect(list->currentItem()).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    } else {
        QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    }
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->currentRow(), row);
    QCOMPARE(form.currentRequest().digitCountText, QString::number(row + 1));
    // Another entry is still chosen the ordinary way, and Ctrl+arrow chooses too.
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->currentRow(), row + 1);
    QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems().first(), list->currentItem());
    QCOMPARE(form.currentRequest().digitCountText, QString::number(row + 3));
}

void Form1Test::windowShrinksAndGrowsWithControlsInPlace()
{
    Form1Fixture f;
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect command2 = f.ui().Command2->geometry();
    const QPoint command2OnWindow = f.ui().Command2->mapTo(&form, QPoint());
    for (const QSize size : {QSize(160, 120), QSize(900, 700)}) {
        form.resize(size);
        QTRY_COMPARE(form.size(), size);
        QCOMPARE(f.ui().Command2->geometry(), command2);
        QCOMPARE(f.ui().Command2->mapTo(&form, QPoint()), command2OnWindow);
    }
    QVERIFY(form.minimumSizeHint().width() <= 160 || !form.minimumSizeHint().isValid());
}

void Form1Test::eachPaneComesBackToItsOwnFolder_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("drive prompt cancelled") << true;
    QTest::newRow("drive switched back") << false;
}

void Form1Test::eachPaneComesBackToItsOwnFolder()
{
    QFETCH(bool, cancel);
    Form1Fixture f;
    TestFiles::write(f.path("a/photos/x.jpg"), "x");
    QVERIFY(QDir(f.path("a")).mkpath("target"));
    f.start();
    const Form1Controls &ui = f.ui();
    QVERIFY(ui.Dir2->setPath(f.path("a/target")));
    QVERIFY(ui.Dir1->setPath(f.path("a/photos")));
    if (cancel) {
        f.volumes.unreadable.insert(f.path("b"), "No medium found");
        f.messages.answers = {false};
    }
    ui.Drive2->setCurrentIndex(ui.Drive2->findData(f.path("b")));
    if (!cancel) {
        QCOMPARE(ui.Dir2->path(), f.path("b"));
        ui.Drive2->setCurrentIndex(ui.Drive2->findData(f.path("a")));
    }
    QCOMPARE(ui.Drive2->drive(), f.path("a"));
    QCOMPARE(ui.Dir2->path(), f.path("a/target"));
    QCOMPARE(ui.Dir1->path(), f.path("a/photos"));

    // The next batch copies into the target pane's folder, not into the source folder.
    ui.File1->selectAll();
    ui.Text1->setText("p");
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(TestFiles::names(f.path("a/target")), QStringList{"p00000.jpg"});
    QCOMPARE(TestFiles::names(f.path("a/photos")), QStringList{"x.jpg"});
}

void Form1Test::everyCaptionFitsItsControl_data()
{
    TextFit::addFontRows();
}

void Form1Test::everyCaptionFitsItsControl()
{
    QFETCH(QString, family);
    const TextFit::ProgramFont font(family);
    Form1Fixture f;
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QStringList clipped = TextFit::clipped(&form);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    // Labels keep their places; only their width may grow.
    QCOMPARE(f.ui().Label1->pos(), QPoint(8, 392));
    QCOMPARE(f.ui().Label4->pos().y(), 432);
}

void Form1Test::aDriveWhoseRememberedFolderWentAwayOpensAbove()
{
    // A card swapped for another with the same name, or the folder removed meanwhile.
    Form1Fixture f;
    QVERIFY(QDir().mkpath(f.path("b/dcim/100canon")));
    f.start();
    const Form1Controls &ui = f.ui();
    ui.Drive1->setCurrentIndex(ui.Drive1->findData(f.path("b")));
    QVERIFY(ui.Dir1->setPath(f.path("b/dcim/100canon")));
    ui.Drive1->setCurrentIndex(ui.Drive1->findData(f.path("a")));
    QVERIFY(QDir(f.path("b/dcim/100canon")).removeRecursively());
    f.messages.answers = {true, true, false};
    ui.Drive1->setCurrentIndex(ui.Drive1->findData(f.path("b")));
    QVERIFY2(f.messages.prompts.isEmpty(), qPrintable(f.messages.prompts.join(" | ")));
    QCOMPARE(ui.Drive1->drive(), f.path("b"));
    QCOMPARE(ui.Dir1->path(), f.path("b/dcim"));
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
