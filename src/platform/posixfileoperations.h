#pragma once

#include "fileoperations.h"

/// File operations through the kernel's fast paths (reflink, copy_file_range, rename).
class PosixFileOperations final : public FileOperations
{
public:
    OpResult copyFile(const QString &source, const QString &destination) override;
    OpResult moveFile(const QString &source, const QString &destination) override;
    OpResult removeFile(const QString &path) override;
    OpResult setAside(const QString &source, QString &keptPath) override;
    bool isOrdinaryFile(const QString &path) override;
    bool isSameFile(const QString &a, const QString &b) override;
    OpResult listFiles(const QString &folder, QStringList &names) override;
    OpResult readFile(const QString &path, QByteArray &bytes) override;
    OpResult writeFileAtomically(const QString &path, const QByteArray &bytes) override;
};
