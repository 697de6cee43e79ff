#include "textcodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace TextCodec {

QString decode(const QByteArray &bytes)
{
    QStringDecoder system(QStringConverter::System, QStringConverter::Flag::Stateless);
    QString text = system(bytes);
    if (!system.hasError())
        return text;
    QStringDecoder shiftJis("CP932", QStringConverter::Flag::Stateless);
    if (!shiftJis.isValid())
        return text;
    return shiftJis(bytes);
}

QByteArray encode(const QString &text)
{
    QStringEncoder system(QStringConverter::System);
    return system(text);
}

} // namespace TextCodec
