#include "namepickup.h"

#include <QTest>

class NamePickupTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pickUp_data();
    void pickUp();
};

void NamePickupTest::pickUp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("baseName"); // "<unchanged>" when the name has no digit and no point
    QTest::addColumn<qint64>("next");      // -1 when the number does not fit
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("extension");

    const QString unchanged = QStringLiteral("<unchanged>");
    QTest::newRow("table/usual") << "photo007.jpg"
                                 << "photo" << qint64(8) << 3 << "jpg";
    QTest::newRow("table/IMG_") << "IMG_0001.JPG"
                                << "IMG_" << qint64(2) << 4 << "JPG";
    QTest::newRow("table/one digit") << "img5.jpg"
                                     << "img" << qint64(6) << 2 << "jpg";
    QTest::newRow("table/no digits") << "photo.jpg"
                                     << "photo" << qint64(1) << 2 << "jpg";
    QTest::newRow("table/starts with a digit") << "2002.jpg"
                                               << "" << qint64(2003) << 4 << "jpg";
    QTest::newRow("table/underscore") << "img_2002_05.jpg"
                                      << "img_" << qint64(2003) << 7 << "jpg";
    QTest::newRow("table/two points") << "a.b.jpg"
                                      << "a" << qint64(1) << 2 << "b.jpg";
    QTest::newRow("table/no point") << "img123"
                                    << "img" << qint64(13) << 2 << "";
    QTest::newRow("table/neither") << "README" << unchanged << qint64(1) << 6 << "";
    QTest::newRow("edge/seventeen zeros") << "x" + QString(17, '0') + "1.jpg"
                                          << "x" << qint64(1) << 15 << "jpg";
    QTest::newRow("edge/long name without digits")
        << "abcdefghijklmnopqrstuvwxyz" << unchanged << qint64(1) << 15 << "";
    QTest::newRow("edge/starts with a point") << ".hidden7"
                                              << "" << qint64(1) << 2 << "hidden7";
    QTest::newRow("edge/empty") << "" << unchanged << qint64(1) << 2 << "";
    QTest::newRow("range/last that fits") << "n2147483646.jpg"
                                          << "n" << qint64(2147483647) << 10 << "jpg";
    QTest::newRow("range/max itself") << "n2147483647.jpg"
                                      << "n" << qint64(-1) << 10 << "jpg";
    QTest::newRow("range/date and time") << "IMG_20261207123456.jpg"
                                         << "IMG_" << qint64(-1) << 14 << "jpg";
    QTest::newRow("range/negative") << "n-5.jpg"
                                    << "n-" << qint64(6) << 2 << "jpg";
}

void NamePickupTest::pickUp()
{
    QFETCH(QString, name);
    QFETCH(QString, baseName);
    QFETCH(qint64, next);
    QFETCH(int, digits);
    QFETCH(QString, extension);

    const PickedName picked = pickUpName(name);
    QCOMPARE(picked.baseName.value_or(QStringLiteral("<unchanged>")), baseName);
    QCOMPARE(picked.nextNumber ? qint64(*picked.nextNumber) : qint64(-1), next);
    QCOMPARE(picked.digitIndex + 1, digits);
    QCOMPARE(picked.extension, extension);
}

QTEST_GUILESS_MAIN(NamePickupTest)
#include "tst_namepickup.moc"
