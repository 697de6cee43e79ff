#include "sysinfo.h"

#include "textcodec.h"

namespace SysInfo {

bool GetKeyValue(Registry &registry, quint32 keyRoot, const QString &keyName,
                 const QString &subKeyRef, QString &keyVal)
{
    Registry::Key key = 0;
    if (registry.open(keyRoot, TextCodec::encode(keyName), 0, allAccess, key) !=
        Registry::success) {
        keyVal.clear();
        return false;
    }
    QByteArray buffer(bufferSize, '\0');
    quint32 size = bufferSize;
    quint32 type = 0;
    if (registry.query(key, TextCodec::encode(subKeyRef), type, buffer, size) !=
            Registry::success ||
        size > quint32(bufferSize)) {
        keyVal.clear();
        registry.close(key);
        return false;
    }
    buffer.truncate(qsizetype(size));
    QString text = TextCodec::decode(buffer);
    if (text.endsWith(QChar(0)))
        text.chop(1);

    if (type == Registry::typeText) {
        keyVal = text;
    } else if (type == Registry::typeDword) {
        qint32 value = 0;
        for (qsizetype i = std::min<qsizetype>(buffer.size(), 4) - 1; i >= 0; --i)
            value = qint32((quint32(value) << 8) | quint8(buffer[i]));
        keyVal = QString::number(value);
    }
    registry.close(key);
    return true;
}

bool StartSysInfo(Registry &registry, FileOperations &files, Launcher &launcher,
                  MessageBoxes &messages)
{
    QString toolPath;
    if (!GetKeyValue(registry, Registry::localMachine,
                     QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                     QStringLiteral("PATH"), toolPath)) {
        if (!GetKeyValue(registry, Registry::localMachine,
                         QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                         QStringLiteral("MSINFO"), toolPath)) {
            messages.inform(unavailableMessage());
            return false;
        }
        const QString candidate = toolPath + QStringLiteral("/MSINFO32.EXE");
        if (!files.isOrdinaryFile(candidate)) {
            messages.inform(unavailableMessage());
            return false;
        }
        toolPath = candidate;
    }
    if (!launcher.startDetached(toolPath)) {
        messages.inform(unavailableMessage());
        return false;
    }
    return true;
}

QString unavailableMessage()
{
    return QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");
}

} // namespace SysInfo
