#include "frmabout.h"

#include "sysinfo.h"
#include "twips.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVersionNumber>

using Twips::place;

frmAbout::frmAbout(Registry &registry, FileOperations &files, Launcher &launcher,
                   MessageBoxes &messages, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_registry(registry), m_files(files), m_launcher(launcher), m_messages(messages)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setFixedSize(Twips::size(4845, 2355));
    // The black and blue texts were chosen for a light window: the window keeps one whatever the
    // desktop's colours, so that they stay readable on a dark desktop too.
    QPalette light(QColor(0xF0, 0xF0, 0xF0));
    light.setColor(QPalette::WindowText, Qt::black);
    light.setColor(QPalette::Text, Qt::black);
    light.setColor(QPalette::ButtonText, Qt::black);
    light.setColor(QPalette::Base, Qt::white);
    setPalette(light);

    picIcon = new QLabel(this);
    place(picIcon, 240, 240, 540, 540);
    picIcon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setAccessibleName(QStringLiteral("カエナミのアイコン"));
    // A tab stop of its own, between the two buttons; a dotted frame shows when it has the focus.
    picIcon->setFocusPolicy(Qt::TabFocus);
    picIcon->setStyleSheet(QStringLiteral("QLabel:focus { border: 1px dotted palette(text); }"));

    lblTitle = new QLabel(this);
    place(lblTitle, 1050, 240, 2445, 480);
    QFont titleFont;
    // The classic Japanese Gothic first, then what Linux desktops carry.
    titleFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                           QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                           QStringLiteral("VL PGothic"), QStringLiteral("Sans Serif")});
    titleFont.setPointSizeF(15.75);
    titleFont.setWeight(QFont::Bold);
    lblTitle->setFont(titleFont);
    QPalette titlePalette = lblTitle->palette();
    titlePalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    lblTitle->setPalette(titlePalette);

    lblVersion = new QLabel(QStringLiteral("ﾊﾞｰｼﾞｮﾝ"), this);
    place(lblVersion, 1050, 780, 3525, 225);
    lblDescription = new QLabel(QStringLiteral("リネーム専用ソフト"), this);
    place(lblDescription, 1050, 1125, 1965, 570);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDisclaimer = new QLabel(QStringLiteral("警告: ..."), this);
    place(lblDisclaimer, 240, 1800, 2775, 465);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette black = lblDescription->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblDescription->setPalette(black);
    lblDisclaimer->setPalette(black);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    place(cmdOK, 3360, 1440, 1380, 345);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    cmdSysInfo->setAccessibleName(QStringLiteral("システム情報"));
    place(cmdSysInfo, 3360, 1800, 1380, 345);

    setTabOrder(cmdOK, picIcon);
    setTabOrder(picIcon, cmdSysInfo);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    // Esc closes the window the way OK does.
    connect(this, &QDialog::rejected, this, &QDialog::close);
}

void frmAbout::Form_Load()
{
    const QString title = QStringLiteral("カエナミ");
    setWindowTitle(title + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    const QVersionNumber version = QVersionNumber::fromString(QApplication::applicationVersion());
    lblVersion->setText(QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
                            .arg(version.majorVersion())
                            .arg(version.minorVersion())
                            .arg(version.microVersion()));
    lblTitle->setText(title);
    cmdOK->setFocus(Qt::OtherFocusReason);
}

void frmAbout::cmdSysInfo_Click()
{
    SysInfo::StartSysInfo(m_registry, m_files, m_launcher, m_messages);
}
