#pragma once

#include <QByteArray>
#include <QtGlobal>

/// The system's settings registry, reduced to the calls the program makes: open a key, query a
/// value with its type and size, close the key. Results are 0 for success, else an error code.
class Registry
{
public:
    using Key = quintptr;
    static constexpr quint32 localMachine = 0x80000002;
    static constexpr long success = 0;
    static constexpr long fileNotFound = 2;
    static constexpr long moreData = 234;
    static constexpr quint32 typeText = 1;  ///< REG_SZ
    static constexpr quint32 typeDword = 4; ///< REG_DWORD

    virtual ~Registry() = default;
    virtual long open(quint32 root, const QByteArray &keyName, quint32 options, quint32 access,
                      Key &key) = 0;
    /// Copies the value's data into `buffer` (at most `size` bytes) and sets `size` to the
    /// bytes written; `moreData` when the data does not fit.
    virtual long query(Key key, const QByteArray &valueName, quint32 &type, QByteArray &buffer,
                       quint32 &size) = 0;
    virtual long close(Key key) = 0;
};

/// Linux has no registry. This one answers the system-information lookup only: the value
/// "PATH" under "SOFTWARE\Microsoft\Shared Tools\MSINFO" is the first desktop
/// system-information program found on PATH; every other key and value is missing.
class DesktopRegistry final : public Registry
{
public:
    long open(quint32 root, const QByteArray &keyName, quint32 options, quint32 access,
              Key &key) override;
    long query(Key key, const QByteArray &valueName, quint32 &type, QByteArray &buffer,
               quint32 &size) override;
    long close(Key key) override;
};

/// Starts another program without waiting for it.
class Launcher
{
public:
    virtual ~Launcher() = default;
    virtual bool startDetached(const QString &program) = 0;
};

class ProcessLauncher final : public Launcher
{
public:
    bool startDetached(const QString &program) override;
};
