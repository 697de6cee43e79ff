#include "drivelist.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

constexpr int LabelRole = Qt::UserRole + 1;

// Drawn rather than taken from the style: the style's drive icon is looked up through the icon
// theme at every size and costs more at start-up than the rest of the list.
QIcon driveIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0x55, 0x5b, 0x66));
    p.setBrush(QColor(0xd9, 0xdd, 0xe3));
    p.drawRoundedRect(QRectF(1.5, 4.5, 13, 8), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xb3, 0x4a));
    p.drawEllipse(QRectF(11, 9.5, 2, 2));
    p.setBrush(QColor(0x8a, 0x90, 0x9a));
    p.drawRect(QRectF(3.5, 10, 5, 1));
    p.end();
    return QIcon(pixmap);
}

} // namespace

DriveList::DriveList(Volumes &volumes, QWidget *parent) : QComboBox(parent), m_volumes(volumes)
{
    reload();
    setCurrentIndex(-1);
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        setToolTip(drive());
        Q_EMIT changed();
    });
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
    // Long mount paths are shown whole in the list, however narrow the box.
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = qMax(widest, fontMetrics().horizontalAdvance(itemText(i)));
    const int margins = 4 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) +
                        style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) + 16;
    view()->setMinimumWidth(widest + iconSize().width() + margins);
    QComboBox::showPopup();
}

int DriveList::textRoom() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const int iconRoom = option.currentIcon.isNull() ? 0 : option.iconSize.width() + 4;
    return qMax(0, field.width() - iconRoom);
}

QString DriveList::shownText() const
{
    if (currentIndex() < 0)
        return {};
    const QString label = currentData(LabelRole).toString();
    return fontMetrics().elidedText(label.isEmpty() ? drive() : label, Qt::ElideMiddle, textRoom());
}

void DriveList::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = shownText();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void DriveList::reload()
{
    const QString selected = drive();
    const QSignalBlocker blocker(this);
    clear();
    static const QIcon icon = driveIcon();
    for (const Volume &volume : m_volumes.list()) {
        const QString text = volume.label.isEmpty() ? volume.root
                                                    : volume.root + QStringLiteral("  [") +
                                                          volume.label + QLatin1Char(']');
        addItem(icon, text, volume.root);
        setItemData(count() - 1, volume.label, LabelRole);
    }
    // A volume that went away stays listed while it is selected, so the pane stays consistent.
    if (!selected.isEmpty() && findData(selected) < 0)
        addItem(icon, selected, selected);
    setCurrentIndex(selected.isEmpty() ? -1 : findData(selected));
}
