#include "naming.h"
#include "numericvalue.h"
#include "renamejob.h"

#include <QTest>

#include <cmath>
#include <limits>

class NumbersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void numericValue_data();
    void numericValue();
    void rounding_data();
    void rounding();
    void numberText_data();
    void numberText();
    void plan_data();
    void plan();
    void planOverflowStopsAfterTheLastNumber();
    void planRefusesAStartThatDoesNotFit();
    void planRefusesATextLongerThan16Bits();
};

void NumbersTest::numericValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain/integer") << "7" << 7.0;
    QTest::newRow("plain/leading zeros") << "007" << 7.0;
    QTest::newRow("plain/empty") << "" << 0.0;
    QTest::newRow("plain/letters") << "abc" << 0.0;
    QTest::newRow("plain/point and letter") << ".j" << 0.0;
    QTest::newRow("plain/trailing letters") << "12abc" << 12.0;
    QTest::newRow("plain/underscore ends it") << "2002_05" << 2002.0;
    QTest::newRow("blanks/anywhere") << " 1 2\t3\n4" << 1234.0;
    QTest::newRow("blanks/cr is not ignored") << "1\r2" << 1.0;
    QTest::newRow("sign/minus") << "-5" << -5.0;
    QTest::newRow("sign/plus") << "+3" << 3.0;
    QTest::newRow("sign/alone") << "-" << 0.0;
    QTest::newRow("sign/twice") << "--5" << 0.0;
    QTest::newRow("decimal/half") << "2.5" << 2.5;
    QTest::newRow("decimal/leading point") << "-.5" << -0.5;
    QTest::newRow("decimal/second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("exponent/E") << "1E3" << 1000.0;
    QTest::newRow("exponent/D") << "1d3" << 1000.0;
    QTest::newRow("exponent/negative") << "25e-1" << 2.5;
    QTest::newRow("exponent/without digits") << "1e" << 1.0;
    QTest::newRow("exponent/sign without digits") << "1e+x" << 1.0;
    QTest::newRow("radix/hex") << "&H1F" << 31.0;
    QTest::newRow("radix/hex lower") << "&hff" << 255.0;
    QTest::newRow("radix/octal") << "&O17" << 15.0;
    QTest::newRow("radix/octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("radix/no digits") << "&H" << 0.0;
    QTest::newRow("wide/full-width digit") << "\uFF11" << 0.0;
    QTest::newRow("range/underflow") << "1e-999" << 0.0;
}

void NumbersTest::numericValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(::numericValue(text), value);
}

void NumbersTest::rounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("int16"); // INT_MIN: does not fit
    QTest::addColumn<qint64>("int32");
    const int no16 = std::numeric_limits<int>::min();
    const qint64 no32 = std::numeric_limits<qint64>::min();
    QTest::newRow("half/2.5") << 2.5 << 2 << qint64(2);
    QTest::newRow("half/3.5") << 3.5 << 4 << qint64(4);
    QTest::newRow("half/0.5") << 0.5 << 0 << qint64(0);
    QTest::newRow("half/-2.5") << -2.5 << -2 << qint64(-2);
    QTest::newRow("near/2.6") << 2.6 << 3 << qint64(3);
    QTest::newRow("edge16/32767.4") << 32767.4 << 32767 << qint64(32767);
    QTest::newRow("edge16/32767.5") << 32767.5 << no16 << qint64(32768);
    QTest::newRow("edge16/-32768.5") << -32768.5 << -32768 << qint64(-32768);
    QTest::newRow("edge32/2147483647.5") << 2147483647.5 << no16 << no32;
    QTest::newRow("edge32/-2147483648.5") << -2147483648.5 << no16 << qint64(-2147483648LL);
    QTest::newRow("inf") << std::numeric_limits<double>::infinity() << no16 << no32;
}

void NumbersTest::rounding()
{
    QFETCH(double, value);
    QFETCH(int, int16);
    QFETCH(qint64, int32);
    const auto r16 = roundToInt16(value);
    const auto r32 = roundToInt32(value);
    QCOMPARE(r16.has_value(), int16 != std::numeric_limits<int>::min());
    if (r16)
        QCOMPARE(int(*r16), int16);
    QCOMPARE(r32.has_value(), int32 != std::numeric_limits<qint64>::min());
    if (r32)
        QCOMPARE(qint64(*r32), int32);
}

void NumbersTest::numberText_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("text");
    QTest::newRow("pad") << 5 << 3 << "005";
    QTest::newRow("longer than digits") << 1234 << 3 << "1234";
    QTest::newRow("negative") << -5 << 3 << "-005";
    QTest::newRow("no padding") << 7 << 0 << "7";
    QTest::newRow("fifteen") << 1 << 15 << "000000000000001";
    QTest::newRow("smallest") << std::numeric_limits<int>::min() << 3 << "-2147483648";
}

void NumbersTest::numberText()
{
    QFETCH(int, number);
    QFETCH(int, digits);
    QFETCH(QString, text);
    QCOMPARE(Naming::numberText(number, digits), text);
}

