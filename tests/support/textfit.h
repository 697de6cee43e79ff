#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWidget>

namespace TextFit {

/// The Japanese fonts a Debian desktop may carry, those installed here, and the platform's own
/// choice (an empty name).
inline QStringList japaneseFonts()
{
    QStringList fonts{QString()};
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    for (const char *family : {"Noto Sans CJK JP", "IPAPGothic", "IPAGothic", "VL PGothic",
                               "VL Gothic", "TakaoPGothic", "Droid Sans Fallback"}) {
        if (installed.contains(QLatin1String(family)))
            fonts.append(QLatin1String(family));
    }
    return fonts;
}

/// One data row per font of japaneseFonts(), in a column "family".
inline void addFontRows()
{
    QTest::addColumn<QString>("family");
    for (const QString &family : japaneseFonts())
        QTest::newRow(qPrintable(family.isEmpty() ? "platform font" : family)) << family;
}

/// The program's 9 pt font in `family` (the platform's own when empty) while it lives.
class ProgramFont
{
public:
    explicit ProgramFont(const QString &family) : m_saved(QApplication::font())
    {
        QFont font = m_saved;
        if (!family.isEmpty())
            font.setFamilies({family});
        font.setPointSize(9);
        QApplication::setFont(font);
    }
    ~ProgramFont() { QApplication::setFont(m_saved); }
    ProgramFont(const ProgramFont &) = delete;
    ProgramFont &operator=(const ProgramFont &) = delete;

private:
    QFont m_saved;
};

/// One line of text as it is shown: "&" marks an access key and takes no room.
inline QString shown(const QString &text)
{
    QString plain = text;
    plain.replace(QLatin1String("&&"), QLatin1String("\x01"));
    plain.remove(QLatin1Char('&'));
    plain.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return plain;
}

/// Every label, button and check box caption in `window` that does not fit the room its control
/// draws it in, described for a failure message; empty when all fit.
inline QStringList clipped(QWidget *window)
{
    QStringList found;
    // Left-aligned text is cut where its ink ends; centred text is placed by its advance.
    const auto check = [&](QWidget *widget, const QString &text, const QRect &room, bool left) {
        const QFontMetrics metrics(widget->font());
        const QRect ink = metrics.boundingRect(shown(text));
        const int width = left ? ink.x() + ink.width() : metrics.horizontalAdvance(shown(text));
        const int height = metrics.tightBoundingRect(shown(text)).height();
        if (width > room.width() || height > room.height())
            found.append(QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
                             .arg(text)
                             .arg(width)
                             .arg(height)
                             .arg(room.width())
                             .arg(room.height()));
    };
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->text().isEmpty() || label->wordWrap() || !label->isVisibleTo(window))
            continue;
        const int inset = 2 * label->margin() + qMax(0, label->indent());
        check(label, label->text(), label->contentsRect().adjusted(0, 0, -inset, 0),
              !(label->alignment() & (Qt::AlignHCenter | Qt::AlignRight)));
    }
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->text().isEmpty() || !button->isVisibleTo(window))
            continue;
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool box = qobject_cast<QCheckBox *>(button) != nullptr;
        if (!box && !qobject_cast<QPushButton *>(button))
            continue;
        const QRect room = button->style()->subElementRect(
            box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
        check(button, button->text(), room, box);
    }
    return found;
}

} // namespace TextFit
