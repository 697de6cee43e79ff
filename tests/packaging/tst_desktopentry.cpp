#include "imagepreview.h"
#include "imageview.h"
#include "picturefiles.h"

#include <QFile>
#include <QImage>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <QTest>

/// The desktop entry offers カエナミ for the picture types its preview shows, and for nothing
/// else: each type it names is written as a small picture and shown.
class DesktopEntryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void everyTypeNamedIsShown_data();
    void everyTypeNamedIsShown();

private:
    QStringList m_types;
};

void DesktopEntryTest::initTestCase()
{
    QFile entry(QStringLiteral(KAENAMI_DESKTOP_ENTRY));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    for (const QByteArray &line : entry.readAll().split('\n')) {
        if (line.startsWith("MimeType="))
            m_types = QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
        if (line.startsWith("Exec="))
            QCOMPARE(line, QByteArray("Exec=kaenami %F"));
    }
    QVERIFY(m_types.contains("image/jpeg") && m_types.contains("image/bmp"));
}

void DesktopEntryTest::everyTypeNamedIsShown_data()
{
    QTest::addColumn<QString>("type");
    for (const QString &type : std::as_const(m_types))
        QTest::newRow(qPrintable(type)) << type;
}

void DesktopEntryTest::everyTypeNamedIsShown()
{
    QFETCH(QString, type);
    // A folder type would make the program the desktop's folder opener.
    QVERIFY2(type.startsWith("image/"), qPrintable(type));
    const QMimeType mime = QMimeDatabase().mimeTypeForName(type);
    QVERIFY2(mime.isValid(), "a type the desktop knows");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("picture." + mime.preferredSuffix());
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::white);
    // Qt writes every type but GIF; that one comes from the tests' own writer.
    QVERIFY(type == "image/gif"
                ? PictureFiles::writeGif(path, 40, 30, qRgb(0, 0, 0), qRgb(255, 255, 255))
                : picture.save(path));
    // The type a file manager gives the file.
    QCOMPARE(QMimeDatabase().mimeTypeForFile(path).name(), type);
    ImageView view;
    QCOMPARE(LoadImage(path, view, QSizeF(2520, 2175)), PreviewOutcome::Shown);
}

QTEST_MAIN(DesktopEntryTest)
#include "tst_desktopentry.moc"
