#include "helptext.h"

#include "textcodec.h"

namespace HelpText {

QString fromBytes(const QByteArray &bytes)
{
    const QString text = TextCodec::decode(bytes);
    QString result;
    result.reserve(text.size() + text.size() / 16);
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = text.indexOf(QLatin1Char('\r'), start);
        if (end < 0)
            end = n;
        result += QStringView(text).mid(start, end - start);
        result += QLatin1String("\r\n");
        start = end + 1;
        if (start < n && end < n && text[start] == QLatin1Char('\n'))
            ++start;
    }
    return result;
}

QString load(FileOperations &files, const QString &programFolder)
{
    const QString path = programFolder + QStringLiteral("/Readme.txt");
    QByteArray bytes;
    const OpResult read = files.readFile(path, bytes);
    if (!read) {
        return QStringLiteral("ヘルプファイル %1 を読み込めませんでした。\r\n%2\r\n")
            .arg(path, read.error);
    }
    return fromBytes(bytes);
}

} // namespace HelpText
