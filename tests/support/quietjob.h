#pragma once

#include "renamejob.h"

/// A batch without a window: no bar, and completion steps that always succeed.
class QuietProgress final : public ProgressDisplay
{
public:
    void setRange(int, int) override {}
    void setValue(int) override {}
    void setVisible(bool) override {}
};

class QuietHost final : public JobHost
{
public:
    OpResult refreshLists() override { return {}; }
    OpResult saveData() override { return {}; }
    void focusBaseName() override {}
    UndoRecording recordForUndo(const JobResult &) override { return {}; }
};
