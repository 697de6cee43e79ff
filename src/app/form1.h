#pragma once

#include "fileoperations.h"
#include "givenpaths.h"
#include "messageboxes.h"
#include "namecheckwindow.h"
#include "records.h"
#include "renamejob.h"
#include "undo.h"
#include "volumes.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <optional>

class DriveList;
class FolderList;
class FileList;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class ImageView;
class WindowProgress;

/// What the main window needs from the outside world.
struct Form1Services
{
    FileOperations &files;
    Volumes &volumes;
    MessageBoxes &messages;
    /// Where the settings file, the extension list, the journals and the undo history lie:
    /// beside the executable, or in the user's configuration folder for an installed copy
    /// (ProgramFiles::dataFolder).
    QString programFolder;
    /// Ends the program at once, closing every window.
    std::function<void()> endProgram;
    /// Open the help and About windows.
    std::function<void()> showHelp;
    std::function<void()> showAbout;
    /// Another folder where an earlier start may have left a batch journal; empty for none.
    QString otherJournalFolder = {};
};

/// The main window's controls, named as the program's behaviour names them.
struct Form1Controls
{
    DriveList *Drive1, *Drive2;
    FolderList *Dir1, *Dir2;
    FileList *File1, *File2;
    QPushButton *Command1, *Command2, *Command3, *Command4, *Command5;
    QLineEdit *Text1, *Text2;
    QLabel *Label1, *Label2, *Label3, *Label4;
    QListWidget *List1;
    QComboBox *Combo1;
    QCheckBox *Check1, *Check2;
    QFrame *Picture1;
    ImageView *Image1;
    QProgressBar *ProgressBar1;
    QMenu *mnuEdit;
    QAction *mnuUndo, *mnuNameCheck;
    QMenu *mnuHelp;
    QAction *mnuH, *mnuSep1, *mnuVa;
};

/// The main window: every control, start-up, exit and the wiring of the two folder panes, the
/// rename job, the name pick-up and the preview.
class Form1 final : public QMainWindow
{
    Q_OBJECT

public:
    explicit Form1(Form1Services services, QWidget *parent = nullptr);
    ~Form1() override;

    /// The start-up sequence; runs before the window is first shown. `givenPaths` (the command
    /// line's) open in the panes over the remembered folders, for this run only.
    void Form_Load(const QStringList &givenPaths = {});

    const Form1Controls &ui() const { return m_ui; }
    const IniData &iniData() const { return m_iniData; }
    const ListData &listData() const { return m_listData; }
    QString iniPath() const { return m_iniPath; }
    QString listPath() const { return m_listPath; }
    QString imagePath() const { return m_imagePath; }
    bool batchRunning() const { return m_batchRunning; }

    /// The client area's size (5655 × 7050 twips).
    static QSize clientSize();

    /// What the rename button would run now.
    RenameRequest currentRequest() const;
    /// The names the target folder's list holds.
    const QStringList &targetNames() const;
    /// The name check window while it is open.
    NameCheckWindow *nameCheckWindow() const { return m_nameCheck; }

Q_SIGNALS:
    /// Any entry that the rename would read has changed (texts, lists, boxes, selection,
    /// folders).
    void namingChanged();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class JobHostAdapter;

    void createControls();
    void connectHandlers();
    /// The one-line text boxes: base name, start number and the extension's edit field.
    QList<QLineEdit *> textBoxes() const;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    /// Both file lists read again; the first failure, if any.
    OpResult refreshLists();
    void Text1_Change();
    void Text1_KeyDown(int keyCode);
    void Drive1_Change();
    void Drive2_Change();
    void Dir1_Change();
    void Dir2_Change();
    void File1_DblClick();
    void File2_Click();
    void File2_DblClick();
    void LoadImage();
    void mnuNameCheck_Click();
    void mnuUndo_Click();
    /// The undo item is there unless the history file is known to hold no batch.
    void updateUndo();
    /// Keeps the batch's record in the shared undo history.
    UndoRecording recordForUndo(const JobResult &result);
    /// Remembers what the history file held after a change or a reading of it.
    void noteHistory(const UndoHistoryFile &history);
    /// Closes the window if that was asked for while a batch or an undo ran.
    void closeIfAsked();

    /// Opens what paths handed in from outside name; a problem is told and nothing opens.
    void openGivenPaths(const QStringList &paths, PathsFor use);
    /// The drive and then the folder of one pane on `path`, each running its pane handling.
    void showFolder(DriveList *drive, FolderList *folder, const QString &path);
    /// The widgets a drop lands on, for each pane.
    void acceptDrops();
    /// Drags over a pane: the paths it would open; true when the event was the pane's.
    bool dragOverPane(QObject *watched, QEvent *event);
    void driveChanged(DriveList *drive, FolderList *folder);
    void folderChanged(FolderList *folder, FileList *files);
    void reportListFailure(const OpResult &failure);
    /// Both drives and folders on `folder`, each assignment running its pane handling.
    void setBothPanes(const QString &folder);
    void GetData();
    void SetData();
    OpResult SaveData();
    int comboListIndex() const;
    QStringList comboEntries() const;

    Form1Services m_services;
    Form1Controls m_ui{};
    IniData m_iniData;
    ListData m_listData;
    QString m_iniPath;
    QString m_listPath;
    QString m_imagePath;
    bool m_batchRunning = false;
    /// The running batch's (or undo's) progress, to which a close request is a stop request.
    WindowProgress *m_runningProgress = nullptr;
    /// The window was asked to close while a batch ran: it closes once the batch has stopped.
    bool m_closeAfterBatch = false;
    QPointer<NameCheckWindow> m_nameCheck;
    QString m_historyPath;
    /// The history file as last read or written, and whether it held no batch then.
    FileStatus m_historySeen;
    bool m_historySeenEmpty = false;
    /// The drag over a pane now can be dropped there.
    bool m_dropFits = false;
};
