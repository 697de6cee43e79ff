#include "drivelist.h"

#include <QSignalBlocker>
#include <QStyle>

DriveList::DriveList(Volumes &volumes, QWidget *parent) : QComboBox(parent), m_volumes(volumes)
{
    reload();
    setCurrentIndex(-1);
    connect(this, &QComboBox::currentIndexChanged, this, [this] { Q_EMIT changed(); });
}

QString DriveList::drive() const
{
    return currentData().toString();
}

bool DriveList::setDrive(const QString &path)
{
    const auto listed = [this] {
        QList<Volume> volumes;
        for (int i = 0; i < count(); ++i)
            volumes.append({itemData(i).toString(), {}});
        return volumes;
    };
    QString root = Volumes::rootOf(listed(), path);
    if (path.startsWith(QLatin1Char('/')) && root != path) {
        // Perhaps a volume mounted since the list was read.
        reload();
        root = Volumes::rootOf(listed(), path);
    }
    if (root.isEmpty())
        return false;
    setCurrentIndex(findData(root));
    return true;
}

void DriveList::showPopup()
{
    reload(); // volumes come and go while the program runs
    QComboBox::showPopup();
}

void DriveList::reload()
{
    const QString selected = drive();
    const QSignalBlocker blocker(this);
    clear();
    static const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const Volume &volume : m_volumes.list()) {
        const QString text = volume.label.isEmpty() ? volume.root
                                                    : volume.root + QStringLiteral("  [") +
                                                          volume.label + QLatin1Char(']');
        addItem(icon, text, volume.root);
    }
    // A volume that went away stays listed while it is selected, so the pane stays consistent.
    if (!selected.isEmpty() && findData(selected) < 0)
        addItem(icon, selected, selected);
    setCurrentIndex(selected.isEmpty() ? -1 : findData(selected));
}
