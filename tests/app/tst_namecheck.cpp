#include "exfatdrive.h"
#include "form1fixture.h"
#include "namecheckmodel.h"
#include "namecheckwindow.h"
#include "posixfileoperations.h"
#include "quietjob.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QHeaderView>
#include <QLabel>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <optional>

#include <sys/stat.h>

class NameCheckTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rows_data();
    void rows();
    void refusedReasons_data();
    void refusedReasons();
    void namesKeepTheirBytes();
    void foretellsTheBatchOnRealFolders_data();
    void foretellsTheBatchOnRealFolders();
    void foretellsWhatTheJobDoes_data();
    void foretellsWhatTheJobDoes();
    void headers();
    void modelTester();
    void sameRowsKeepTheView();
    void targetSetFollowsTheList();
    void windowFollowsTheMainWindow();
    void oneWindowBroughtToTheFront();
    void windowTellsScreenReadersWhatItIs();
};

namespace {

using Mark = NameCheckModel::Mark;

const QString sourceFolder = QStringLiteral("/photos/in");
const QString otherFolder = QStringLiteral("/photos/out");

/// Entries written "*name" are selected.
RenameRequest request(const QStringList &entries, const QString &base, const QString &start,
                      const QString &digits, bool move = false, bool overwrite = false,
                      bool oneFolder = false)
{
    RenameRequest request;
    request.baseName = base;
    request.startNumberText = start;
    request.digitCountText = digits;
    request.extension = QStringLiteral("jpg");
    request.move = move;
    request.overwrite = overwrite;
    request.sourceFolder = sourceFolder;
    request.targetFolder = oneFolder ? sourceFolder : otherFolder;
    for (const QString &entry : entries) {
        const bool selected = entry.startsWith(QLatin1Char('*'));
        request.entries.push_back({selected ? entry.mid(1) : entry, selected});
    }
    return request;
}

QStringList markNames(const NameCheckModel &model)
{
    const QMetaEnum marks = QMetaEnum::fromType<Mark>();
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.append(QString::fromLatin1(marks.valueToKey(int(model.mark(row)))));
    return names;
}

QStringList column(const QAbstractItemModel &model, int column)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, column).data().toString());
    return texts;
}

QStringList newNames(const NameCheckModel &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.append(model.newName(row));
    return names;
}

QString oneBlock(QString message)
{
    return message.replace("\r\n", "\n");
}

void clickEntry(FileList *list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
}

/// The window has no parent: it must not outlive the test's main window.
auto endNameCheckWindow(Form1 &form)
{
    return qScopeGuard([&form] { delete form.nameCheckWindow(); });
}

} // namespace

