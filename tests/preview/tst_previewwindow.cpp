// The preview in the main window: a picture beyond Qt's default allocation limit is shown, a file
// that is no picture still gets the message.
#include "form1fixture.h"
#include "imageview.h"
#include "picturefiles.h"

#include <QTest>

class PreviewWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void doubleClick_data();
    void doubleClick();
};

namespace {
void doubleClickEntry(FileList *list, int row)
{
    const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
    // A double-click is a click, then the second press, then its release.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}
} // namespace

void PreviewWindowTest::doubleClick_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("pixels"); // empty: a text file
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QRectF>("twips"); // left, top, width, height of Image1
    // 137 MiB as 32-bit pixels, more than Qt allows one picture by default.
    QTest::newRow("bmp/6000 x 6000")
        << "big.bmp" << QSize(6000, 6000) << QStringList() << QRectF(3172.5, 4560, 2115, 2115);
    QTest::newRow("png/20000 x 10000")
        << "wide.png" << QSize(20000, 10000) << QStringList() << QRectF(3000, 4560, 2460, 1230);
    QTest::newRow("no picture/named bmp")
        << "notes.bmp" << QSize() << QStringList{"対応していないファイルが選択されました。"}
        << QRectF();
}

void PreviewWindowTest::doubleClick()
{
    QFETCH(QString, name);
    QFETCH(QSize, pixels);
    QFETCH(QStringList, messages);
    QFETCH(QRectF, twips);
    Form1Fixture f;
    const QString file = f.path("a/home/" + name);
    const QRgb left = qRgb(200, 40, 40), right = qRgb(40, 40, 200);
    if (pixels.isEmpty())
        QVERIFY(TestFiles::write(file, "just some text\r\n"));
    else if (name.endsWith(".bmp"))
        QVERIFY(PictureFiles::writeBmp(file, pixels.width(), pixels.height(), left, right));
    else
        QVERIFY(PictureFiles::writePng(file, pixels.width(), pixels.height(), true, left, right));
    Form1 &form = f.start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1Controls &ui = f.ui();
    doubleClickEntry(ui.File1, 0);
    QCOMPARE(f.form->imagePath(), file);
    QCOMPARE(f.messages.informed, messages);
    QCOMPARE(ui.Image1->isVisible(), !twips.isNull());
    if (twips.isNull())
        return;
    QCOMPARE(ui.Image1->left(), float(twips.left()));
    QCOMPARE(ui.Image1->top(), float(twips.top()));
    QCOMPARE(ui.Image1->width(), float(twips.width()));
    QCOMPARE(ui.Image1->height(), float(twips.height()));
}

QTEST_MAIN(PreviewWindowTest)
#include "tst_previewwindow.moc"
