#include "datafiles.h"
#include "doubles.h"
#include "fieldreader.h"
#include "testfiles.h"
#include "textcodec.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

class DataFilesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fields_data();
    void fields();
    void emptySettingsRecordIs25Bytes();
    void firstStartListIs130Bytes();
    void settingsRoundTrip();
    void lastRecordWins();
    void shortFilesLeaveTheRestEmpty();
    void emptySettingsFileKeepsTheRecord();
    void setData2_data();
    void setData2();
    void getData2StopsAtTheFirstEmptySlot();
    void registration_data();
    void registration();
    void storedIndex_data();
    void storedIndex();
    void saveWritesBothFiles();
    void failedWriteKeepsThePreviousFile_data();
    void failedWriteKeepsThePreviousFile();
    void realFailingWriteReportsTheSystemReason();
    void unreadableFileCountsAsMissing();
    void shiftJisFilesStillRead();
    void existenceIgnoresHiddenNamesAndFolders();
    void readersSurviveAnyBytes();
};

void DataFilesTest::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("quoted/record") << "\"a\",\"b\"\r\n" << QStringList{"a", "b"};
    QTest::newRow("quoted/comma inside") << "\"a,b\",\"c\"\r\n" << QStringList{"a,b", "c"};
    QTest::newRow("quoted/line end inside") << "\"a\r\nb\",\"c\"" << QStringList{"a\r\nb", "c"};
    QTest::newRow("quoted/empty") << "\"\",\"\"\r\n" << QStringList{"", ""};
    QTest::newRow("quoted/no closing quote") << "\"abc" << QStringList{"abc"};
    QTest::newRow("quoted/text after the quote") << "\"a\"xy,\"b\"" << QStringList{"a", "b"};
    QTest::newRow("lines/one field a line") << "\"a\"\r\n\"b\"\r\n" << QStringList{"a", "b"};
    QTest::newRow("lines/lone LF") << "\"a\"\n\"b\"" << QStringList{"a", "b"};
    QTest::newRow("plain/unquoted") << "abc , def\r\n" << QStringList{"abc", "def"};
    QTest::newRow("plain/leading blanks") << "  \"x\",  7" << QStringList{"x", "7"};
}

void DataFilesTest::fields()
{
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    FieldReader reader(text);
    QStringList got;
    while (!reader.atEnd())
        got.append(reader.next());
    QCOMPARE(got, fields);
}

void DataFilesTest::emptySettingsRecordIs25Bytes()
{
    const QByteArray bytes = DataFiles::iniBytes(IniData{});
    QCOMPARE(bytes, QByteArray("\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n"));
    QCOMPARE(bytes.size(), 25);
}

void DataFilesTest::firstStartListIs130Bytes()
{
    ListData data;
    DataFiles::SetData2({"jpg", "bmp"}, data);
    const QByteArray bytes = DataFiles::listBytes(data);
    QCOMPARE(bytes.size(), 130);
    QCOMPARE(bytes.count("\r\n"), 31);
    QVERIFY(bytes.startsWith("\"jpg\"\r\n\"bmp\"\r\n\"\"\r\n"));
}

void DataFilesTest::settingsRoundTrip()
{
    const IniData data{"/", "/home/user/写真", "/media/usb", "/media/usb/DCIM", "a,b", "007", "0",
                       "4"};
    QCOMPARE(DataFiles::parseIni(TextCodec::decode(DataFiles::iniBytes(data))), data);
}

void DataFilesTest::lastRecordWins()
{
    const IniData data =
        DataFiles::parseIni("\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\"\r\n"
                            "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n\r\n");
    QCOMPARE(data, (IniData{"a", "b", "c", "d", "e", "f", "g", "h"}));
}

void DataFilesTest::shortFilesLeaveTheRestEmpty()
{
    QCOMPARE(DataFiles::parseIni("\"x\",\"y\"\r\n"), (IniData{"x", "y"}));
    const ListData list = DataFiles::parseList("\"gif\"\r\n\"png\"");
    QCOMPARE(list[0], QString("gif"));
    QCOMPARE(list[1], QString("png"));
    QVERIFY(
        std::all_of(list.begin() + 2, list.end(), [](const QString &s) { return s.isEmpty(); }));
}

void DataFilesTest::emptySettingsFileKeepsTheRecord()
{
    const IniData before{"keep"};
    QCOMPARE(DataFiles::parseIni("", before), before);
}