void NameCheckTest::rows_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("oneFolder");
    QTest::addColumn<QStringList>("expectedNames");
    QTest::addColumn<QStringList>("expectedMarks");
    QTest::addColumn<QString>("expectedSummary");

    const QStringList three{"*a.jpg", "*p002.jpg", "*c.jpg"};
    const QStringList threeNames{"p001.jpg", "p002.jpg", "p003.jpg"};
    QTest::newRow("new/all-new") << QStringList{"*a.jpg", "*b.jpg"} << QStringList{} << "p"
                                 << "1"
                                 << "3" << false << false << false
                                 << QStringList{"p001.jpg", "p002.jpg"} << QStringList{"New", "New"}
                                 << "2 件: 新規 2";
    QTest::newRow("replaced/one-of-two")
        << QStringList{"*a.jpg", "*b.jpg"} << QStringList{"p002.jpg", "zz.jpg"} << "p"
        << "1"
        << "3" << false << false << false << QStringList{"p001.jpg", "p002.jpg"}
        << QStringList{"New", "Replaced"} << "2 件: 新規 1、置き換え 1";
    QTest::newRow("replaced/names-compared-exactly")
        << QStringList{"*a.jpg", "*b.jpg"} << QStringList{"P001.jpg", "p002.JPG"} << "p"
        << "1"
        << "3" << false << false << false << QStringList{"p001.jpg", "p002.jpg"}
        << QStringList{"New", "New"} << "2 件: 新規 2";
    QTest::newRow("selection/unselected-skipped")
        << QStringList{"a.jpg", "*b.jpg", "c.jpg", "*d.jpg"} << QStringList{"p001.jpg"} << "p"
        << "1"
        << "3" << false << false << false << QStringList{"p001.jpg", "p002.jpg"}
        << QStringList{"Replaced", "New"} << "2 件: 新規 1、置き換え 1";
    QTest::newRow("selection/none") << QStringList{"a.jpg"} << QStringList{} << "p"
                                    << "1"
                                    << "3" << false << false << false << QStringList{}
                                    << QStringList{} << "選択されたファイルはありません。";
    QTest::newRow("sameName/stop-without-overwrite")
        << three << QStringList{"p002.jpg"} << "p"
        << "1"
        << "3" << false << false << false << threeNames
        << QStringList{"New", "SameNameStop", "NotProcessed"}
        << "3 件: 新規 1。2 行目で停止（同じ名前があり、上書きしない設定）";
    QTest::newRow("sameName/replaced-with-overwrite")
        << three << QStringList{"p002.jpg"} << "p"
        << "1"
        << "3" << false << true << false << threeNames << QStringList{"New", "Replaced", "New"}
        << "3 件: 新規 2、置き換え 1";
    QTest::newRow("sameName/not-in-the-target")
        << three << QStringList{"p003.jpg"} << "p"
        << "1"
        << "3" << false << false << false << threeNames << QStringList{"New", "New", "Replaced"}
        << "3 件: 新規 2、置き換え 1";
    QTest::newRow("sameName/one-folder-with-overwrite")
        << three << QStringList{"a.jpg", "c.jpg", "p002.jpg"} << "p"
        << "1"
        << "3" << false << true << true << threeNames << QStringList{"New", "Unchanged", "New"}
        << "3 件: 新規 2、変更なし 1";
    QTest::newRow("sameName/one-folder-stop")
        << three << QStringList{"a.jpg", "c.jpg", "p002.jpg"} << "p"
        << "1"
        << "3" << true << false << true << threeNames
        << QStringList{"New", "SameNameStop", "NotProcessed"}
        << "3 件: 新規 1。2 行目で停止（同じ名前があり、上書きしない設定）";
    QTest::newRow("sameName/stop-at-the-first-row")
        << QStringList{"*p1.jpg", "*b.jpg"} << QStringList{"p1.jpg"} << "p"
        << "1"
        << "1" << false << false << false << QStringList{"p1.jpg", "p2.jpg"}
        << QStringList{"SameNameStop", "NotProcessed"}
        << "2 件: 処理されるファイルはありません。1 行目で停止（同じ名前があり、上書きしない設定）";

    // Renaming in place, one number down or up.
    const QStringList down{"*1.jpg", "*2.jpg", "*3.jpg"};
    const QStringList up{"*0.jpg", "*1.jpg", "*2.jpg"};
    QTest::newRow("oneFolder/move-down-frees-each-name")
        << down << QStringList{"1.jpg", "2.jpg", "3.jpg"} << ""
        << "0"
        << "1" << true << false << true << QStringList{"0.jpg", "1.jpg", "2.jpg"}
        << QStringList{"New", "New", "New"} << "3 件: 新規 3";
    QTest::newRow("oneFolder/copy-down-replaces-copied-sources")
        << down << QStringList{"1.jpg", "2.jpg", "3.jpg"} << ""
        << "0"
        << "1" << false << false << true << QStringList{"0.jpg", "1.jpg", "2.jpg"}
        << QStringList{"New", "ReplacedSource", "ReplacedSource"} << "3 件: 新規 1、置き換え 2";
    QTest::newRow("oneFolder/move-up-keeps-later-sources")
        << up << QStringList{"0.jpg", "1.jpg", "2.jpg"} << ""
        << "1"
        << "1" << true << false << true << QStringList{"1.jpg", "2.jpg", "3.jpg"}
        << QStringList{"NewBesideRenamed", "NewBesideRenamed", "New"} << "3 件: 新規 3";
    QTest::newRow("oneFolder/copy-up-keeps-later-sources")
        << up << QStringList{"0.jpg", "1.jpg", "2.jpg"} << ""
        << "1"
        << "1" << false << false << true << QStringList{"1.jpg", "2.jpg", "3.jpg"}
        << QStringList{"NewBesideRenamed", "NewBesideRenamed", "New"} << "3 件: 新規 3";
    QTest::newRow("oneFolder/unselected-neighbour-replaced")
        << QStringList{"*0.jpg", "1.jpg"} << QStringList{"0.jpg", "1.jpg"} << ""
        << "1"
        << "1" << true << false << true << QStringList{"1.jpg"} << QStringList{"Replaced"}
        << "1 件: 置き換え 1";
    QTest::newRow("oneFolder/other-folder-moves-free-nothing")
        << down << QStringList{"1.jpg", "2.jpg", "3.jpg"} << ""
        << "0"
        << "1" << true << false << false << QStringList{"0.jpg", "1.jpg", "2.jpg"}
        << QStringList{"New", "Replaced", "Replaced"} << "3 件: 新規 1、置き換え 2";

    // A source that an earlier step replaces while the batch stops before it.
    const QStringList strandable{"*x.jpg", "*p2.jpg", "*p1.jpg"};
    BatchLayout stranded;
    stranded.stranded = sourceFolder + "/p1.jpg";
    stranded.strandedBySameName = true;
    QTest::newRow("stranded/by-the-same-name-stop")
        << strandable << QStringList{"p1.jpg", "p2.jpg", "x.jpg"} << "p"
        << "1"
        << "1" << false << false << true << QStringList{"p1.jpg", "p2.jpg", "p3.jpg"}
        << QStringList{"NotProcessed", "NotProcessed", "Stranded"}
        << oneBlock(RenameJob::strandedMessage(stranded));
    stranded.stranded = sourceFolder + "/P1.jpg";
    QTest::newRow("stranded/letter-case-ignored")
        << QStringList{"*x.jpg", "*p2.jpg", "*P1.jpg"} << QStringList{"P1.jpg", "p2.jpg", "x.jpg"}
        << "p"
        << "1"
        << "1" << false << false << true << QStringList{"p1.jpg", "p2.jpg", "p3.jpg"}
        << QStringList{"NotProcessed", "NotProcessed", "Stranded"}
        << oneBlock(RenameJob::strandedMessage(stranded));
    stranded.stranded = sourceFolder + "/2147483647.jpg";
    stranded.strandedBySameName = false;
    QTest::newRow("stranded/by-the-number-limit")
        << QStringList{"*x.jpg", "*2147483647.jpg"} << QStringList{"2147483647.jpg", "x.jpg"} << ""
        << "2147483647"
        << "10" << false << false << true << QStringList{"2147483647.jpg", ""}
        << QStringList{"NotProcessed", "Stranded"}
        << oneBlock(RenameJob::strandedMessage(stranded));
    QTest::newRow("stranded/not-across-folders")
        << strandable << QStringList{"p1.jpg", "p2.jpg"} << "p"
        << "1"
        << "1" << false << false << false << QStringList{"p1.jpg", "p2.jpg", "p3.jpg"}
        << QStringList{"Replaced", "SameNameStop", "NotProcessed"}
        << "3 件: 置き換え 1。2 行目で停止（同じ名前があり、上書きしない設定）";
    QTest::newRow("stranded/not-with-overwrite")
        << strandable << QStringList{"p1.jpg", "p2.jpg", "x.jpg"} << "p"
        << "1"
        << "1" << false << true << true << QStringList{"p1.jpg", "p2.jpg", "p3.jpg"}
        << QStringList{"NewBesideRenamed", "Unchanged", "New"} << "3 件: 新規 2、変更なし 1";

    // Unusable names refuse the whole batch; only the unusable rows say so.
    const auto refused = [](const QString &name, NameProblem problem, int nameMax = 255) {
        BatchPlan plan;
        plan.nameProblem = problem;
        plan.refusedName = name;
        return oneBlock(RenameJob::nameRefusedMessage(plan, nameMax));
    };
    const QString x249(249, 'x');
    QTest::newRow("refused/slash")
        << QStringList{"*a.jpg", "*b.jpg"} << QStringList{} << "a/b"
        << "1"
        << "1" << false << false << false << QStringList{"a/b1.jpg", "a/b2.jpg"}
        << QStringList{"Refused", "Refused"} << refused("a/b1.jpg", NameProblem::Slash);
    QTest::newRow("refused/control-character")
        << QStringList{"*a.jpg"} << QStringList{} << "a\nb"
        << "1"
        << "1" << false << false << false << QStringList{"a\nb1.jpg"} << QStringList{"Refused"}
        << refused("a\nb1.jpg", NameProblem::Control);
    QTest::newRow("refused/hidden")
        << QStringList{"*a.jpg"} << QStringList{} << "."
        << "1"
        << "1" << false << false << false << QStringList{".1.jpg"} << QStringList{"Refused"}
        << refused(".1.jpg", NameProblem::Hidden);
    QTest::newRow("refused/only-the-long-one")
        << QStringList{"*a.jpg", "*b.jpg"} << QStringList{} << x249 << "99"
        << "2" << false << false << false << QStringList{x249 + "99.jpg", x249 + "100.jpg"}
        << QStringList{"NotProcessed", "Refused"}
        << refused(x249 + "100.jpg", NameProblem::TooLong);

    const QStringList four{"*a.jpg", "*b.jpg", "*c.jpg", "*d.jpg"};
    QTest::newRow("limit/stops-after-2147483647")
        << four << QStringList{"p2147483647.jpg"} << "p"
        << "2147483646"
        << "10" << false << false << false
        << QStringList{"p2147483646.jpg", "p2147483647.jpg", "", ""}
        << QStringList{"New", "Replaced", "NumberLimit", "NotProcessed"}
        << "4 件: 新規 1、置き換え 1。連番が上限の 2147483647 に達するため、2 行目のあとで中断";
    QTest::newRow("limit/last-entry-takes-the-limit")
        << QStringList{"*a.jpg", "*b.jpg"} << QStringList{} << "p"
        << "2147483646"
        << "10" << false << false << false << QStringList{"p2147483646.jpg", "p2147483647.jpg"}
        << QStringList{"New", "New"} << "2 件: 新規 2";
    QTest::newRow("limit/start-out-of-range")
        << QStringList{"*a.jpg", "b.jpg", "*c.jpg"} << QStringList{} << "p"
        << "2147483648"
        << "10" << false << false << false << QStringList{"", ""}
        << QStringList{"NotProcessed", "NotProcessed"}
        << "開始番号「2147483648」が扱える範囲（-2147483648 から 2147483647）を超えているため、"
           "リネームを始めませんでした。\nファイルは何も変更していません。";

    QTest::newRow("digits/start-longer-than-the-count")
        << four << QStringList{} << "p"
        << "123"
        << "2" << false << false << false << QStringList{} << QStringList{}
        << RenameJob::digitCheckMessage();
    QTest::newRow("digits/no-count-chosen") << four << QStringList{} << "p"
                                            << "1"
                                            << "" << false << false << false << QStringList{}
                                            << QStringList{} << RenameJob::digitCheckMessage();
}

