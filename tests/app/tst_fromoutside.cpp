#include "exiffiles.h"
#include "filenames.h"
#include "form1fixture.h"
#include "givenpaths.h"
#include "namecheckmodel.h"
#include "namecheckwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>

/// The main window as other programs reach it: paths on its command line, drops on its panes,
/// files dragged out of its lists, and the source list's orders.
class FromOutsideTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLinePaths_data();
    void commandLinePaths();
    void givenFoldersAreForThisRunOnly();
    void drops_data();
    void drops();
    void filesDragOutAsUrls();
    void orderMenu();
};

namespace {

/// Photos in a/photos whose names, dates taken and modification times disagree; a note without
/// a date; and an empty b/dcim.
void addPhotos(Form1Fixture &f)
{
    const auto at = [](int hour, int minute) {
        return QDateTime(QDate(2024, 5, 3), QTime(hour, minute), Qt::UTC).toSecsSinceEpoch();
    };
    using ExifFiles::jpeg;
    QVERIFY(ExifFiles::write(f.path("a/photos/IMG_1.jpg"),
                             jpeg({"2024:05:03 12:00:00", {}, "+00:00"}) + "one", at(13, 0)));
    QVERIFY(ExifFiles::write(f.path("a/photos/IMG_2.jpg"),
                             jpeg({"2024:05:03 19:00:00", {}, "+09:00"}) + "two", at(9, 0)));
    QVERIFY(ExifFiles::write(f.path("a/photos/IMG_10.jpg"),
                             jpeg({"2024:05:03 11:00:00", {}, "+00:00"}) + "ten", at(8, 0)));
    QVERIFY(ExifFiles::write(f.path("a/photos/notes.txt"), "notes", at(10, 30)));
}

QStringList selectedNames(const FileList *list)
{
    QStringList names;
    for (int i = 0; i < list->listCount(); ++i) {
        if (list->isSelected(i))
            names.append(list->entry(i));
    }
    return names;
}

} // namespace

void FromOutsideTest::commandLinePaths_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message"); // with <root>

    const QString home = "a/home";
    QTest::newRow("one folder") << QStringList{"a/photos"} << "a/photos" << QStringList{} << home
                                << "";
    QTest::newRow("two folders") << QStringList{"a/photos", "b/dcim"} << "a/photos" << QStringList{}
                                 << "b/dcim"
                                 << "";
    QTest::newRow("files") << QStringList{"a/photos/IMG_10.jpg", "a/photos/IMG_1.jpg"} << "a/photos"
                           << QStringList{"IMG_1.jpg", "IMG_10.jpg"} << home << "";
    QTest::newRow("files and the target") << QStringList{"a/photos/notes.txt", "b/dcim"}
                                          << "a/photos" << QStringList{"notes.txt"} << "b/dcim"
                                          << "";
    // A problem is told, and the window starts as it would without paths.
    QTest::newRow("problem/missing")
        << QStringList{"a/photos/IMG_3.jpg", "b/dcim"} << home << QStringList{} << home
        << GivenPathMessages::cannotOpen("<root>/a/photos/IMG_3.jpg", systemErrorText(ENOENT));
    QTest::newRow("problem/files of two folders")
        << QStringList{"a/photos/IMG_1.jpg", "a/home/x.jpg"} << home << QStringList{} << home
        << GivenPathMessages::severalFolders("<root>/a/photos", "<root>/a/home");
    QTest::newRow("problem/three folders")
        << QStringList{"a/photos", "b/dcim", "a/home"} << home << QStringList{} << home
        << GivenPathMessages::arrangement(PathsFor::Window);
}

