#include "form1.h"

#include "batchjournal.h"
#include "datafiles.h"
#include "drivelist.h"
#include "filelist.h"
#include "filenames.h"
#include "folderlist.h"
#include "imagepreview.h"
#include "imageview.h"
#include "namecheckwindow.h"
#include "namepickup.h"
#include "paths.h"
#include "renamejob.h"
#include "twips.h"
#include "windowprogress.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>

#include <utility>

namespace {

using Twips::place;

/// A list box whose one selected entry the user can change but not take away: Ctrl+click
/// or Ctrl+Space on it keeps it selected.
class OneChoiceList final : public QListWidget
{
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override
    {
        const QItemSelectionModel::SelectionFlags flags =
            QListWidget::selectionCommand(index, event);
        if (index.isValid() &&
            (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)))
            return QItemSelectionModel::ClearAndSelect;
        return flags;
    }
};

/// Widens `label` as far as its text needs, but not beyond `limit` twips from the left edge
/// of its parent, where the next control begins.
void growToFit(QLabel *label, int limit)
{
    const QRect ink = label->fontMetrics().boundingRect(label->text());
    const int needed = ink.x() + ink.width() + 2 * label->margin();
    const int room = limit / Twips::perPixel - label->x();
    if (needed > label->width())
        label->resize(qMin(needed, room), label->height());
}

QString listFailureText(const OpResult &failure)
{
    return QStringLiteral("フォルダーの内容を読めませんでした。\r\n") +
           FileNames::display(failure.path) + QStringLiteral("\r\n") + failure.error;
}

} // namespace

/// The window's steps after a rename.
class Form1::JobHostAdapter final : public JobHost
{
public:
    explicit JobHostAdapter(Form1 &form) : m_form(form) {}
    OpResult refreshLists() override { return m_form.refreshLists(); }
    OpResult saveData() override { return m_form.SaveData(); }
    UndoRecording recordForUndo(const JobResult &result) override
    {
        return m_form.recordForUndo(result);
    }
    void focusBaseName() override
    {
        // The batch is now the newest thing to undo: typing from before it is no longer the
        // boxes' own to undo, so that Ctrl+Z undoes the batch.
        for (QLineEdit *box : m_form.textBoxes())
            box->setText(box->text()); // keeps the text, forgets its undo steps
        m_form.m_ui.Text1->setFocus(Qt::OtherFocusReason);
        m_form.m_ui.Text1->selectAll();
    }

private:
    Form1 &m_form;
};

Form1::Form1(Form1Services services, QWidget *parent)
    : QMainWindow(parent), m_services(std::move(services))
{
    setWindowTitle(QStringLiteral("カエナミ"));
    createControls();
    connectHandlers();
}

Form1::~Form1()
{
    delete m_nameCheck; // a window of its own that reads this one
}

QSize Form1::clientSize()
{
    return Twips::size(5655, 7050);
}

