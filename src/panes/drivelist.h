#pragma once

#include "volumes.h"

#include <QComboBox>

/// A drop-down list of the machine's volumes. Starts with none selected.
class DriveList final : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveList(Volumes &volumes, QWidget *parent = nullptr);

    /// The selected volume's root; empty when none is selected.
    QString drive() const;
    /// Selects the volume that holds `path` (a volume root or any full path); false when no
    /// volume does. Selecting another volume raises `changed`.
    bool setDrive(const QString &path);
    void showPopup() override;
    /// What the closed box shows: the volume's label where it has one, else its mount path,
    /// elided in the middle to fit.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

Q_SIGNALS:
    /// Every change of the selected volume, by the user or by an assignment.
    void changed();

private:
    void reload();
    /// The room for text in the closed box.
    int textRoom() const;

    Volumes &m_volumes;
};