void DataFilesTest::setData2_data()
{
    QTest::addColumn<QStringList>("slots");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("gap/unchanged")
        << QStringList{"gif", "", "png"} << QStringList{"gif"} << QStringList{"gif", "", "png"};
    QTest::newRow("gap/registered fills it")
        << QStringList{"gif", "", "png"} << QStringList{"gif", "tif"}
        << QStringList{"gif", "tif", "png"};
    QTest::newRow("empty entry/ends the copy")
        << QStringList{"a", "b", "c", "d"} << QStringList{"jpg", "bmp", "", "tif"}
        << QStringList{"jpg", "bmp", "c", "d"};
}

void DataFilesTest::setData2()
{
    QFETCH(QStringList, slots);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    ListData data;
    for (int i = 0; i < slots.size(); ++i)
        data[size_t(i)] = slots[i];
    DataFiles::SetData2(entries, data);
    for (int i = 0; i < 31; ++i)
        QCOMPARE(data[size_t(i)], expected.value(i));
}

void DataFilesTest::getData2StopsAtTheFirstEmptySlot()
{
    ListData data;
    data[0] = "gif";
    data[1] = "gif";
    data[3] = "png";
    QCOMPARE(DataFiles::GetData2(data), (QStringList{"gif", "gif"}));
    for (int i = 0; i < 31; ++i)
        data[size_t(i)] = QString::number(i);
    QCOMPARE(DataFiles::GetData2(data).size(), 31);
}

void DataFilesTest::registration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("appended");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("listed") << "jpg" << false;
    QTest::newRow("other case") << "JPG" << true;
    QTest::newRow("leading blank") << " jpg" << true;
    QTest::newRow("new") << "png" << true;
}

void DataFilesTest::registration()
{
    QFETCH(QString, text);
    QFETCH(bool, appended);
    QStringList entries{"jpg", "bmp"};
    QCOMPARE(DataFiles::registerExtension(entries, text), appended);
    const QStringList expected =
        appended ? QStringList{"jpg", "bmp", text} : QStringList{"jpg", "bmp"};
    QCOMPARE(entries, expected);
}

void DataFilesTest::storedIndex_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("index"); // -99: the value counts as failed
    QTest::newRow("valid/4") << "4" << 4;
    QTest::newRow("valid/none") << "-1" << -1;
    QTest::newRow("valid/last") << "14" << 14;
    QTest::newRow("valid/not a number") << "abc" << 0;
    QTest::newRow("valid/empty") << "" << 0;
    QTest::newRow("half/4.5") << "4.5" << 4;
    QTest::newRow("half/5.5") << "5.5" << 6;
    QTest::newRow("failed/15") << "15" << -99;
    QTest::newRow("failed/-2") << "-2" << -99;
    QTest::newRow("failed/beyond 16 bits") << "99999" << -99;
}

void DataFilesTest::storedIndex()
{
    QFETCH(QString, field);
    QFETCH(int, index);
    const std::optional<int> got = DataFiles::storedIndex(field, 14);
    QCOMPARE(got.value_or(-99), index);
}

void DataFilesTest::saveWritesBothFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FaultyFileOperations files;
    const QString ini = dir.filePath("DuVuzeRezo.ini");
    const QString list = dir.filePath("ListFile.dat");
    ListData listData;
    QVERIFY(DataFiles::SaveData(files, ini, IniData{}, list, listData, {"jpg", "bmp"}));
    QCOMPARE(TestFiles::read(ini).size(), 25);
    QCOMPARE(TestFiles::read(list).size(), 130);
    QCOMPARE(files.calls.size(), 2);
    QCOMPARE(files.calls[0].second, ini); // settings first
    QCOMPARE(listData[1], QString("bmp"));

    IniData back;
    ListData listBack;
    QVERIFY(DataFiles::ReadIniFile(files, ini, back));
    QVERIFY(DataFiles::ReadListFile(files, list, listBack));
    QCOMPARE(DataFiles::GetData2(listBack), (QStringList{"jpg", "bmp"}));
}

void DataFilesTest::failedWriteKeepsThePreviousFile_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<bool>("listWritten");
    QTest::newRow("settings") << "DuVuzeRezo.ini" << false;
    QTest::newRow("list") << "ListFile.dat" << false;
}

void DataFilesTest::failedWriteKeepsThePreviousFile()
{
    QFETCH(QString, failing);
    QTemporaryDir dir;
    FaultyFileOperations files;
    const QString ini = dir.filePath("DuVuzeRezo.ini");
    const QString list = dir.filePath("ListFile.dat");
    QVERIFY(TestFiles::write(ini, "previous settings"));
    QVERIFY(TestFiles::write(list, "previous list"));
    files.failWhen = [&](FaultyFileOperations::Op, const QString &path) {
        return path.endsWith(failing);
    };
    ListData listData;
    const OpResult result = DataFiles::SaveData(files, ini, IniData{"x"}, list, listData, {"png"});
    QVERIFY(!result);
    QCOMPARE(result.path, dir.filePath(failing));
    QCOMPARE(TestFiles::read(list), QByteArray("previous list"));
    if (failing.endsWith(".ini"))
        QCOMPARE(TestFiles::read(ini), QByteArray("previous settings"));
    else
        QVERIFY(TestFiles::read(ini).startsWith("\"x\""));
}

