#include "helptext.h"

#include "textcodec.h"

#include <algorithm>

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

QString cutShortNote()
{
    return QStringLiteral("（ヘルプファイルが長すぎるため、ここまでを表示しています。）\r\n");
}

QString load(FileOperations &files, const QString &programFolder)
{
    const QString path = programFolder + QStringLiteral("/Readme.txt");
    QByteArray bytes;
    // One byte more than is shown tells whether there is more.
    const OpResult read = files.readFileStart(path, maxBytes + 1, bytes);
    if (!read) {
        return QStringLiteral("ヘルプファイル %1 を読み込めませんでした。\r\n%2\r\n")
            .arg(path, read.error);
    }
    if (bytes.size() <= maxBytes)
        return fromBytes(bytes);
    bytes.truncate(maxBytes);
    // Whole lines only, so that no character is cut in two.
    const qsizetype lineEnd = std::max(bytes.lastIndexOf('\n'), bytes.lastIndexOf('\r'));
    if (lineEnd >= 0)
        bytes.truncate(lineEnd + 1);
    return fromBytes(bytes) + cutShortNote();
}

} // namespace HelpText
