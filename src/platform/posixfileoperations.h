#pragma once

#include "fileoperations.h"

#include <QHash>

/// File operations through the kernel's fast paths (reflink, copy_file_range, O_TMPFILE,
/// renameat2).
class PosixFileOperations final : public FileOperations
{
public:
    struct Options
    {
        /// Write new files as unnamed files first (O_TMPFILE); tests turn it off to exercise
        /// the way of file systems that refuse it.
        bool unnamedFiles = true;
    };
    PosixFileOperations() = default;
    explicit PosixFileOperations(Options options) : m_options(options) {}
    ~PosixFileOperations() override;

    void setBusyHandler(std::function<void()> handler) override;
    OpResult copyFile(const QString &source, const QString &destination,
                      const WriteOptions &options, WriteReport *report = nullptr) override;
    OpResult moveFile(const QString &source, const QString &destination,
                      const WriteOptions &options, WriteReport *report = nullptr) override;
    OpResult removeFile(const QString &path) override;
    OpResult setAside(const QString &source, const QString &keptPath) override;
    OpResult renameNoReplace(const QString &from, const QString &to) override;
    OpResult restoreFromTrash(const QString &trashedFile, const QString &destination) override;
    OpResult makeSymbolicLink(const QString &target, const QString &path) override;
    OpResult makeHardLink(const QString &existing, const QString &path) override;
    FileStatus status(const QString &path, bool followLinks) override;
    QString linkText(const QString &path) override;
    bool isOrdinaryFile(const QString &path) override;
    bool isSameFile(const QString &a, const QString &b) override;
    bool sameContent(const QString &a, const QString &b) override;
    int nameMax(const QString &folder) override;
    bool writesUnnamedFiles(const QString &folder) override;
    OpResult listFiles(const QString &folder, QStringList &names) override;
    OpResult listNamesStartingWith(const QString &folder, const QString &prefix,
                                   QStringList &names) override;
    OpResult listEntries(const QString &folder, QHash<QString, FileStatus> &entries) override;
    OpResult readFile(const QString &path, QByteArray &bytes) override;
    OpResult readFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes) override;
    OpResult writeFileAtomically(const QString &path, const QByteArray &bytes,
                                 bool onlyForTheUser = false) override;
    OpResult writeJournal(const QString &path, const QByteArray &bytes) override;
    OpResult finishJournal(const QString &path) override;
    void releaseJournal(const QString &path) override;
    OpResult claimJournal(const QString &path, QByteArray &bytes) override;

private:
    Options m_options;
    std::function<void()> m_busy;
    QHash<QString, int> m_heldJournals; ///< path -> the locked descriptor
};