void NameCheckTest::rows()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, targets);
    QFETCH(QString, base);
    QFETCH(QString, start);
    QFETCH(QString, digits);
    QFETCH(bool, move);
    QFETCH(bool, overwrite);
    QFETCH(bool, oneFolder);
    QFETCH(QStringList, expectedNames);
    QFETCH(QStringList, expectedMarks);
    QFETCH(QString, expectedSummary);

    NameCheckModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setRequest(request(entries, base, start, digits, move, overwrite, oneFolder), targets);

    QCOMPARE(newNames(model), expectedNames);
    QCOMPARE(markNames(model), expectedMarks);
    QCOMPARE(model.summary(), expectedSummary);
    if (!expectedNames.isEmpty()) {
        // Rows are the selected entries, in list order.
        QStringList selected = entries.filter(QRegularExpression("^\\*"));
        selected.replaceInStrings(QRegularExpression("^\\*"), QString());
        QCOMPARE(column(model, NameCheckModel::OldNameColumn), selected);
    }
    for (int row = 0; row < model.rowCount(); ++row) {
        const NameProblem problem = model.mark(row) == Mark::Refused
                                        ? checkNewName(model.newName(row), 255)
                                        : NameProblem::None;
        QCOMPARE(model.index(row, NameCheckModel::OutcomeColumn).data().toString(),
                 NameCheckModel::markText(model.mark(row), problem));
    }
}

void NameCheckTest::refusedReasons_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("expected");
    QTest::newRow("refused/slash") << "a/b"
                                   << "使えない名前（「/」を含む）";
    QTest::newRow("refused/tab") << "a\tb"
                                 << "使えない名前（制御文字を含む）";
    QTest::newRow("refused/delete") << QString("a\x7F") << "使えない名前（制御文字を含む）";
    QTest::newRow("refused/hidden") << "."
                                    << "使えない名前（「.」で始まる）";
    QTest::newRow("refused/too-long") << QString(252, QChar(0x3042)) << "使えない名前（長すぎる）";
}

