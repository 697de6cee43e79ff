#include "filenames.h"

#include <QRandomGenerator>
#include <QTest>

class FileNamesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomBytesSurviveTheRoundTrip();
    void decoding_data();
    void decoding();
    void display_data();
    void display();
    void urlsKeepExactBytes();
};

void FileNamesTest::randomBytesSurviveTheRoundTrip()
{
    QRandomGenerator random(20261207);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes(random.bounded(1, 24), Qt::Uninitialized);
        for (char &byte : bytes) {
            // Mostly bytes around UTF-8 lead and continuation values, where mistakes hide.
            byte = char(random.bounded(4) == 0 ? random.bounded(0x20, 0x80)
                                               : random.bounded(0x80, 0x100));
        }
        const QString name = FileNames::decode(bytes);
        const QByteArray back = FileNames::encode(name);
        // The name-length check counts what encode() would give, without encoding.
        QCOMPARE(FileNames::encodedSize(name), bytes.size());
        QVERIFY2(back == bytes, qPrintable(QStringLiteral("%1 came back as %2")
                                               .arg(QString::fromLatin1(bytes.toHex(' ')),
                                                    QString::fromLatin1(back.toHex(' ')))));
    }
}

void FileNamesTest::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("utf8/japanese") << QByteArray("写真 001.jpg") << QStringLiteral("写真 001.jpg");
    QTest::newRow("utf8/beyond-bmp")
        << QByteArray("\xF0\x9F\x93\xB7.png") << QString::fromUcs4(U"\U0001F4F7.png");
    // テスト in Shift-JIS: 0x83 0x65 0x83 0x58 0x83 0x67.
    QTest::newRow("invalid/shift-jis")
        << QByteArray("\x83\x65\x83\x58\x83\x67")
        << (QString(QChar(0xDC83)) + 'e' + QChar(0xDC83) + 'X' + QChar(0xDC83) + 'g');
    QTest::newRow("invalid/encoded-surrogate")
        << QByteArray("a\xED\xB2\x80")
        << (QString('a') + QChar(0xDCED) + QChar(0xDCB2) + QChar(0xDC80));
    QTest::newRow("invalid/overlong-slash")
        << QByteArray("\xC0\xAF") << (QString(QChar(0xDCC0)) + QChar(0xDCAF));
    QTest::newRow("invalid/above-unicode")
        << QByteArray("\xF4\x90\x80\x80")
        << (QString(QChar(0xDCF4)) + QChar(0xDC90) + QChar(0xDC80) + QChar(0xDC80));
    QTest::newRow("invalid/cut-short")
        << QByteArray("x\xE5\x86") << (QString('x') + QChar(0xDCE5) + QChar(0xDC86));
}

void FileNamesTest::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, decoded);
    QCOMPARE(FileNames::decode(bytes), decoded);
    QCOMPARE(FileNames::encode(decoded), bytes);
}

void FileNamesTest::display_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain/as it is") << QByteArray("写真 001.jpg") << QString("写真 001.jpg");
    QTest::newRow("kept bytes/replacement marks")
        << QByteArray("\x83\x65写真\xF0\x9F\x93\xB7")
        << QString(QChar(0xFFFD)) + 'e' + QStringLiteral("写真") + QString::fromUcs4(U"\U0001F4F7");
    // Drawn by every font, unlike the control pictures U+2400 and up.
    QTest::newRow("control/tab") << QByteArray("a\tb.jpg") << QString("a<U+0009>b.jpg");
    QTest::newRow("control/line feed and escape")
        << QByteArray("\x1b[1m\n.jpg") << QString("<U+001B>[1m<U+000A>.jpg");
    QTest::newRow("control/delete beside a kept byte")
        << QByteArray("\x7f\xff") << QString("<U+007F>") + QChar(0xFFFD);
}

void FileNamesTest::display()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(FileNames::display(FileNames::decode(bytes)), shown);
}

void FileNamesTest::urlsKeepExactBytes()
{
    // What is dragged out and dropped back names the same file, whatever its bytes.
    QRandomGenerator random(20260412);
    for (int round = 0; round < 5000; ++round) {
        QByteArray bytes(random.bounded(1, 16), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(4) == 0 ? random.bounded(0x20, 0x80)
                                               : random.bounded(0x80, 0x100));
        bytes.replace('/', '_');
        const QString path = QStringLiteral("/home/写真 %/") + FileNames::decode(bytes);
        QCOMPARE(FileNames::fromUrl(FileNames::toUrl(path)), path);
    }
    // Valid names read as any program writes them.
    const QString plain = QStringLiteral("/home/u/写真 #1?.jpg");
    QCOMPARE(FileNames::toUrl(plain), QUrl::fromLocalFile(plain));
    QCOMPARE(FileNames::fromUrl(QUrl(QStringLiteral("file://localhost/tmp/a%20b.jpg"))),
             QStringLiteral("/tmp/a b.jpg"));
    QCOMPARE(FileNames::fromUrl(QUrl(QStringLiteral("file://server/share/a.jpg"))), QString());
    QCOMPARE(FileNames::fromUrl(QUrl(QStringLiteral("https://example.org/a.jpg"))), QString());
}

QTEST_GUILESS_MAIN(FileNamesTest)
#include "tst_filenames.moc"