void Form1::createControls()
{
    // Controls keep their places whatever the window's size: a smaller window cuts them off.
    auto *client = new QWidget(this);
    client->resize(clientSize());
    setCentralWidget(client);

    Form1Controls &ui = m_ui;
    ui.Drive1 = new DriveList(m_services.volumes, client);
    ui.Dir1 = new FolderList(m_services.volumes, client);
    ui.File1 = new FileList(m_services.files, QAbstractItemView::ExtendedSelection, client);
    ui.Drive2 = new DriveList(m_services.volumes, client);
    ui.Dir2 = new FolderList(m_services.volumes, client);
    ui.File2 = new FileList(m_services.files, QAbstractItemView::SingleSelection, client);
    ui.Command1 = new QPushButton(QStringLiteral("リネーム(&R)"), client);
    ui.Text1 = new QLineEdit(client);
    ui.Text2 = new QLineEdit(QStringLiteral("0"), client);
    ui.Label1 = new QLabel(QStringLiteral("ファイル名"), client);
    ui.Label2 = new QLabel(QStringLiteral("開始No"), client);
    ui.Label3 = new QLabel(QStringLiteral("拡張子"), client);
    ui.List1 = new OneChoiceList(client);
    ui.Label4 = new QLabel(QStringLiteral("桁数："), client);
    ui.Combo1 = new QComboBox(client);
    ui.Command2 = new QPushButton(QStringLiteral("終了(&X)"), client);
    ui.Picture1 = new QFrame(client);
    ui.Check1 = new QCheckBox(QStringLiteral("移動する"), client);
    ui.Command3 = new QPushButton(QStringLiteral("登録"), client);
    ui.Check2 = new QCheckBox(QStringLiteral("上書きする"), client);
    ui.ProgressBar1 = new QProgressBar(client);
    ui.Command4 = new QPushButton(QStringLiteral("全選択"), client);
    ui.Command5 = new QPushButton(QStringLiteral("更新"), client);
    ui.Image1 = new ImageView(client);

    place(ui.Drive1, 120, 0, 2655, 300);
    place(ui.Dir1, 120, 360, 2655, 1770);
    place(ui.File1, 120, 2160, 2655, 3150);
    place(ui.Drive2, 2880, 0, 2655, 300);
    place(ui.Dir2, 2880, 360, 2655, 1770);
    place(ui.File2, 2880, 2160, 2655, 1350);
    place(ui.Command1, 3000, 3600, 1095, 495);
    place(ui.Text1, 120, 6120, 975, 270);
    place(ui.Text2, 1080, 6120, 855, 270);
    place(ui.Label1, 120, 5880, 855, 255);
    place(ui.Label2, 1080, 5880, 855, 255);
    place(ui.Label3, 1920, 5880, 855, 255);
    place(ui.List1, 1200, 6480, 615, 240);
    place(ui.Label4, 720, 6480, 495, 255);
    place(ui.Combo1, 1920, 6120, 855, 300);
    place(ui.Command2, 4320, 3600, 1095, 495);
    place(ui.Picture1, 3000, 4560, 2520, 2175);
    place(ui.Check1, 3000, 4200, 1095, 255);
    place(ui.Command3, 1920, 6480, 855, 255);
    place(ui.Check2, 4200, 4200, 1215, 255);
    place(ui.ProgressBar1, 120, 6840, 5415, 135);
    place(ui.Command4, 120, 5400, 855, 375);
    place(ui.Command5, 1080, 5400, 855, 375);
    ui.Image1->setTop(4560);
    ui.Image1->setLeft(3000);
    ui.Image1->setWidth(2535);
    ui.Image1->setHeight(2175);
    ui.Image1->setVisible(false);

    ui.Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ui.Picture1->setLineWidth(2);
    ui.Picture1->setAutoFillBackground(true);
    ui.Image1->raise();

    ui.List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui.List1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui.List1->setUniformItemSizes(true);
    ui.Combo1->setEditable(true);
    // What is typed is used as typed: no completion, and Enter matches entries exactly.
    ui.Combo1->setCompleter(nullptr);
    ui.Combo1->setInsertPolicy(QComboBox::NoInsert);
    ui.Combo1->setMaxVisibleItems(12);
    ui.ProgressBar1->setTextVisible(false);
    for (QLabel *label : {ui.Label1, ui.Label2, ui.Label3, ui.Label4})
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Japanese fonts here are wider than the layout's: a heading may use the free space to
    // its right. The digit heading has none, and stays under the list it overlaps.
    growToFit(ui.Label1, 1080);
    growToFit(ui.Label2, 1920);
    growToFit(ui.Label3, 3000);
    ui.Label4->stackUnder(ui.List1);
    for (QPushButton *button : {ui.Command1, ui.Command2, ui.Command3, ui.Command4, ui.Command5})
        button->setAutoDefault(false);

    // What a screen reader says of each control. Each heading is its box's buddy; Qt on Linux
    // names a combo box by its current entry and its purpose by the label it has, so the
    // drive lists have labels of their own that are never shown.
    const QList<QPair<QWidget *, QString>> names{{ui.Drive1, QStringLiteral("元のドライブ")},
                                                 {ui.Dir1, QStringLiteral("元のフォルダー")},
                                                 {ui.File1, QStringLiteral("元のファイル")},
                                                 {ui.Drive2, QStringLiteral("コピー先のドライブ")},
                                                 {ui.Dir2, QStringLiteral("コピー先のフォルダー")},
                                                 {ui.File2, QStringLiteral("コピー先のファイル")},
                                                 {ui.Command1, QStringLiteral("リネーム")},
                                                 {ui.Text1, QStringLiteral("ファイル名")},
                                                 {ui.Text2, QStringLiteral("開始No")},
                                                 {ui.List1, QStringLiteral("桁数")},
                                                 {ui.Combo1, QStringLiteral("拡張子")},
                                                 {ui.Combo1->lineEdit(), QStringLiteral("拡張子")},
                                                 {ui.Command2, QStringLiteral("終了")},
                                                 {ui.Check1, QStringLiteral("移動する")},
                                                 {ui.Command3, QStringLiteral("拡張子を登録")},
                                                 {ui.Check2, QStringLiteral("上書きする")},
                                                 {ui.Command4, QStringLiteral("全選択")},
                                                 {ui.Command5, QStringLiteral("更新")},
                                                 {ui.Picture1, QStringLiteral("プレビュー")},
                                                 {ui.Image1, QStringLiteral("プレビューの画像")},
                                                 {ui.ProgressBar1, QStringLiteral("進行状況")}};
    for (const auto &[control, name] : names)
        control->setAccessibleName(name);
    ui.Label1->setBuddy(ui.Text1);
    ui.Label2->setBuddy(ui.Text2);
    ui.Label3->setBuddy(ui.Combo1);
    ui.Label4->setBuddy(ui.List1);
    for (DriveList *drive : {ui.Drive1, ui.Drive2}) {
        auto *heading = new QLabel(drive->accessibleName(), client);
        heading->setBuddy(drive);
        heading->hide();
    }

    // Tab order as laid out; labels, the preview area and the bar take no focus.
    QWidget *order[] = {ui.Drive1,   ui.Dir1,     ui.File1,  ui.Drive2,   ui.Dir2,    ui.File2,
                        ui.Command1, ui.Text1,    ui.Text2,  ui.List1,    ui.Combo1,  ui.Command2,
                        ui.Check1,   ui.Command3, ui.Check2, ui.Command4, ui.Command5};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    ui.mnuEdit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    ui.mnuUndo = ui.mnuEdit->addAction(QStringLiteral("元に戻す(&U)"));
    ui.mnuUndo->setShortcut(QKeySequence::Undo);
    ui.mnuNameCheck = ui.mnuEdit->addAction(QStringLiteral("名前の確認(&P)..."));
    ui.mnuNameCheck->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    ui.mnuHelp = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    ui.mnuH = ui.mnuHelp->addAction(QStringLiteral("ヘルプ"));
    ui.mnuSep1 = ui.mnuHelp->addSeparator();
    ui.mnuVa = ui.mnuHelp->addAction(QStringLiteral("バージョン情報"));

    ui.File1->offerOrders();
    acceptDrops();

    ui.Text1->installEventFilter(this);
    ui.Text2->installEventFilter(this);
    // The combo box hands shortcut checks to its line edit directly, past any filter there.
    ui.Combo1->installEventFilter(this);
    resize(clientSize().width(), clientSize().height() + menuBar()->sizeHint().height());
}