void NameCheckTest::refusedReasons()
{
    QFETCH(QString, base);
    QFETCH(QString, expected);
    NameCheckModel model;
    model.setRequest(request({"*a.jpg"}, base, "1", "1"), {});
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, NameCheckModel::OutcomeColumn).data().toString(), expected);
}

void NameCheckTest::namesKeepTheirBytes()
{
    // Bytes that are not UTF-8 are kept as lone surrogates and shown as U+FFFD.
    const QString keptSource = QString("a") + QChar(0xDCE9) + ".jpg";
    const QString keptBase = QString("p") + QChar(0xDCFF);
    const QString replacement(QChar::ReplacementCharacter);
    NameCheckModel model;
    // The target holds the first new name exactly, and the second only as it is shown.
    model.setRequest(request({"*" + keptSource, "*b.jpg"}, keptBase, "1", "1"),
                     {keptBase + "1.jpg", "p" + replacement + "2.jpg"});

    QCOMPARE(model.newName(0), keptBase + "1.jpg");
    QCOMPARE(markNames(model), (QStringList{"Replaced", "New"}));
    QCOMPARE(column(model, NameCheckModel::OldNameColumn),
             (QStringList{"a" + replacement + ".jpg", "b.jpg"}));
    QCOMPARE(column(model, NameCheckModel::NewNameColumn),
             (QStringList{"p" + replacement + "1.jpg", "p" + replacement + "2.jpg"}));

    model.setRequest(request({"*a.jpg"}, "a\tb\x7F", "1", "1"), {});
    QCOMPARE(model.index(0, NameCheckModel::NewNameColumn).data().toString(),
             QString("a<U+0009>b<U+007F>1.jpg"));
    QCOMPARE(model.newName(0), QString("a\tb\x7F"
                                       "1.jpg"));
}

void NameCheckTest::foretellsTheBatchOnRealFolders_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("standing");
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QStringList>("expectedMarks");
    QTest::addColumn<QString>("expectedSummary");

    // Targets: "dcim" another folder, "view" a link to the source folder, "stick" an exFAT
    // drive. Standing entries: "name" a file, "name/" a folder, "name|" a pipe, "name>text" a
    // link.
    BatchLayout stranded;
    stranded.stranded = "photos/p2147483647.jpg";
    QTest::newRow("oneFolder/through-a-link-refused")
        << QStringList{"a.jpg", "p2147483647.jpg"} << "view" << QStringList{} << "2147483647"
        << false << false << QStringList{"NotProcessed", "Stranded"}
        << oneBlock(RenameJob::strandedMessage(stranded));
    QTest::newRow("oneFolder/through-a-link-moves-free-names")
        << QStringList{"p2.jpg", "p3.jpg", "p4.jpg"} << "view" << QStringList{} << "1" << true
        << false << QStringList{"New", "New", "New"} << "3 件: 新規 3";

    QTest::newRow("case/exfat-replaces-another-spelling")
        << QStringList{"a.jpg", "b.jpg"} << "stick" << QStringList{"P1.JPG"} << "1" << false
        << false << QStringList{"Replaced", "New"} << "2 件: 新規 1、置き換え 1";
    QTest::newRow("case/exfat-same-name-stop")
        << QStringList{"p1.jpg", "q.jpg"} << "stick" << QStringList{"P1.JPG"} << "1" << false
        << false << QStringList{"SameNameStop", "NotProcessed"}
        << "2 件: 処理されるファイルはありません。1 行目で停止（同じ名前があり、上書きしない設定）";
    // Listed first, ß has no other spelling of its own length, which the drive does not find.
    QTest::newRow("case/exfat-told-by-a-plain-spelling")
        << QStringList{"a.jpg", "b.jpg"} << "stick" << QStringList{"1ß.jpg", "P1.JPG"} << "1"
        << false << false << QStringList{"Replaced", "New"} << "2 件: 新規 1、置き換え 1";
    QTest::newRow("case/other-drives-compare-case")
        << QStringList{"a.jpg", "b.jpg"} << "dcim" << QStringList{"P1.JPG"} << "1" << false << false
        << QStringList{"New", "New"} << "2 件: 新規 2";

    QTest::newRow("link/dangling-goes-to-the-trash")
        << QStringList{"a.jpg", "b.jpg"} << "dcim" << QStringList{"p2.jpg>nowhere"} << "1" << false
        << false << QStringList{"New", "Replaced"} << "2 件: 新規 1、置き換え 1";
    QTest::newRow("link/to-a-folder-goes-to-the-trash")
        << QStringList{"a.jpg"} << "dcim" << QStringList{"inner/", "p1.jpg>inner"} << "1" << true
        << false << QStringList{"Replaced"} << "1 件: 置き換え 1";

    BatchLayout blocked;
    blocked.blocked = "dcim/p2.jpg";
    blocked.blockedIsFolder = true;
    QTest::newRow("blocked/folder")
        << QStringList{"a.jpg", "b.jpg", "c.jpg"} << "dcim" << QStringList{"p1.jpg", "p2.jpg/"}
        << "1" << false << true << QStringList{"NotProcessed", "Blocked", "NotProcessed"}
        << oneBlock(RenameJob::blockedMessage(blocked));
    blocked.blocked = "stick/p1.jpg";
    QTest::newRow("blocked/exfat-folder-in-another-spelling")
        << QStringList{"a.jpg"} << "stick" << QStringList{"P1.JPG/"} << "1" << false << false
        << QStringList{"Blocked"} << oneBlock(RenameJob::blockedMessage(blocked));
    blocked.blocked = "dcim/p1.jpg";
    blocked.blockedIsFolder = false;
    QTest::newRow("blocked/pipe") << QStringList{"a.jpg"} << "dcim" << QStringList{"p1.jpg|"} << "1"
                                  << true << true << QStringList{"Blocked"}
                                  << oneBlock(RenameJob::blockedMessage(blocked));
}

