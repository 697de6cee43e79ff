#include "qtmessageboxes.h"

#include <QMessageBox>

namespace {
QString title()
{
    return QStringLiteral("カエナミ");
}
} // namespace

void QtMessageBoxes::inform(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool QtMessageBoxes::retryOrCancel(const QString &text)
{
    QMessageBox box(QMessageBox::Information, title(), text,
                    QMessageBox::Retry | QMessageBox::Cancel, m_parent);
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Retry;
}

bool QtMessageBoxes::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::Question, title(), text, QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