void DataFilesTest::realFailingWriteReportsTheSystemReason()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PosixFileOperations files;
    const QString ini = dir.filePath("DuVuzeRezo.ini");
    const QString list = dir.filePath("ListFile.dat");
    QVERIFY(TestFiles::write(ini, "\"previous\"\r\n"));
    QVERIFY(TestFiles::write(list, "\"jpg\"\r\n"));
    IniData data;
    data[IniField::BaseName] = QString(200, QChar(u'写'));
    ListData listData;
    OpResult result;
    {
        // A disk that takes 16 bytes more and no more: a real write fails with EFBIG (the
        // signal it would raise is ignored), as a full disk fails with ENOSPC.
        struct rlimit saved
        {
        };
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = 16;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        result = DataFiles::SaveData(files, ini, data, list, listData, {"jpg", "png"});
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
    QVERIFY2(!result, "a failed write was reported as saved");
    QCOMPARE(result.path, ini);
    QCOMPARE(result.error, systemErrorText(EFBIG));
    QCOMPARE(TestFiles::read(ini), QByteArray("\"previous\"\r\n"));
    QCOMPARE(TestFiles::read(list), QByteArray("\"jpg\"\r\n"));
    QCOMPARE(TestFiles::names(dir.path()), (QStringList{"DuVuzeRezo.ini", "ListFile.dat"}));
}

void DataFilesTest::unreadableFileCountsAsMissing()
{
    QTemporaryDir dir;
    FaultyFileOperations files;
    const QString ini = dir.filePath("DuVuzeRezo.ini");
    QVERIFY(TestFiles::write(ini, "\"a\""));
    files.failWhen = [](FaultyFileOperations::Op op, const QString &) {
        return op == FaultyFileOperations::Op::Read;
    };
    IniData data{"untouched"};
    QVERIFY(!DataFiles::ReadIniFile(files, ini, data));
    QCOMPARE(data[0], QString("untouched"));
}

void DataFilesTest::shiftJisFilesStillRead()
{
    // "写真" in CP932, as a Japanese system writes it.
    const QByteArray cp932("\"\x8e\xca\x90\x5e\",\"jpg\"\r\n");
    QStringDecoder probe("CP932");
    if (!probe.isValid())
        QSKIP("this Qt has no CP932 decoder");
    QCOMPARE(TextCodec::decode(cp932), QString("\"写真\",\"jpg\"\r\n"));
    QCOMPARE(TextCodec::decode("\"写真\"\r\n"), QString("\"写真\"\r\n"));
}

void DataFilesTest::existenceIgnoresHiddenNamesAndFolders()
{
    QTemporaryDir dir;
    PosixFileOperations files;
    QVERIFY(TestFiles::write(dir.filePath("ListFile.dat"), ""));
    QVERIFY(TestFiles::write(dir.filePath(".ListFile.dat"), ""));
    QVERIFY(QDir(dir.path()).mkdir("DuVuzeRezo.ini"));
    QVERIFY(DataFiles::exists(files, dir.filePath("ListFile.dat")));
    QVERIFY(!DataFiles::exists(files, dir.filePath(".ListFile.dat")));
    QVERIFY(!DataFiles::exists(files, dir.filePath("DuVuzeRezo.ini")));
    QVERIFY(!DataFiles::exists(files, dir.filePath("missing")));
}

void DataFilesTest::readersSurviveAnyBytes()
{
    QRandomGenerator random(20261207);
    const QByteArray sample = DataFiles::iniBytes({"a", "b,c", "\"", "", "x", "1", "0", "4"});
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes;
        if (round % 3 == 0) {
            bytes = sample.left(random.bounded(sample.size() + 1));
        } else {
            bytes.resize(random.bounded(200));
            for (char &c : bytes)
                c = char(round % 3 == 1 ? random.bounded(256) : "\",\r\n a"[random.bounded(6)]);
        }
        const QString text = TextCodec::decode(bytes);
        const IniData ini = DataFiles::parseIni(text);
        const ListData list = DataFiles::parseList(text);
        QVERIFY(ini.size() == 8 && list.size() == 31);
    }
}

QTEST_GUILESS_MAIN(DataFilesTest)
#include "tst_datafiles.moc"