void NameCheckTest::foretellsTheBatchOnRealFolders()
{
    QFETCH(QStringList, sources);
    QFETCH(QString, target);
    QFETCH(QStringList, standing);
    QFETCH(QString, start);
    QFETCH(bool, move);
    QFETCH(bool, overwrite);
    QFETCH(QStringList, expectedMarks);
    QFETCH(QString, expectedSummary);

    Form1Fixture f;
    const QString photos = f.path("a/photos");
    for (const QString &name : std::as_const(sources))
        QVERIFY(TestFiles::write(photos + '/' + name, name.toUtf8()));
    std::unique_ptr<ExfatDrive> drive;
    if (target == "stick") {
        drive = std::make_unique<ExfatDrive>(f.path("stick.img"), f.path("b/stick"));
        if (!drive->skipReason.isEmpty())
            QSKIP(qPrintable(drive->skipReason));
    } else if (target == "view") {
        QVERIFY(QFile::link(photos, f.path("b/view")));
    }
    const QString folder = f.path("b/" + target);
    for (const QString &entry : std::as_const(standing)) {
        const QString name = entry.section(QRegularExpression("[/|>]"), 0, 0);
        const QByteArray path = QFile::encodeName(folder + '/' + name);
        if (entry.endsWith('/'))
            QVERIFY(QDir().mkpath(folder + '/' + name));
        else if (entry.endsWith('|'))
            QVERIFY(::mkfifo(path.constData(), 0644) == 0);
        else if (entry.contains('>'))
            QVERIFY(QFile::link(entry.section('>', 1), folder + '/' + name));
        else
            QVERIFY(TestFiles::write(folder + '/' + name, "standing"));
    }

    Form1 &form = f.start();
    const auto endWindow = endNameCheckWindow(form);
    const Form1Controls &ui = f.ui();
    ui.Dir1->setPath(photos);
    ui.Dir2->setPath(folder);
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    ui.Text1->setText("p");
    ui.Text2->setText(start);
    ui.List1->setCurrentRow(int(start.size()) - 1);
    ui.Combo1->setEditText("jpg");
    ui.Check1->setChecked(move);
    ui.Check2->setChecked(overwrite);
    ui.mnuNameCheck->trigger();
    NameCheckWindow *window = form.nameCheckWindow();
    QVERIFY(window);
    QAbstractItemModelTester tester(window->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(markNames(*window->model()), expectedMarks);
    QCOMPARE(window->summary()->text(), expectedSummary.replace("photos/", photos + '/')
                                            .replace("dcim/", f.path("b/dcim/"))
                                            .replace("stick/", f.path("b/stick/")));
    window->close();
    form.close();
}

namespace {

/// What a batch does with one item, as the job's record tells it and as a mark foretells it.
enum class Done
{
    Created,   ///< nothing stood under the new name
    CarriedOn, ///< a source whose content goes on elsewhere was replaced, without the trash
    Trashed,   ///< what stood there went to the trash
    Kept       ///< the new name already was the file
};

Done doneFor(Mark mark)
{
    switch (mark) {
    case Mark::New:
        return Done::Created;
    case Mark::NewBesideRenamed:
    case Mark::ReplacedSource:
        return Done::CarriedOn;
    case Mark::Unchanged:
        return Done::Kept;
    default:
        return Done::Trashed;
    }
}

std::optional<Done> doneBy(const JobResult &result, int item)
{
    bool acted = false, kept = false, replaced = false;
    for (const JobAction &action : result.record) {
        if (action.item != item || action.kind == JobAction::Kind::SetAside ||
            action.kind == JobAction::Kind::Removed || action.kind == JobAction::Kind::Restored)
            continue;
        acted = true;
        if (!action.trashedAs().isEmpty())
            return Done::Trashed;
        kept = kept || action.kind == JobAction::Kind::Kept;
        replaced = replaced || action.replaced || action.kind == JobAction::Kind::Replaced;
    }
    if (!acted)
        return std::nullopt;
    return kept ? Done::Kept : replaced ? Done::CarriedOn : Done::Created;
}

/// Where the window and the job part ways, or empty when they agree.
QString disagreement(const NameCheckModel &model, const JobResult &result)
{
    const QStringList marks = markNames(model);
    const bool refused =
        marks.contains("Refused") || marks.contains("Stranded") || marks.contains("Blocked");
    if (refused || result.outcome == JobResult::Outcome::Refused) {
        if (!refused || result.outcome != JobResult::Outcome::Refused)
            return "refused by one only: " + result.refusal + " / " + model.summary();
        return oneBlock(result.refusal) == model.summary()
                   ? QString()
                   : "refused for another reason: " + result.refusal + " / " + model.summary();
    }
    qsizetype stop = marks.indexOf("SameNameStop");
    JobResult::Outcome outcome =
        stop >= 0 ? JobResult::Outcome::SameNameStop : JobResult::Outcome::Completed;
    if (stop < 0 && model.summary().contains("連番が上限")) {
        stop = marks.indexOf("NumberLimit");
        outcome = JobResult::Outcome::Interrupted;
    }
    if (result.outcome != outcome)
        return QString("the job ended as %1: %2")
            .arg(int(result.outcome))
            .arg(result.failure.error);
    if (result.replacedNotKept > 0)
        return "a replaced file was not kept";
    for (int row = 0; row < model.rowCount(); ++row) {
        const std::optional<Done> done = doneBy(result, row);
        if (stop >= 0 && row >= stop) {
            if (done)
                return QString("row %1 was done after the stop").arg(row);
            continue;
        }
        if (!done || *done != doneFor(model.mark(row)))
            return QString("row %1 (%2 -> %3) done as %4")
                .arg(row)
                .arg(model.index(row, 0).data().toString(), model.newName(row))
                .arg(done ? int(*done) : -1);
    }
    return {};
}

/// Random folders for one batch: files and links among the sources; files, links, dangling
/// links, folders and pipes under the names a batch may give.
class Scene
{
public:
    Scene(QRandomGenerator &random, bool linksAndPipes) : m_random(random), m_special(linksAndPipes)
    {}

    bool chance(int percent) { return int(m_random.bounded(100)) < percent; }

    void fill(const QString &in, const QString &out, bool oneFolder)
    {
        QStringList names{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg",  "P1.jpg",         "P2.JPG",
                          "p4.JPG", "a.jpg",  "b.jpg",  "p01.jpg", "p2147483647.jpg"};
        std::shuffle(names.begin(), names.end(), m_random);
        for (const QString &name : std::as_const(names)) {
            if (chance(55))
                addSource(in, name, out);
            if (!oneFolder && chance(50))
                addStanding(out, name, in);
            else if (oneFolder && chance(15))
                addStanding(in, name, in);
        }
    }

private:
    static bool taken(const QString &path)
    {
        // A drive that ignores case finds other spellings too.
        struct stat st
        {
        };
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
    }

    void addSource(const QString &folder, const QString &name, const QString &other)
    {
        const QString path = folder + '/' + name;
        if (taken(path))
            return;
        if (m_special && chance(20)) {
            // A link to a file beside it or in the other folder, made if there is one.
            const QString to = (chance(50) ? folder : other) + '/' + name.toUpper();
            if (taken(to))
                QFile::link(to, path);
            return;
        }
        TestFiles::write(path, "source " + path.toUtf8());
    }

    void addStanding(const QString &folder, const QString &name, const QString &other)
    {
        const QString path = folder + '/' + name;
        if (taken(path))
            return;
        const int kind = int(m_random.bounded(m_special ? 100 : 80));
        if (kind < 60) {
            TestFiles::write(path, "standing " + path.toUtf8());
        } else if (kind < 80) {
            QDir().mkdir(path);
        } else if (kind < 86) {
            ::mkfifo(QFile::encodeName(path).constData(), 0644);
        } else if (kind < 92) {
            QFile::link(other + "/nowhere", path);
        } else if (kind < 96) {
            QFile::link(other, path);
        } else {
            QFile::link(other + "/a.jpg", path);
        }
    }

    QRandomGenerator &m_random;
    bool m_special;
};

} // namespace

void NameCheckTest::foretellsWhatTheJobDoes_data()
{
    QTest::addColumn<QString>("drive");
    QTest::addColumn<int>("batches");
    QTest::newRow("local") << "local" << 600;
    QTest::newRow("exfat") << "exfat" << 150;
}

void NameCheckTest::foretellsWhatTheJobDoes()
{
    // The window's prediction against what the job then did, batch by batch, on real folders.
    QFETCH(QString, drive);
    QFETCH(int, batches);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
    QVERIFY(QDir().mkpath(root.path() + "/program"));
    std::unique_ptr<ExfatDrive> stick;
    if (drive == "exfat") {
        stick = std::make_unique<ExfatDrive>(root.path() + "/stick.img", root.path() + "/stick");
        if (!stick->skipReason.isEmpty())
            QSKIP(qPrintable(stick->skipReason));
    }
    bool seeded = false;
    const quint64 seed = qEnvironmentVariable("KAENAMI_SEED").toULongLong(&seeded);
    const quint64 used = seeded ? seed : QRandomGenerator::system()->generate64();
    QRandomGenerator random(used);

    PosixFileOperations files;
    QuietProgress progress;
    QuietHost host;
    RecordingMessageBoxes messages;
    RenameJob job(files, progress, messages, host, root.path() + "/program");
    QStringList wrong;
    int refused = 0, stopped = 0, trashed = 0, carried = 0, kept = 0;
    for (int batch = 0; batch < batches; ++batch) {
        // Locally: two folders, one folder, or one folder seen through a link. On the exFAT
        // drive the target lies there, the sources on the local disk.
        const int layout = stick ? 0 : int(random.bounded(3));
        const QString local = root.path() + QString("/%1").arg(batch);
        const QString far = stick ? root.path() + QString("/stick/%1").arg(batch) : local;
        const QString in = stick && layout > 0 ? far + "/in" : local + "/in";
        const QString out = layout == 2 ? in : (stick ? far : local) + "/out";
        QVERIFY2(QDir().mkpath(in) && QDir().mkpath(out), qPrintable(in));
        Scene(random, !stick).fill(in, out, layout == 2);
        QString targetPath = out;
        if (!stick && layout == 2) {
            targetPath = local + "/view";
            QVERIFY(QFile::link(in, targetPath));
        }

        RenameRequest request;
        request.baseName = "p";
        request.startNumberText =
            random.bounded(8) == 0 ? "2147483646" : QString::number(random.bounded(4));
        request.digitCountText = QString::number(request.startNumberText.size());
        request.extension = random.bounded(4) == 0 ? "JPG" : "jpg";
        request.move = random.bounded(2);
        request.overwrite = random.bounded(2);
        request.sourceFolder = in;
        request.targetFolder = targetPath;
        QStringList sources;
        QVERIFY(files.listFiles(in, sources));
        std::shuffle(sources.begin(), sources.end(), random);
        for (const QString &name : std::as_const(sources))
            request.entries.push_back({name, random.bounded(4) > 0});
        QStringList targetNames;
        QVERIFY(files.listFiles(targetPath, targetNames));

        NameCheckModel model;
        model.setFileOperations(&files);
        model.setRequest(request, targetNames);
        const JobResult result = job.run(request);
        if (const QString why = disagreement(model, result); !why.isEmpty()) {
            wrong.append(QString("batch %1 (%2, move %3, overwrite %4, %5): %6 [%7]")
                             .arg(batch)
                             .arg(layout)
                             .arg(request.move)
                             .arg(request.overwrite)
                             .arg(markNames(model).join(' '), why, model.summary()));
        }
        refused += result.outcome == JobResult::Outcome::Refused;
        stopped += result.outcome == JobResult::Outcome::SameNameStop;
        for (int row = 0; row < model.rowCount(); ++row) {
            trashed += model.mark(row) == Mark::Replaced;
            carried += model.mark(row) == Mark::ReplacedSource ||
                       model.mark(row) == Mark::NewBesideRenamed;
            kept += model.mark(row) == Mark::Unchanged;
        }
        TestFiles::removeTree(QFile::encodeName(local));
        if (stick)
            TestFiles::removeTree(QFile::encodeName(far));
    }
    qInfo("%s, seed %llu: %d batches, %d disagreements (refused %d, same-name stops %d; rows "
          "replaced %d, carried on %d, unchanged %d)",
          qPrintable(drive), qulonglong(used), batches, int(wrong.size()), refused, stopped,
          trashed, carried, kept);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 8).join('\n')));
    // The batches must reach every kind of outcome, or they prove little.
    QVERIFY2(refused > 0 && stopped > 0 && trashed > 0, "too few kinds of outcome");
    // Sources and targets share a folder only on the local disk.
    QVERIFY2(stick || (carried > 0 && kept > 0), "too few kinds of outcome");
}

