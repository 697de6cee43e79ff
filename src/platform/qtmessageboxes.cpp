#include "qtmessageboxes.h"

#include <QApplication>
#include <QMessageBox>

namespace {
QString title()
{
    return QStringLiteral("カエナミ");
}
} // namespace

QWidget *QtMessageBoxes::owner() const
{
    // A message follows from what the user just did, in the window that is active.
    if (QWidget *active = QApplication::activeWindow(); active && active->isVisible())
        return active;
    return m_parent;
}

void QtMessageBoxes::inform(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::Ok, owner());
    box.exec();
}

bool QtMessageBoxes::retryOrCancel(const QString &text)
{
    QMessageBox box(QMessageBox::Information, title(), text,
                    QMessageBox::Retry | QMessageBox::Cancel, owner());
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Retry;
}

bool QtMessageBoxes::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::Question, title(), text, QMessageBox::Yes | QMessageBox::No,
                    owner());
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
