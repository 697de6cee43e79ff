#include "datafiles.h"

#include "fieldreader.h"
#include "numericvalue.h"
#include "paths.h"
#include "textcodec.h"

namespace DataFiles {

IniData parseIni(const QString &text, IniData previous)
{
    FieldReader reader(text);
    IniData data = std::move(previous);
    while (!reader.atEnd()) {
        for (QString &field : data)
            field = reader.next();
    }
    return data;
}

ListData parseList(const QString &text)
{
    FieldReader reader(text);
    ListData data;
    for (QString &slot : data)
        slot = reader.next();
    return data;
}

namespace {
template <typename Fields> QString joinQuoted(const Fields &fields, QLatin1StringView separator)
{
    QString text;
    for (const QString &field : fields) {
        if (!text.isEmpty())
            text += separator;
        text += QLatin1Char('"') + field + QLatin1Char('"');
    }
    return text;
}

bool readText(FileOperations &files, const QString &path, QString &text)
{
    QByteArray bytes;
    if (!files.readFile(path, bytes))
        return false;
    text = TextCodec::decode(bytes);
    return true;
}
} // namespace

QByteArray iniBytes(const IniData &data)
{
    return TextCodec::encode(joinQuoted(data, QLatin1StringView(",")) + QLatin1String("\r\n"));
}

QByteArray listBytes(const ListData &data)
{
    return TextCodec::encode(joinQuoted(data, QLatin1StringView("\r\n")) + QLatin1String("\r\n"));
}

bool exists(FileOperations &files, const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return !name.startsWith(QLatin1Char('.')) && files.isOrdinaryFile(path);
}

bool ReadIniFile(FileOperations &files, const QString &path, IniData &data)
{
    QString text;
    if (!readText(files, path, text))
        return false;
    data = parseIni(text, data);
    return true;
}

bool ReadListFile(FileOperations &files, const QString &path, ListData &data)
{
    QString text;
    if (!readText(files, path, text))
        return false;
    data = parseList(text);
    return true;
}

QStringList GetData2(const ListData &data)
{
    QStringList entries;
    for (const QString &slot : data) {
        if (slot.isEmpty())
            break;
        entries.append(slot);
    }
    return entries;
}

void SetData2(const QStringList &entries, ListData &data)
{
    for (qsizetype i = 0; i < qsizetype(data.size()); ++i) {
        const QString entry = entries.value(i);
        if (entry.isEmpty())
            return;
        data[size_t(i)] = entry;
    }
}

bool registerExtension(QStringList &entries, const QString &text)
{
    if (text.isEmpty() || entries.contains(text, Qt::CaseSensitive))
        return false;
    entries.append(text);
    return true;
}

OpResult SaveData(FileOperations &files, const QString &iniPath, const IniData &iniData,
                  const QString &listPath, ListData &listData, const QStringList &entries)
{
    OpResult written = files.writeFileAtomically(iniPath, iniBytes(iniData));
    if (!written)
        return OpResult::failure(written.error, iniPath);
    SetData2(entries, listData);
    written = files.writeFileAtomically(listPath, listBytes(listData));
    if (!written)
        return OpResult::failure(written.error, listPath);
    return OpResult::success();
}

QString indexText(int index)
{
    return QString::number(index);
}

std::optional<int> storedIndex(const QString &field, int lastIndex)
{
    const std::optional<qint16> index = roundToInt16(numericValue(field));
    if (!index || *index < -1 || *index > lastIndex)
        return std::nullopt;
    return *index;
}

} // namespace DataFiles