void Form1::connectHandlers()
{
    const Form1Controls &ui = m_ui;
    connect(ui.Drive1, &DriveList::changed, this, &Form1::Drive1_Change);
    connect(ui.Drive2, &DriveList::changed, this, &Form1::Drive2_Change);
    connect(ui.Dir1, &FolderList::changed, this, &Form1::Dir1_Change);
    connect(ui.Dir2, &FolderList::changed, this, &Form1::Dir2_Change);
    connect(ui.Dir1, &FolderList::openFailed, this, &Form1::reportListFailure);
    connect(ui.Dir2, &FolderList::openFailed, this, &Form1::reportListFailure);
    connect(ui.File1, &QAbstractItemView::doubleClicked, this, &Form1::File1_DblClick);
    connect(ui.File1, &FileList::entryOpened, this, &Form1::File1_DblClick);
    connect(ui.File2, &QAbstractItemView::clicked, this, &Form1::File2_Click);
    connect(ui.File2, &FileList::keyboardMoved, this, &Form1::File2_Click);
    connect(ui.File2, &QAbstractItemView::doubleClicked, this, &Form1::File2_DblClick);
    // As a double-click, whose first click picks up the name.
    connect(ui.File2, &FileList::entryOpened, this, [this] {
        File2_Click();
        File2_DblClick();
    });
    connect(ui.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui.Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui.Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(ui.Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(ui.Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(ui.Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(ui.List1, &QListWidget::currentRowChanged, this,
            [list = ui.List1](int row) { list->scrollToItem(list->item(row)); });
    connect(ui.mnuNameCheck, &QAction::triggered, this, &Form1::mnuNameCheck_Click);
    connect(ui.mnuUndo, &QAction::triggered, this, &Form1::mnuUndo_Click);
    // Everything the rename reads, so that the name check follows it live.
    const auto changed = [this] { Q_EMIT namingChanged(); };
    connect(ui.Text1, &QLineEdit::textChanged, this, changed);
    connect(ui.Text2, &QLineEdit::textChanged, this, changed);
    connect(ui.List1, &QListWidget::itemSelectionChanged, this, changed);
    connect(ui.Combo1, &QComboBox::editTextChanged, this, changed);
    connect(ui.Check1, &QCheckBox::toggled, this, changed);
    connect(ui.Check2, &QCheckBox::toggled, this, changed);
    connect(ui.File1->selectionModel(), &QItemSelectionModel::selectionChanged, this, changed);
    connect(ui.File1->model(), &QAbstractItemModel::modelReset, this, changed);
    connect(ui.File2->model(), &QAbstractItemModel::modelReset, this, changed);
    connect(ui.mnuH, &QAction::triggered, this, [this] {
        if (m_services.showHelp)
            m_services.showHelp();
    });
    connect(ui.mnuVa, &QAction::triggered, this, [this] {
        if (m_services.showAbout)
            m_services.showAbout();
    });
}

void Form1::Form_Load(const QStringList &givenPaths)
{
    const Form1Controls &ui = m_ui;
    // A batch cut short by a crash is put right before anything else is read.
    QStringList recovered;
    for (const QString &folder : {m_services.programFolder, m_services.otherJournalFolder}) {
        if (folder.isEmpty())
            continue;
        if (const QString text = recoverAbandonedBatches(m_services.files, folder); !text.isEmpty())
            recovered.append(text);
    }
    if (!recovered.isEmpty())
        m_services.messages.inform(recovered.join(QLatin1String("\r\n\r\n")));
    m_historyPath =
        m_services.programFolder + QLatin1Char('/') + QLatin1String(UndoHistory::fileName);
    // The history is read when it is first needed; its file tells whether there is one.
    updateUndo();

    m_listPath =
        m_services.programFolder + QLatin1Char('/') + QLatin1String(DataFiles::listFileName);
    m_iniPath = m_services.programFolder + QLatin1Char('/') + QLatin1String(DataFiles::iniFileName);

    for (int digits = 1; digits <= 15; ++digits)
        ui.List1->addItem(QString::number(digits));

    // A list file that cannot be read, or that offers no entry, counts as missing.
    QStringList extensions;
    if (DataFiles::exists(m_services.files, m_listPath) &&
        DataFiles::ReadListFile(m_services.files, m_listPath, m_listData))
        extensions = DataFiles::GetData2(m_listData);
    if (extensions.isEmpty())
        extensions = {QStringLiteral("jpg"), QStringLiteral("bmp")};
    ui.Combo1->addItems(extensions);
    ui.Combo1->setCurrentIndex(0);
    ui.ProgressBar1->setVisible(false);

    if (DataFiles::exists(m_services.files, m_iniPath) &&
        DataFiles::ReadIniFile(m_services.files, m_iniPath, m_iniData)) {
        GetData();
    } else {
        // First start: both panes on the user's own files.
        ui.List1->setCurrentRow(4);
        ui.Combo1->setCurrentIndex(0);
        setBothPanes(m_services.volumes.homeFolder());
        ui.Text1->setText(QString());
        ui.Text2->setText(QStringLiteral("0"));
    }
    // Only the panes show them: the settings record keeps what was read.
    if (!givenPaths.isEmpty())
        openGivenPaths(givenPaths, PathsFor::Window);
}

void Form1::openGivenPaths(const QStringList &paths, PathsFor use)
{
    const PathsToOpen open = pathsToOpen(m_services.files, paths, use);
    if (!open.problem.isEmpty()) {
        m_services.messages.inform(open.problem);
        return;
    }
    if (!open.sourceFolder.isEmpty()) {
        showFolder(m_ui.Drive1, m_ui.Dir1, open.sourceFolder);
        if (!open.sourceFiles.isEmpty() && m_ui.File1->path() == open.sourceFolder) {
            m_ui.File1->selectOnly(open.sourceFiles);
            m_ui.File1->setFocus(Qt::OtherFocusReason);
        }
    }
    if (!open.targetFolder.isEmpty())
        showFolder(m_ui.Drive2, m_ui.Dir2, open.targetFolder);
}

void Form1::showFolder(DriveList *drive, FolderList *folder, const QString &path)
{
    drive->setDrive(path);
    if (const OpResult moved = folder->setPath(path); !moved)
        reportListFailure(moved);
}

void Form1::acceptDrops()
{
    const Form1Controls &ui = m_ui;
    const QList<QWidget *> targets{
        ui.Drive1, ui.Dir1, ui.Dir1->viewport(), ui.File1, ui.File1->viewport(),
        ui.Drive2, ui.Dir2, ui.Dir2->viewport(), ui.File2, ui.File2->viewport()};
    for (QWidget *target : targets) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
}

bool Form1::dragOverPane(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::DragLeave &&
        type != QEvent::Drop)
        return false;
    const Form1Controls &ui = m_ui;
    const auto inPane = [watched](std::initializer_list<QWidget *> widgets) {
        return std::find(widgets.begin(), widgets.end(), watched) != widgets.end();
    };
    const bool source =
        inPane({ui.Drive1, ui.Dir1, ui.Dir1->viewport(), ui.File1, ui.File1->viewport()});
    if (!source &&
        !inPane({ui.Drive2, ui.Dir2, ui.Dir2->viewport(), ui.File2, ui.File2->viewport()}))
        return false;
    if (type == QEvent::DragLeave)
        return true;
    const PathsFor use = source ? PathsFor::SourcePane : PathsFor::TargetPane;
    auto *drag = static_cast<QDropEvent *>(event);
    const auto droppedPaths = [drag] {
        QStringList paths;
        for (const QUrl &url : drag->mimeData()->urls()) {
            const QString path = FileNames::fromUrl(url);
            if (path.isEmpty())
                return QStringList();
            paths.append(path);
        }
        return paths;
    };
    if (type == QEvent::DragEnter) {
        // Files dragged out of a pane's own list open nothing new there; nothing opens while a
        // batch runs.
        const QStringList paths = droppedPaths();
        m_dropFits = !m_batchRunning && !paths.isEmpty() &&
                     drag->source() != (source ? ui.File1 : ui.File2) &&
                     pathsToOpen(m_services.files, paths, use).problem.isEmpty();
    }
    if (!m_dropFits || m_batchRunning) {
        drag->ignore();
        return true;
    }
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (type == QEvent::Drop) {
        m_dropFits = false;
        // Opened once the drop is over: the program the files come from is not kept waiting
        // by a message about them.
        QMetaObject::invokeMethod(
            this, [this, paths = droppedPaths(), use] { openGivenPaths(paths, use); },
            Qt::QueuedConnection);
    }
    return true;
}

void Form1::setBothPanes(const QString &folder)
{
    m_ui.Drive1->setDrive(folder);
    m_ui.Dir1->setPath(folder);
    m_ui.Drive2->setDrive(folder);
    m_ui.Dir2->setPath(folder);
}

void Form1::GetData()
{
    const Form1Controls &ui = m_ui;
    const auto apply = [&]() -> bool {
        // Empty drive or folder values fail like any other that cannot be applied.
        if (m_iniData[IniField::SourceDrive].isEmpty() ||
            !ui.Drive1->setDrive(m_iniData[IniField::SourceDrive]))
            return false;
        if (m_iniData[IniField::SourceFolder].isEmpty() ||
            !ui.Dir1->setPath(m_iniData[IniField::SourceFolder]))
            return false;
        if (m_iniData[IniField::TargetDrive].isEmpty() ||
            !ui.Drive2->setDrive(m_iniData[IniField::TargetDrive]))
            return false;
        if (m_iniData[IniField::TargetFolder].isEmpty() ||
            !ui.Dir2->setPath(m_iniData[IniField::TargetFolder]))
            return false;
        ui.Text1->setText(m_iniData[IniField::BaseName]);
        ui.Text2->setText(m_iniData[IniField::StartNumber]);
        const std::optional<int> digitIndex =
            DataFiles::storedIndex(m_iniData[IniField::DigitIndex], ui.List1->count() - 1);
        if (!digitIndex)
            return false;
        ui.List1->setCurrentRow(*digitIndex);
        if (*digitIndex < 0)
            ui.List1->clearSelection();
        // Users expect their last extension back when the list still has it.
        const std::optional<int> extensionIndex =
            DataFiles::storedIndex(m_iniData[IniField::ExtensionIndex], ui.Combo1->count() - 1);
        if (extensionIndex && *extensionIndex >= 0)
            ui.Combo1->setCurrentIndex(*extensionIndex);
        return true;
    };
    if (apply())
        return;

    setBothPanes(QStringLiteral("/"));
    ui.Text1->setText(QString());
    ui.Text2->setText(QStringLiteral("1"));
}

void Form1::SetData()
{
    const Form1Controls &ui = m_ui;
    m_iniData[IniField::SourceDrive] = ui.Drive1->drive();
    m_iniData[IniField::SourceFolder] = ui.Dir1->path();
    m_iniData[IniField::TargetDrive] = ui.Drive2->drive();
    m_iniData[IniField::TargetFolder] = ui.Dir2->path();
    m_iniData[IniField::BaseName] = ui.Text1->text();
    m_iniData[IniField::StartNumber] = ui.Text2->text();
    m_iniData[IniField::ExtensionIndex] = DataFiles::indexText(comboListIndex());
    m_iniData[IniField::DigitIndex] =
        DataFiles::indexText(ui.List1->selectedItems().isEmpty() ? -1 : ui.List1->currentRow());
}

OpResult Form1::SaveData()
{
    return DataFiles::SaveData(m_services.files, m_iniPath, m_iniData, m_listPath, m_listData,
                               comboEntries());
}

int Form1::comboListIndex() const
{
    // Text typed over the selected entry means no entry is selected.
    const QComboBox *combo = m_ui.Combo1;
    const int index = combo->currentIndex();
    return index >= 0 && combo->itemText(index) == combo->currentText() ? index : -1;
}

QStringList Form1::comboEntries() const
{
    QStringList entries;
    for (int i = 0; i < m_ui.Combo1->count(); ++i)
        entries.append(m_ui.Combo1->itemText(i));
    return entries;
}

void Form1::mnuNameCheck_Click()
{
    if (!m_nameCheck) {
        m_nameCheck = new NameCheckWindow([this] { return currentRequest(); },
                                          [this]() -> const QStringList & { return targetNames(); },
                                          &m_services.files);
        m_nameCheck->setAttribute(Qt::WA_DeleteOnClose);
        m_nameCheck->setWindowIcon(windowIcon());
        connect(this, &Form1::namingChanged, m_nameCheck, &NameCheckWindow::refresh);
        m_nameCheck->refresh();
    }
    m_nameCheck->show();
    m_nameCheck->raise();
    m_nameCheck->activateWindow();
}

const QStringList &Form1::targetNames() const
{
    return m_ui.File2->listModel()->names();
}

void Form1::Command1_Click()
{
    const RenameRequest request = currentRequest();
    WindowProgress progress(m_ui.ProgressBar1);
    JobHostAdapter host(*this);
    RenameJob job(m_services.files, progress, m_services.messages, host, m_services.programFolder);
    m_batchRunning = true;
    m_runningProgress = &progress;
    job.run(request);
    m_runningProgress = nullptr;
    m_batchRunning = false;
    updateUndo();
    closeIfAsked();
}

void Form1::closeIfAsked()
{
    if (std::exchange(m_closeAfterBatch, false))
        close();
}

UndoRecording Form1::recordForUndo(const JobResult &result)
{
    // Whatever the batch did, done or cut short, can be undone; the closing message tells
    // when it cannot.
    UndoHistoryFile history(m_services.files, m_historyPath);
    UndoRecording recording{history.record(result), history.takeSetAsideNote()};
    noteHistory(history);
    return recording;
}

void Form1::noteHistory(const UndoHistoryFile &history)
{
    if (!history.batches())
        return;
    m_historySeen = m_services.files.status(m_historyPath, false);
    m_historySeenEmpty = *history.batches() == 0;
}

void Form1::mnuUndo_Click()
{
    if (m_batchRunning)
        return;
    // Always the newest batch as the file holds it now, whichever window or run added it.
    UndoHistoryFile historyFile(m_services.files, m_historyPath);
    UndoHistory history;
    const OpResult read = historyFile.read(history);
    noteHistory(historyFile);
    updateUndo();
    if (const QString note = historyFile.takeSetAsideNote(); !note.isEmpty())
        m_services.messages.inform(note);
    if (!read) {
        m_services.messages.inform(historyRefusedMessage(read));
        return;
    }
    if (history.isEmpty())
        return;
    if (!m_services.messages.askYesNo(undoQuestion(history.newest())))
        return;
    // Taken out of the file before anything is touched, so that no other window undoes it too
    // and an undo cut short is not offered again.
    UndoHistoryFile::Claimed claimed;
    OpResult claimFailure;
    const UndoHistoryFile::Claim claim =
        historyFile.claimNewest(history.newest().id, claimed, claimFailure);
    noteHistory(historyFile);
    if (claim != UndoHistoryFile::Claim::Taken) {
        updateUndo();
        m_services.messages.inform(claim == UndoHistoryFile::Claim::Failed
                                       ? historyRefusedMessage(claimFailure)
                                       : undoChangedMessage());
        return;
    }
    // The window keeps answering while files are put back, as during a batch.
    WindowProgress progress(m_ui.ProgressBar1);
    m_services.files.setBusyHandler([&progress] { progress.keepAlive(); });
    m_batchRunning = true;
    m_runningProgress = &progress;
    const UndoReport report = undoBatch(m_services.files, claimed.entry, m_services.programFolder,
                                        [&progress] { progress.keepAlive(); });
    m_runningProgress = nullptr;
    m_batchRunning = false;
    m_services.files.setBusyHandler({});
    // An undo that could not start leaves the batch to be undone later, in its place.
    OpResult putBack;
    if (report.tryAgainLater) {
        putBack = historyFile.putBack(claimed);
        noteHistory(historyFile);
    }
    updateUndo();
    refreshLists();
    m_services.messages.inform(undoMessage(report, putBack));
    closeIfAsked();
}

void Form1::updateUndo()
{
    // Another window or run may have changed the file since: then it may hold a batch.
    const FileStatus now = m_services.files.status(m_historyPath, false);
    const bool knownEmpty = m_historySeenEmpty && now.sameFileAs(m_historySeen) &&
                            now.size == m_historySeen.size &&
                            now.modifiedNs == m_historySeen.modifiedNs;
    m_ui.mnuUndo->setEnabled(now.exists() && !knownEmpty);
}

RenameRequest Form1::currentRequest() const
{
    const Form1Controls &ui = m_ui;
    RenameRequest request;
    request.baseName = ui.Text1->text();
    request.startNumberText = ui.Text2->text();
    const QList<QListWidgetItem *> digits = ui.List1->selectedItems();
    request.digitCountText = digits.isEmpty() ? QString() : digits.first()->text();
    request.extension = ui.Combo1->currentText();
    request.move = ui.Check1->isChecked();
    request.overwrite = ui.Check2->isChecked();
    request.sourceFolder = ui.Dir1->path();
    request.targetFolder = ui.Dir2->path();
    const int count = ui.File1->listCount();
    request.entries.reserve(size_t(count));
    const QItemSelectionModel *selection = ui.File1->selectionModel();
    for (int i = 0; i < count; ++i) {
        request.entries.push_back({ui.File1->entry(i), selection->isRowSelected(i, QModelIndex())});
    }
    return request;
}

void Form1::Command2_Click()
{
    SetData();
    const OpResult saved = SaveData();
    if (!saved) {
        m_services.messages.inform(QStringLiteral("設定を保存できませんでした。\r\n") + saved.path +
                                   QStringLiteral("\r\n") + saved.error);
    }
    if (m_services.endProgram)
        m_services.endProgram();
}

void Form1::Command3_Click()
{
    QStringList entries = comboEntries();
    if (DataFiles::registerExtension(entries, m_ui.Combo1->currentText())) {
        // Appending must leave the edit text and the selection as they are.
        const QString text = m_ui.Combo1->currentText();
        m_ui.Combo1->addItem(entries.last());
        m_ui.Combo1->setEditText(text);
    }
}

void Form1::Command4_Click()
{
    m_ui.File1->selectAll();
}

void Form1::Command5_Click()
{
    if (OpResult refreshed = m_ui.File1->refresh(); !refreshed)
        reportListFailure(refreshed);
    if (OpResult refreshed = m_ui.File2->refresh(); !refreshed)
        reportListFailure(refreshed);
}

OpResult Form1::refreshLists()
{
    const OpResult source = m_ui.File1->refresh();
    const OpResult target = m_ui.File2->refresh();
    return source ? target : source;
}

void Form1::Text1_Change()
{
    const QString text = m_ui.Text1->text();
    if (text.endsWith(QLatin1String("\r\n")))
        m_ui.Text1->setText(text.chopped(2)); // runs this handler again
}

void Form1::Text1_KeyDown(int keyCode)
{
    if (keyCode == Qt::Key_Home) {
        m_ui.Text1->setText(QString());
        m_ui.Text1->setFocus(Qt::OtherFocusReason);
    }
}

QList<QLineEdit *> Form1::textBoxes() const
{
    return {m_ui.Text1, m_ui.Text2, m_ui.Combo1->lineEdit()};
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (dragOverPane(watched, event))
        return true;
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Undo)) {
        // Ctrl+Z in a text box with no typing of its own to undo is the batch undo (the menu's
        // shortcut): the box does not claim the key.
        QLineEdit *box =
            watched == m_ui.Combo1 ? m_ui.Combo1->lineEdit() : qobject_cast<QLineEdit *>(watched);
        if (box && textBoxes().contains(box) && !box->isUndoAvailable()) {
            event->ignore();
            return true;
        }
    }
    if (watched == m_ui.Text1 && event->type() == QEvent::KeyPress)
        Text1_KeyDown(static_cast<QKeyEvent *>(event)->key()); // the key still does its work
    return QMainWindow::eventFilter(watched, event);
}

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Back in this window: another one may have renamed or undone meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_historyPath.isEmpty())
        updateUndo();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // No window goes away under its own running batch: a close asks the batch to stop after
    // the file it is on (an undo runs to its end), and the window closes after it.
    if (m_batchRunning) {
        m_closeAfterBatch = true;
        if (m_runningProgress)
            m_runningProgress->requestStop();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    // The name check follows this window and goes with it.
    if (event->isAccepted() && m_nameCheck)
        m_nameCheck->close();
}