void FromOutsideTest::commandLinePaths()
{
    QFETCH(QStringList, paths);
    QFETCH(QString, source);
    QFETCH(QStringList, selected);
    QFETCH(QString, target);
    QFETCH(QString, message);
    Form1Fixture f;
    addPhotos(f);
    QVERIFY(TestFiles::write(f.path("a/home/x.jpg"), "x"));
    for (QString &path : paths)
        path = f.path(path);
    message.replace("<root>", f.root.path());

    f.start(paths);
    const Form1Controls &ui = f.ui();
    QCOMPARE(f.messages.informed, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(ui.Dir1->path(), f.path(source));
    QCOMPARE(ui.Drive1->drive(), f.path(source.left(1)));
    QCOMPARE(ui.Dir2->path(), f.path(target));
    QCOMPARE(ui.Drive2->drive(), f.path(target.left(1)));
    QCOMPARE(selectedNames(ui.File1), selected);
    // The first of them in the list is the current entry, as a click would leave it.
    QCOMPARE(ui.File1->fileName(), selected.value(0));
    QCOMPARE(f.form->currentRequest().sourceFolder, f.path(source));
}

void FromOutsideTest::givenFoldersAreForThisRunOnly()
{
    Form1Fixture f;
    addPhotos(f);
    const IniData remembered{
        f.path("a"), f.path("a/home"), f.path("a"), f.path("a/home"), "trip", "1", "0", "3"};
    QVERIFY(TestFiles::write(f.programFile("DuVuzeRezo.ini"), DataFiles::iniBytes(remembered)));

    // A batch on the given folders saves the settings as read at start-up.
    f.start({f.path("a/photos/IMG_2.jpg"), f.path("b/dcim")});
    QCOMPARE(f.ui().Text1->text(), QString("trip"));
    QTest::mouseClick(f.ui().Command1, Qt::LeftButton);
    QCOMPARE(f.messages.informed, QStringList{RenameJob::completedMessage()});
    QCOMPARE(TestFiles::names(f.path("b/dcim")), QStringList{"trip0001.jpg"});
    QCOMPARE(TestFiles::read(f.programFile("DuVuzeRezo.ini")), DataFiles::iniBytes(remembered));

    // The next start without paths opens the remembered folders.
    f.start();
    QCOMPARE(f.ui().Dir1->path(), f.path("a/home"));
    QCOMPARE(f.ui().Dir2->path(), f.path("a/home"));
}

void FromOutsideTest::drops_data()
{
    QTest::addColumn<bool>("onSource");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("target");

    const QString home = "a/home";
    QTest::newRow("source/folder on the file list")
        << true << "files" << QStringList{"b/dcim"} << true << "b/dcim" << QStringList{} << home;
    QTest::newRow("source/files on the folder list")
        << true << "folders" << QStringList{"a/photos/IMG_2.jpg", "a/photos/IMG_1.jpg"} << true
        << "a/photos" << QStringList{"IMG_1.jpg", "IMG_2.jpg"} << home;
    QTest::newRow("source/a file on the drive list")
        << true << "drive" << QStringList{"a/photos/notes.txt"} << true << "a/photos"
        << QStringList{"notes.txt"} << home;
    QTest::newRow("source/two folders") << true << "files" << QStringList{"a/photos", "b/dcim"}
                                        << false << home << QStringList{} << home;
    QTest::newRow("source/files of two folders")
        << true << "files" << QStringList{"a/photos/IMG_1.jpg", "a/home/x.jpg"} << false << home
        << QStringList{} << home;
    QTest::newRow("source/a web address") << true << "files" << QStringList{"https://x/y.jpg"}
                                          << false << home << QStringList{} << home;
    // Decoded, these would name another file: the one before the NUL, a folder further down.
    QTest::newRow("source/an encoded NUL")
        << true << "files" << QStringList{"file://<root>/a/photos/IMG_1.jpg%00.txt"} << false
        << home << QStringList{} << home;
    QTest::newRow("source/an encoded slash")
        << true << "files" << QStringList{"file://<root>/a%2Fphotos"} << false << home
        << QStringList{} << home;
    QTest::newRow("target/folder on the folder list")
        << false << "folders" << QStringList{"b/dcim"} << true << home << QStringList{} << "b/dcim";
    QTest::newRow("target/folder on the drive list") << false << "drive" << QStringList{"a/photos"}
                                                     << true << home << QStringList{} << "a/photos";
    QTest::newRow("target/files") << false << "files" << QStringList{"a/photos/IMG_1.jpg"} << false
                                  << home << QStringList{} << home;
}

void FromOutsideTest::drops()
{
    QFETCH(bool, onSource);
    QFETCH(QString, widget);
    QFETCH(QStringList, dropped);
    QFETCH(bool, accepted);
    QFETCH(QString, source);
    QFETCH(QStringList, selected);
    QFETCH(QString, target);
    Form1Fixture f;
    addPhotos(f);
    QVERIFY(TestFiles::write(f.path("a/home/x.jpg"), "x"));
    f.start();
    const Form1Controls &ui = f.ui();
    QWidget *on = widget == "files"     ? (onSource ? ui.File1 : ui.File2)->viewport()
                  : widget == "folders" ? (onSource ? ui.Dir1 : ui.Dir2)->viewport()
                                        : static_cast<QWidget *>(onSource ? ui.Drive1 : ui.Drive2);
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : dropped)
        urls.append(path.contains(':') ? QUrl(QString(path).replace("<root>", f.root.path()))
                                       : FileNames::toUrl(f.path(path)));
    data.setUrls(urls);

    // A file manager offers to move, copy or link; only a copy is taken.
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(QPoint(4, 4), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(on, &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    QDragMoveEvent move(QPoint(6, 6), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(on, &move);
    QCOMPARE(move.isAccepted(), accepted);
    if (accepted) {
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(6, 6), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(on, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
    }
    // The panes move once the drop is over.
    QTRY_COMPARE(ui.Dir1->path(), f.path(source));
    QTRY_COMPARE(ui.Dir2->path(), f.path(target));
    QCOMPARE(f.messages.informed, QStringList{});
    QCOMPARE(ui.Drive1->drive(), f.path(source.left(1)));
    QCOMPARE(selectedNames(ui.File1), selected);
    QCOMPARE(ui.Dir2->path(), f.path(target));
    QCOMPARE(ui.Drive2->drive(), f.path(target.left(1)));
    // Nothing on disk changes by a drop.
    QCOMPARE(TestFiles::names(f.path("a/photos")),
             (QStringList{"IMG_1.jpg", "IMG_10.jpg", "IMG_2.jpg", "notes.txt"}));
}

void FromOutsideTest::filesDragOutAsUrls()
{
    Form1Fixture f;
    addPhotos(f);
    f.start({f.path("a/photos/IMG_10.jpg"), f.path("a/photos/IMG_1.jpg"), f.path("a/photos")});
    for (FileList *list : {f.ui().File1, f.ui().File2}) {
        QVERIFY(list->dragEnabled());
        const QAbstractItemModel *model = list->model();
        QCOMPARE(model->supportedDragActions(), Qt::DropActions(Qt::CopyAction));
        QVERIFY(model->flags(model->index(0, 0)).testFlag(Qt::ItemIsDragEnabled));
    }
    // In list order, as file managers take them.
    FileList *list = f.ui().File1;
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    const std::unique_ptr<QMimeData> data(
        list->model()->mimeData(QModelIndexList{selected.constLast(), selected.constFirst()}));
    QVERIFY(data->hasFormat("text/uri-list"));
    QCOMPARE(data->urls(), (QList<QUrl>{FileNames::toUrl(f.path("a/photos/IMG_1.jpg")),
                                        FileNames::toUrl(f.path("a/photos/IMG_10.jpg"))}));
}

void FromOutsideTest::orderMenu()
{
    Form1Fixture f;
    addPhotos(f);
    f.start({f.path("a/photos/IMG_10.jpg"), f.path("a/photos/IMG_1.jpg"), f.path("b/dcim")});
    const Form1Controls &ui = f.ui();
    // Three radio items on the source list only, today's order first and chosen.
    const QList<QAction *> orders = ui.File1->orderActions();
    QCOMPARE(orders.size(), 3);
    QStringList texts;
    for (QAction *action : orders) {
        texts.append(action->text());
        QVERIFY(action->isCheckable());
        QVERIFY(action->actionGroup() && action->actionGroup()->isExclusive());
    }
    QCOMPARE(texts, (QStringList{"名前順(&N)", "撮影日時順(&T)", "更新日時順(&M)"}));
    QVERIFY(orders[0]->isChecked());
    QVERIFY(ui.File2->orderActions().isEmpty());
    QCOMPARE(ui.File1->listModel()->names(),
             (QStringList{"IMG_1.jpg", "IMG_2.jpg", "IMG_10.jpg", "notes.txt"}));

    // By date taken, in the world's time: 19:00 in Tokyo came first; the note falls in by its
    // modification time. The selection and the current entry stay.
    ui.mnuNameCheck->trigger();
    QVERIFY(f.form->nameCheckWindow());
    orders[1]->trigger();
    QVERIFY(orders[1]->isChecked() && !orders[0]->isChecked());
    QCOMPARE(ui.File1->listModel()->names(),
             (QStringList{"IMG_2.jpg", "notes.txt", "IMG_10.jpg", "IMG_1.jpg"}));
    QCOMPARE(selectedNames(ui.File1), (QStringList{"IMG_10.jpg", "IMG_1.jpg"}));
    QCOMPARE(ui.File1->fileName(), QString("IMG_1.jpg"));
    // The name check and the batch follow the order shown.
    const NameCheckModel *check = f.form->nameCheckWindow()->model();
    QCOMPARE(check->rowCount(), 2);
    QCOMPARE(check->data(check->index(0, NameCheckModel::OldNameColumn)).toString(),
             QString("IMG_10.jpg"));
    ui.Command5->click(); // a refresh keeps the order (and clears the selection, as ever)
    QCOMPARE(ui.File1->listModel()->names().first(), QString("IMG_2.jpg"));
    ui.File1->selectOnly({"IMG_10.jpg", "IMG_1.jpg"});
    ui.Text1->setText("p");
    ui.Text2->setText("1");
    QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QCOMPARE(f.messages.informed, QStringList{RenameJob::completedMessage()});
    QVERIFY(TestFiles::read(f.path("b/dcim/p00001.jpg")).endsWith("ten"));
    QVERIFY(TestFiles::read(f.path("b/dcim/p00002.jpg")).endsWith("one"));
    QCOMPARE(ui.File1->listModel()->names().first(), QString("IMG_2.jpg"));

    orders[2]->trigger();
    QCOMPARE(ui.File1->listModel()->names(),
             (QStringList{"IMG_10.jpg", "IMG_2.jpg", "notes.txt", "IMG_1.jpg"}));
    orders[0]->trigger();
    QCOMPARE(ui.File1->listModel()->names(),
             (QStringList{"IMG_1.jpg", "IMG_2.jpg", "IMG_10.jpg", "notes.txt"}));
    QVERIFY(orders[0]->isChecked());
}

QTEST_MAIN(FromOutsideTest)
#include "tst_fromoutside.moc"
