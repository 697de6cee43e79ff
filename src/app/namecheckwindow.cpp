#include "namecheckwindow.h"

#include "accessibility.h"
#include "namecheckmodel.h"
#include "twips.h"

#include <QHeaderView>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

/// Colours the outcome so that replacements and stops stand out in a long list.
class MarkDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        using Mark = NameCheckModel::Mark;
        const auto mark = Mark(index.data(NameCheckModel::MarkRole).toInt());
        QColor colour;
        switch (mark) {
        case Mark::Replaced:
        case Mark::ReplacedSource:
            colour = QColor(0xA8, 0x50, 0x00);
            break;
        case Mark::SameNameStop:
        case Mark::NumberLimit:
        case Mark::Refused:
        case Mark::Stranded:
        case Mark::Blocked:
            colour = QColor(0xC0, 0x10, 0x10);
            break;
        case Mark::NotProcessed:
            colour = option->palette.color(QPalette::Disabled, QPalette::Text);
            break;
        case Mark::New:
        case Mark::NewBesideRenamed:
        case Mark::Unchanged:
            return;
        }
        if (mark == Mark::NotProcessed || index.column() == NameCheckModel::OutcomeColumn)
            option->palette.setColor(QPalette::Text, colour);
    }
};

} // namespace

NameCheckWindow::NameCheckWindow(RequestSource request, TargetNames targetNames,
                                 FileOperations *files, QWidget *parent)
    : QWidget(parent, Qt::Window), m_request(std::move(request)),
      m_targetNames(std::move(targetNames)), m_model(new NameCheckModel(this)),
      m_summary(new QLabel(this)), m_table(new QTableView(this))
{
    m_model->setFileOperations(files);
    Accessibility::exposeAs("NameCheckWindow", QAccessible::Window);
    setWindowTitle(QStringLiteral("名前の確認"));
    m_table->setAccessibleName(QStringLiteral("元の名前と新しい名前"));

    m_summary->setWordWrap(true);
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_table->setModel(m_model);
    m_table->setItemDelegate(new MarkDelegate(m_table));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSortingEnabled(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    // Fixed heights and widths: nothing is measured per row, whatever the row count.
    QHeaderView *rows = m_table->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    rows->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(true);
    columns->setHighlightSections(false);
    columns->resizeSection(NameCheckModel::OldNameColumn, Twips::toPixels(2400));
    columns->resizeSection(NameCheckModel::NewNameColumn, Twips::toPixels(2400));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_table, 1);

    // A tool window as tall as the main window, wide enough for the longest outcome.
    resize(Twips::size(9300, 7050));
}

NameCheckWindow::~NameCheckWindow() = default;

void NameCheckWindow::refresh()
{
    m_model->setRequest(m_request(), m_targetNames());
    m_summary->setText(m_model->summary());
}