void NameCheckTest::headers()
{
    NameCheckModel model;
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("元の名前"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("新しい名前"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("結果"));
    model.setRequest(request({"*a.jpg", "*b.jpg"}, "p", "1", "1"), {});
    QCOMPARE(model.headerData(1, Qt::Vertical).toInt(), 2);
    QVERIFY2(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable), "the rows are read only");
}

void NameCheckTest::modelTester()
{
    NameCheckModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QStringList targets{"p2.jpg"};
    model.setRequest(request({"*a.jpg", "*b.jpg", "*c.jpg"}, "p", "1", "1"), targets);
    model.setRequest(request({"*a.jpg", "*b.jpg", "*c.jpg"}, "q", "1", "1"), targets);
    model.setRequest(request({"*a.jpg", "b.jpg", "*c.jpg"}, "q", "1", "1"), targets);
    model.setRequest(request({"*a.jpg"}, "q", "123", "1"), targets);
    model.setRequest(request({"*a.jpg", "*p2.jpg", "*c.jpg"}, "p", "1", "1"), targets);
    model.setRequest(request({}, "p", "1", "1"), {});
    QCOMPARE(model.rowCount(), 0);
}

void NameCheckTest::sameRowsKeepTheView()
{
    NameCheckModel model;
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    model.setRequest(request({"*a.jpg", "*b.jpg"}, "p", "1", "1"), {});
    QCOMPARE(resets.size(), 1);

    // Typing changes names, not rows: the view keeps its place.
    model.setRequest(request({"*a.jpg", "*b.jpg"}, "pq", "1", "1"), {});
    QCOMPARE(resets.size(), 1);
    QCOMPARE(changes.size(), 1);
    const QModelIndex topLeft = changes.first().at(0).toModelIndex();
    const QModelIndex bottomRight = changes.first().at(1).toModelIndex();
    QVERIFY2(topLeft == model.index(0, 0) && bottomRight == model.index(1, 2),
             "every cell is reported changed");
    QCOMPARE(model.index(1, NameCheckModel::NewNameColumn).data().toString(), QString("pq2.jpg"));

    model.setRequest(request({"*a.jpg", "b.jpg"}, "pq", "1", "1"), {});
    QCOMPARE(resets.size(), 2);
    QCOMPARE(model.rowCount(), 1);
}