void Form1::Drive1_Change()
{
    driveChanged(m_ui.Drive1, m_ui.Dir1);
}

void Form1::Drive2_Change()
{
    driveChanged(m_ui.Drive2, m_ui.Dir2);
}

void Form1::driveChanged(DriveList *drive, FolderList *folder)
{
    for (;;) {
        const OpResult moved = folder->setPath(folder->currentFolderOf(drive->drive()));
        if (moved)
            return;
        if (m_services.messages.retryOrCancel(moved.error))
            continue;
        // Back to the drive of the folder still shown; that change runs this handling again.
        const QString shown = folder->path();
        drive->setDrive(shown.isEmpty() ? m_services.volumes.homeFolder() : shown);
        return;
    }
}

void Form1::Dir1_Change()
{
    folderChanged(m_ui.Dir1, m_ui.File1);
}

void Form1::Dir2_Change()
{
    folderChanged(m_ui.Dir2, m_ui.File2);
}

void Form1::folderChanged(FolderList *folder, FileList *files)
{
    if (OpResult listed = files->setPath(folder->path()); !listed)
        reportListFailure(listed);
}

void Form1::reportListFailure(const OpResult &failure)
{
    m_services.messages.inform(listFailureText(failure));
}

void Form1::File2_Click()
{
    const QString name = m_ui.File2->fileName();
    if (name.isEmpty())
        return;
    const PickedName picked = pickUpName(name);
    if (picked.baseName)
        m_ui.Text1->setText(*picked.baseName);
    m_ui.List1->setCurrentRow(picked.digitIndex);
    if (picked.nextNumber)
        m_ui.Text2->setText(QString::number(*picked.nextNumber));
    QComboBox *combo = m_ui.Combo1;
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i) == picked.extension) {
            combo->setCurrentIndex(i);
            combo->setEditText(picked.extension);
            return;
        }
    }
    combo->addItem(picked.extension);
    combo->setCurrentIndex(combo->count() - 1);
    combo->setEditText(picked.extension);
}

void Form1::File1_DblClick()
{
    if (m_ui.File1->fileName().isEmpty())
        return;
    m_imagePath = Paths::join(m_ui.Dir1->path(), m_ui.File1->fileName());
    LoadImage();
}

void Form1::File2_DblClick()
{
    if (m_ui.File2->fileName().isEmpty())
        return;
    m_imagePath = Paths::join(m_ui.Dir2->path(), m_ui.File2->fileName());
    LoadImage();
}

void Form1::LoadImage()
{
    const QSize inner = m_ui.Picture1->contentsRect().size();
    const QSizeF area(inner.width() * Twips::perPixel, inner.height() * Twips::perPixel);
    const PreviewOutcome outcome =
        ::LoadImage(m_imagePath, *m_ui.Image1, area, m_ui.Image1->devicePixelRatioF());
    // A screen reader tells which file the picture is.
    m_ui.Image1->setAccessibleDescription(
        outcome == PreviewOutcome::Shown
            ? FileNames::display(m_imagePath.mid(m_imagePath.lastIndexOf(QLatin1Char('/')) + 1))
            : QString());
    if (outcome == PreviewOutcome::NotAPicture)
        m_services.messages.inform(QStringLiteral("対応していないファイルが選択されました。"));
}