void NumbersTest::plan_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("selection"); // one character an entry: x selected, - not
    QTest::addColumn<QStringList>("names"); // empty with digitCheck false
    QTest::addColumn<bool>("digitCheck");

    QTest::newRow("table/7 3") << "7"
                               << "3"
                               << "jpg"
                               << "xxx"
                               << QStringList{"photo007.jpg", "photo008.jpg", "photo009.jpg"}
                               << true;
    QTest::newRow("table/98 2") << "98"
                                << "2"
                                << "jpg"
                                << "xxx"
                                << QStringList{"photo98.jpg", "photo99.jpg", "photo100.jpg"}
                                << true;
    QTest::newRow("table/empty 3") << ""
                                   << "3"
                                   << "jpg"
                                   << "xx" << QStringList{"photo000.jpg", "photo001.jpg"} << true;
    QTest::newRow("table/123 2") << "123"
                                 << "2"
                                 << "jpg"
                                 << "xxx" << QStringList{} << false;
    QTest::newRow("table/05 2") << "05"
                                << "2"
                                << "jpg"
                                << "x" << QStringList{"photo05.jpg"} << true;
    QTest::newRow("start/2.5 rounds down") << "2.5"
                                           << "3"
                                           << "jpg"
                                           << "x" << QStringList{"photo002.jpg"} << true;
    QTest::newRow("start/3.5 rounds up") << "3.5"
                                         << "3"
                                         << "jpg"
                                         << "x" << QStringList{"photo004.jpg"} << true;
    QTest::newRow("start/negative")
        << "-5"
        << "3"
        << "jpg"
        << "xx" << QStringList{"photo-005.jpg", "photo-004.jpg"} << true;
    QTest::newRow("digits/none selected, empty start")
        << ""
        << ""
        << "jpg"
        << "xx" << QStringList{"photo0.jpg", "photo1.jpg"} << true;
    QTest::newRow("digits/none selected, any start") << "1"
                                                     << ""
                                                     << "jpg"
                                                     << "x" << QStringList{} << false;
    QTest::newRow("selection/gaps use no number")
        << "7"
        << "1"
        << "jpg"
        << "-x-x-" << QStringList{"photo7.jpg", "photo8.jpg"} << true;
    QTest::newRow("selection/none") << "7"
                                    << "1"
                                    << "jpg"
                                    << "---" << QStringList{} << true;
    QTest::newRow("extension/empty keeps the point") << "7"
                                                     << "3"
                                                     << ""
                                                     << "x" << QStringList{"photo007."} << true;
    QTest::newRow("extension/used as typed") << "1"
                                             << "1"
                                             << ".JPG "
                                             << "x" << QStringList{"photo1..JPG "} << true;
}

void NumbersTest::plan()
{
    QFETCH(QString, start);
    QFETCH(QString, digits);
    QFETCH(QString, extension);
    QFETCH(QString, selection);
    QFETCH(QStringList, names);
    QFETCH(bool, digitCheck);

    RenameRequest request;
    request.baseName = QStringLiteral("photo");
    request.startNumberText = start;
    request.digitCountText = digits;
    request.extension = extension;
    for (int i = 0; i < selection.size(); ++i)
        request.entries.push_back({QStringLiteral("f%1").arg(i), selection[i] == QLatin1Char('x')});

    const BatchPlan plan = planBatch(request);
    QCOMPARE(plan.digitCheckPassed, digitCheck);
    QStringList got;
    for (const auto &item : plan.items) {
        QVERIFY(request.entries[size_t(item.entryIndex)].selected);
        got.append(item.newName);
    }
    QCOMPARE(got, names);
    QCOMPARE(plan.stop, BatchPlan::Stop::None);
}

void NumbersTest::planOverflowStopsAfterTheLastNumber()
{
    RenameRequest request;
    request.baseName = QStringLiteral("n");
    request.startNumberText = QStringLiteral("2147483646");
    request.digitCountText = QStringLiteral("10");
    request.extension = QStringLiteral("jpg");
    for (int i = 0; i < 4; ++i)
        request.entries.push_back({QStringLiteral("f%1").arg(i), true});
    const BatchPlan plan = planBatch(request);
    QCOMPARE(plan.stop, BatchPlan::Stop::NumberOverflow);
    QCOMPARE(plan.items.size(), size_t(2));
    QCOMPARE(plan.items.back().newName, QStringLiteral("n2147483647.jpg"));
}

void NumbersTest::planRefusesAStartThatDoesNotFit()
{
    RenameRequest request;
    request.startNumberText = QStringLiteral("999999999999999");
    request.digitCountText = QStringLiteral("15");
    request.entries.push_back({QStringLiteral("a"), true});
    const BatchPlan plan = planBatch(request);
    QVERIFY(plan.digitCheckPassed);
    QCOMPARE(plan.stop, BatchPlan::Stop::StartOutOfRange);
    QVERIFY(plan.items.empty());
}

void NumbersTest::planRefusesATextLongerThan16Bits()
{
    RenameRequest request;
    request.startNumberText = QString(40000, QLatin1Char('0'));
    request.digitCountText = QStringLiteral("15");
    request.entries.push_back({QStringLiteral("a"), true});
    QVERIFY(!planBatch(request).digitCheckPassed);
}

QTEST_GUILESS_MAIN(NumbersTest)
#include "tst_numbers.moc"
