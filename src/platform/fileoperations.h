#pragma once

#include "opresult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

/// File operations on full paths. Every rule that touches files is handed one of these.
class FileOperations
{
public:
    virtual ~FileOperations() = default;

    /// Copies content, modification time and permission bits. An existing destination is
    /// replaced through a temporary file and a rename, so a failed copy never destroys it.
    virtual OpResult copyFile(const QString &source, const QString &destination) = 0;
    /// A rename within one file system (replacing the destination), else a copy and a delete.
    virtual OpResult moveFile(const QString &source, const QString &destination) = 0;
    virtual OpResult removeFile(const QString &path) = 0;
    /// Keeps the current content of `source` under a new hidden name in the same folder,
    /// leaving `source` itself untouched. The new path is written to `keptPath`.
    virtual OpResult setAside(const QString &source, QString &keptPath) = 0;
    /// True when `path` names an existing ordinary file (links are followed).
    virtual bool isOrdinaryFile(const QString &path) = 0;
    /// True when both paths name one existing file or folder.
    virtual bool isSameFile(const QString &a, const QString &b) = 0;
    /// Names of the ordinary, not hidden files in `folder`, unsorted.
    virtual OpResult listFiles(const QString &folder, QStringList &names) = 0;
    virtual OpResult readFile(const QString &path, QByteArray &bytes) = 0;
    /// Replaces the file at `path` as a whole: on failure the previous file stays intact.
    virtual OpResult writeFileAtomically(const QString &path, const QByteArray &bytes) = 0;
};
