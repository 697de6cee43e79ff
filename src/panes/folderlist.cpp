#include "folderlist.h"

#include "filenames.h"
#include "paths.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include "naturalorder.h"

namespace {
constexpr int PathRole = Qt::UserRole + 1;
constexpr int LevelRole = Qt::UserRole + 2;
constexpr int indentStep = 10;

/// Draws each folder indented by its depth, highlight included, as classic folder lists do.
class IndentDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem indented(option);
        indented.rect.adjust(index.data(LevelRole).toInt() * indentStep, 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }
};

/// `folder` without "." parts, ".." parts, repeated or trailing slashes; text only, so kept
/// bytes stay as they are.
QString cleanPath(const QString &folder)
{
    QStringList parts;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (part != QLatin1String(".")) {
            parts.append(part);
        }
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}
} // namespace

FolderList::FolderList(Volumes &volumes, QWidget *parent) : QListWidget(parent), m_volumes(volumes)
{
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setIconSize(QSize(16, 16));
    setItemDelegate(new IndentDelegate(this));
    connect(this, &QListWidget::itemDoubleClicked, this, &FolderList::openItem);
}

OpResult FolderList::setPath(const QString &folder)
{
    if (!folder.startsWith(QLatin1Char('/')))
        return OpResult::failure(systemErrorText(ENOENT), folder);
    const QString clean = cleanPath(folder);
    QStringList subfolders;
    if (OpResult listed = m_volumes.listFolders(clean, subfolders); !listed)
        return listed;
    NaturalOrder::sort(subfolders);
    const bool moved = clean != m_path;
    m_path = clean;
    if (const QString root = Volumes::rootOf(m_volumes.list(), clean); !root.isEmpty())
        m_lastShown.insert(root, clean);
    rebuild(subfolders);
    if (moved)
        Q_EMIT changed();
    return OpResult::success();
}

QString FolderList::currentFolderOf(const QString &root)
{
    const auto it = m_lastShown.constFind(root);
    if (it == m_lastShown.constEnd())
        return m_volumes.startFolder(root);
    // The folder may have gone while another volume was shown (a card swapped, a folder
    // removed): the nearest folder above it that can still be read is where the pane goes.
    // When none can, the volume itself cannot be read, and the folder's failure is the one told.
    for (QString folder = *it; folder.size() >= root.size(); folder = Paths::folderOf(folder)) {
        if (m_volumes.checkReadable(folder))
            return folder;
        if (folder == root)
            break;
    }
    return *it;
}

void FolderList::rebuild(const QStringList &subfolders)
{
    static const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    static const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QString root = Volumes::rootOf(m_volumes.list(), m_path);

    clear();
    // The chain from the volume's root down to the current folder.
    QStringList chain{root.isEmpty() ? QStringLiteral("/") : root};
    const QString below = m_path.mid(chain.first().size());
    for (const QString &part : below.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        chain.append(Paths::join(chain.last(), part));
    int level = 0;
    for (const QString &folder : chain) {
        const QString text = level == 0 ? folder : folder.mid(folder.lastIndexOf('/') + 1);
        auto *item = new QListWidgetItem(open, FileNames::display(text), this);
        item->setData(PathRole, folder);
        item->setData(LevelRole, level);
        ++level;
    }
    QListWidgetItem *current = item(count() - 1);
    for (const QString &name : subfolders) {
        auto *item = new QListWidgetItem(closed, FileNames::display(name), this);
        item->setData(PathRole, Paths::join(m_path, name));
        item->setData(LevelRole, level);
    }
    setCurrentItem(current);
    scrollToItem(current);
}

void FolderList::openItem(QListWidgetItem *item)
{
    if (!item)
        return;
    const OpResult opened = setPath(item->data(PathRole).toString());
    if (!opened) {
        showCurrentAgain();
        Q_EMIT openFailed(opened);
    }
}

void FolderList::showCurrentAgain()
{
    // The folder that failed may be gone: what is listed must be what is there.
    QStringList subfolders;
    if (m_volumes.listFolders(m_path, subfolders)) {
        NaturalOrder::sort(subfolders);
        rebuild(subfolders);
        return;
    }
    for (int i = 0; i < count(); ++i) {
        if (item(i)->data(PathRole).toString() == m_path) {
            setCurrentItem(item(i));
            scrollToItem(item(i));
            return;
        }
    }
}

void FolderList::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openItem(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}