void NameCheckTest::targetSetFollowsTheList()
{
    NameCheckModel model;
    QStringList targets{"p1.jpg"};
    const RenameRequest twoEntries = request({"*a.jpg", "*b.jpg"}, "p", "1", "1");
    model.setRequest(twoEntries, targets);
    QCOMPARE(markNames(model), (QStringList{"Replaced", "New"}));
    model.setRequest(twoEntries, targets);
    const QStringList shared = targets;
    model.setRequest(twoEntries, shared);
    QVERIFY2(model.targetSetBuilds() == 1, "an unchanged list is not looked at again");

    targets.append("p2.jpg");
    model.setRequest(twoEntries, targets);
    QCOMPARE(markNames(model), (QStringList{"Replaced", "Replaced"}));
    targets[1] = "p3.jpg";
    model.setRequest(twoEntries, targets);
    QCOMPARE(markNames(model), (QStringList{"Replaced", "New"}));
    model.setRequest(twoEntries, QStringList{"p2.jpg"});
    QCOMPARE(markNames(model), (QStringList{"New", "Replaced"}));
    QCOMPARE(model.targetSetBuilds(), 4);
}

void NameCheckTest::windowFollowsTheMainWindow()
{
    Form1Fixture f;
    for (const char *name : {"a.png", "b.png", "photo003.png"})
        QVERIFY(TestFiles::write(f.path("a/home/") + name, name));
    for (const char *name : {"photo002.png", "photo003.png"})
        QVERIFY(TestFiles::write(f.path("b/dcim/") + name, "old"));
    Form1 &form = f.start();
    const auto endWindow = endNameCheckWindow(form);
    const Form1Controls &ui = f.ui();
    ui.Dir2->setPath(f.path("b/dcim"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    ui.mnuNameCheck->trigger();
    NameCheckWindow *window = form.nameCheckWindow();
    QVERIFY2(window && window->isVisible(), "the menu entry opens the window");
    QAbstractItemModelTester tester(window->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(window->windowTitle(), QString("名前の確認"));
    QCOMPARE(window->table()->model(), window->model());
    QCOMPARE(window->table()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(window->model()->rowCount(), 0);
    QCOMPARE(window->summary()->text(), QString("選択されたファイルはありません。"));

    const NameCheckModel &model = *window->model();
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    QCOMPARE(column(model, NameCheckModel::OldNameColumn),
             (QStringList{"a.png", "b.png", "photo003.png"}));
    QCOMPARE(model.newName(0), QString("00000.jpg"));

    QTest::keyClicks(ui.Text1, "photo");
    QCOMPARE(model.newName(0), QString("photo00000.jpg"));
    ui.Text2->selectAll();
    QTest::keyClicks(ui.Text2, "1");
    QCOMPARE(model.newName(0), QString("photo00001.jpg"));
    ui.List1->setCurrentRow(2);
    QCOMPARE(model.newName(0), QString("photo001.jpg"));
    ui.Combo1->lineEdit()->selectAll();
    QTest::keyClicks(ui.Combo1->lineEdit(), "png");
    QCOMPARE(newNames(model), (QStringList{"photo001.png", "photo002.png", "photo003.png"}));
    QCOMPARE(markNames(model), (QStringList{"New", "Replaced", "SameNameStop"}));
    QCOMPARE(window->summary()->text(),
             QString("3 件: 新規 1、置き換え 1。3 行目で停止（同じ名前があり、上書きしない設定）"));

    QTest::mouseClick(ui.Check2, Qt::LeftButton);
    QCOMPARE(markNames(model), (QStringList{"New", "Replaced", "Replaced"}));
    QCOMPARE(window->summary()->text(), QString("3 件: 新規 1、置き換え 2"));

    clickEntry(ui.File1, 1);
    QCOMPARE(column(model, NameCheckModel::OldNameColumn), QStringList{"b.png"});
    QCOMPARE(markNames(model), QStringList{"New"});

    // A reloaded target list is looked up again.
    QVERIFY(TestFiles::write(f.path("b/dcim/photo001.png"), "old"));
    QTest::mouseClick(ui.Command5, Qt::LeftButton);
    ui.File1->setSelected(1, true);
    QCOMPARE(markNames(model), QStringList{"Replaced"});

    // Looking changes nothing on disk.
    QCOMPARE(TestFiles::names(f.path("b/dcim")),
             (QStringList{"photo001.png", "photo002.png", "photo003.png"}));
    QCOMPARE(TestFiles::names(f.path("a/home")), (QStringList{"a.png", "b.png", "photo003.png"}));
    QVERIFY(f.messages.informed.isEmpty());

    // In one folder, a move frees each source name for the next new name.
    for (const char *name : {"1.png", "2.png"})
        QVERIFY(TestFiles::write(f.path("a/photos/") + name, name));
    ui.Dir1->setPath(f.path("a/photos"));
    ui.Dir2->setPath(f.path("a/photos"));
    QTest::mouseClick(ui.Command4, Qt::LeftButton);
    ui.Text1->clear();
    ui.Text2->setText("0");
    ui.List1->setCurrentRow(0);
    QCOMPARE(newNames(model), (QStringList{"0.png", "1.png"}));
    QCOMPARE(markNames(model), (QStringList{"New", "ReplacedSource"}));
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QCOMPARE(markNames(model), (QStringList{"New", "New"}));
}

void NameCheckTest::oneWindowBroughtToTheFront()
{
    Form1Fixture f;
    QVERIFY(TestFiles::write(f.path("a/home/a.jpg"), ""));
    Form1 &form = f.start();
    const auto endWindow = endNameCheckWindow(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QTest::keyClick(&form, Qt::Key_P, Qt::ControlModifier);
    QPointer<NameCheckWindow> first = form.nameCheckWindow();
    QVERIFY2(first && first->isVisible(), "Ctrl+P opens the window");
    QTRY_VERIFY(first->isActiveWindow());
    form.activateWindow();
    QTRY_VERIFY(form.isActiveWindow());
    f.ui().mnuNameCheck->trigger();
    QCOMPARE(form.nameCheckWindow(), first.data());
    int windows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        windows += qobject_cast<NameCheckWindow *>(widget) != nullptr;
    QCOMPARE(windows, 1);
    QTRY_VERIFY2(first->isActiveWindow(), "the open window comes to the front");

    first->close();
    QTRY_VERIFY2(!first, "closing the window ends it");
    QVERIFY(!form.nameCheckWindow());
    QTest::mouseClick(f.ui().Command4, Qt::LeftButton);
    f.ui().mnuNameCheck->trigger();
    QVERIFY(form.nameCheckWindow());
    QCOMPARE(form.nameCheckWindow()->model()->rowCount(), 1);
}

void NameCheckTest::windowTellsScreenReadersWhatItIs()
{
    Form1Fixture f;
    Form1 &form = f.start();
    const auto endWindow = endNameCheckWindow(form);
    f.ui().mnuNameCheck->trigger();
    NameCheckWindow *window = form.nameCheckWindow();
    QVERIFY(window);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(window);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Window);
    QCOMPARE(accessible->text(QAccessible::Name), QString("名前の確認"));
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(window->table());
    QCOMPARE(table->role(), QAccessible::Table);
    QCOMPARE(table->text(QAccessible::Name), QString("元の名前と新しい名前"));
    QCOMPARE(QAccessible::queryAccessibleInterface(window->summary())->text(QAccessible::Name),
             window->summary()->text());
}

QTEST_MAIN(NameCheckTest)
#include "tst_namecheck.moc"
