#include "form2.h"

#include "accessibility.h"
#include "helptext.h"
#include "twips.h"

#include <QPlainTextEdit>
#include <QPushButton>

Form2::Form2(FileOperations &files, QString programFolder, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_files(files), m_programFolder(std::move(programFolder))
{
    Accessibility::exposeAs("Form2", QAccessible::Dialog);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("カエナミヘルプ"));
    setFixedSize(Twips::size(8070, 7020));

    Text1 = new QPlainTextEdit(this);
    Twips::place(Text1, 0, 0, 8055, 6495);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setAccessibleName(QStringLiteral("ヘルプの本文"));

    Command1 = new QPushButton(QStringLiteral("プログラムへ戻る"), this);
    Twips::place(Command1, 6120, 6600, 1935, 375);
    Command1->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);

    setTabOrder(Text1, Command1);
}

void Form2::Form_Load()
{
    m_helpText = HelpText::load(m_files, m_programFolder);
    // The text box breaks lines at LF; CR LF pairs are the lines of the text.
    QString shown = m_helpText;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Text1->setPlainText(shown);
    Text1->setFocus(Qt::OtherFocusReason);
}
