#pragma once

#include "fileoperations.h"
#include "systemcalls.h"

#include <QHash>

#include <map>

/// File operations through the kernel's fast paths (reflink, copy_file_range, O_TMPFILE,
/// renameat2), relative to open folders.
class PosixFileOperations final : public FileOperations
{
public:
    struct Options
    {
        /// Write new files as unnamed files first (O_TMPFILE); tests turn it off to exercise
        /// the way of file systems that refuse it.
        bool unnamedFiles = true;
        /// How long a change of a shared file waits for another run's lock before it gives up.
        int lockWaitMs = 10000;
    };
    PosixFileOperations() = default;
    explicit PosixFileOperations(Options options) : m_options(options) {}
    ~PosixFileOperations() override;

    KAENAMI_PATH_FORMS(FileOperations);

    void setBusyHandler(std::function<void()> handler) override;
    OpResult openFolder(const QString &path, OpenFolder &folder) override;
    OpResult copyFile(const OpenFolder &sourceFolder, const QString &source,
                      const OpenFolder &destinationFolder, const QString &destination,
                      const WriteOptions &options, WriteReport *report = nullptr) override;
    OpResult moveFile(const OpenFolder &sourceFolder, const QString &source,
                      const OpenFolder &destinationFolder, const QString &destination,
                      const WriteOptions &options, WriteReport *report = nullptr) override;
    OpResult removeFile(const OpenFolder &folder, const QString &name) override;
    OpResult setAside(const OpenFolder &sourceFolder, const QString &source,
                      const OpenFolder &keptFolder, const QString &kept) override;
    OpResult renameNoReplace(const OpenFolder &fromFolder, const QString &from,
                             const OpenFolder &toFolder, const QString &to) override;
    OpResult restoreFromTrash(const QString &trashedFile, const OpenFolder &folder,
                              const QString &destination,
                              const RestoreOptions &options = {}) override;
    OpResult makeSymbolicLink(const QString &target, const OpenFolder &folder,
                              const QString &name) override;
    OpResult makeHardLink(const OpenFolder &existingFolder, const QString &existing,
                          const OpenFolder &folder, const QString &name) override;
    FileStatus status(const OpenFolder &folder, const QString &name, bool followLinks) override;
    QString linkText(const OpenFolder &folder, const QString &name) override;
    bool sameContent(const OpenFolder &folderA, const QString &a, const OpenFolder &folderB,
                     const QString &b) override;
    bool writesUnnamedFiles(const OpenFolder &folder) override;
    int nameMax(const OpenFolder &folder) override;
    bool keepsFileIdentities(const OpenFolder &folder) override;
    QString currentPath(const OpenFolder &folder) override;
    QString trashFolderFor(const OpenFolder &folder) override;
    OpResult listFolder(const OpenFolder &folder, FolderListing &listing) override;
    OpResult listNamesStartingWith(const OpenFolder &folder, const QString &prefix,
                                   QStringList &names) override;
    OpResult listFiles(const QString &folder, QStringList &names) override;
    OpResult readFile(const QString &path, QByteArray &bytes) override;
    OpResult readFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes) override;
    OpResult writeFileAtomically(const QString &path, const QByteArray &bytes,
                                 bool onlyForTheUser = false) override;
    OpResult writeJournal(const QString &path, const QByteArray &bytes) override;
    OpResult finishJournal(const QString &path) override;
    void releaseJournal(const QString &path) override;
    OpResult claimJournal(const QString &path, QByteArray &bytes,
                          qint64 sizeLimit = std::numeric_limits<qint64>::max()) override;
    OpResult lockSharedFile(const QString &path, bool create, FileStatus &locked) override;
    OpResult readLockedFile(const QString &path, qint64 maxBytes, QByteArray &bytes) override;
    OpResult replaceLockedFile(const QString &path, const QByteArray &bytes,
                               const QString &temporary) override;
    void unlockSharedFile(const QString &path) override;

private:
    Options m_options;
    std::function<void()> m_busy;
    QHash<QString, int> m_heldJournals; ///< path -> the locked descriptor
    std::map<QString, SystemCalls::FileDescriptor> m_lockedFiles;
};
