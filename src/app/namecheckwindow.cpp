#include "namecheckwindow.h"

NameCheckWindow::NameCheckWindow(RequestSource request, TargetNames targetNames, QWidget *parent)
    : QWidget(parent, Qt::Window), m_request(std::move(request)),
      m_targetNames(std::move(targetNames))
{
    setWindowTitle(QStringLiteral("名前の確認"));
}

NameCheckWindow::~NameCheckWindow() = default;

void NameCheckWindow::refresh() {}
