#pragma once

#include "datafiles.h"
#include "doubles.h"
#include "drivelist.h"
#include "fakevolumes.h"
#include "filelist.h"
#include "folderlist.h"
#include "form1.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

/// A main window on two test volumes ("a", holding the home folder, and "b") with its
/// program folder, message boxes and file operations as doubles.
struct Form1Fixture
{
    Form1Fixture()
    {
        QDir top(root.path());
        for (const char *folder : {"prog", "a/home", "a/photos", "b/dcim"})
            top.mkpath(folder);
        volumes.volumes = {{"/", {}}, {path("a"), "A"}, {path("b"), "B"}};
        volumes.home = path("a/home");
        // Files a batch replaces go to a trash of the test's own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
    }

    QString path(const QString &relative) const { return root.path() + '/' + relative; }
    QString programFile(const char *name) const { return path("prog/") + name; }

    /// Starts the window, with the paths of its command line.
    Form1 &start(const QStringList &givenPaths = {})
    {
        const auto counted = [](int &count, std::function<void()> &then) {
            return [&count, &then] {
                ++count;
                if (then)
                    then();
            };
        };
        form = std::make_unique<Form1>(
            Form1Services{files, volumes, messages, path("prog"), counted(ended, onEnd),
                          counted(helpShown, onHelp), counted(aboutShown, onAbout)});
        form->Form_Load(givenPaths);
        return *form;
    }
    const Form1Controls &ui() const { return form->ui(); }

    QTemporaryDir root;
    FaultyFileOperations files;
    FakeVolumes volumes;
    RecordingMessageBoxes messages;
    std::unique_ptr<Form1> form;
    std::function<void()> onEnd, onHelp, onAbout;
    int ended = 0;
    int helpShown = 0;
    int aboutShown = 0;
};
