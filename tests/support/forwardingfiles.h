#pragma once

#include "folderlisting.h"
#include "posixfileoperations.h"

/// Real file operations seen through a lens: every folder path goes through real() on its way
/// to the system and every status through seen() on its way back (an open folder keeps the
/// path and identity it is seen under). Doubles override those, or single operations.
class ForwardingFileOperations : public FileOperations
{
public:
    ForwardingFileOperations() = default;
    explicit ForwardingFileOperations(PosixFileOperations::Options options) : m_files(options) {}

    KAENAMI_PATH_FORMS(FileOperations);

    void setBusyHandler(std::function<void()> h) override { m_files.setBusyHandler(std::move(h)); }
    OpResult openFolder(const QString &path, OpenFolder &folder) override
    {
        OpenFolder opened;
        const OpResult result = m_files.openFolder(real(path), opened);
        if (!result) {
            folder = {};
            return result;
        }
        FileStatus identity;
        identity.type = FileStatus::Type::Directory;
        identity.device = opened.device();
        identity.inode = opened.inode();
        identity = seen(path, identity);
        folder = opened.relabelled(path, identity.device, identity.inode);
        return result;
    }
    OpResult copyFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r) override
    {
        return m_files.copyFile(sf, s, df, d, o, r);
    }
    OpResult moveFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r) override
    {
        return m_files.moveFile(sf, s, df, d, o, r);
    }
    OpResult removeFile(const OpenFolder &f, const QString &n) override
    {
        return m_files.removeFile(f, n);
    }
    OpResult setAside(const OpenFolder &sf, const QString &s, const OpenFolder &kf,
                      const QString &k) override
    {
        return m_files.setAside(sf, s, kf, k);
    }
    OpResult renameNoReplace(const OpenFolder &ff, const QString &f, const OpenFolder &tf,
                             const QString &t) override
    {
        return m_files.renameNoReplace(ff, f, tf, t);
    }
    OpResult restoreFromTrash(const QString &trashed, const OpenFolder &f, const QString &n,
                              const RestoreOptions &o = {}) override
    {
        return m_files.restoreFromTrash(real(trashed), f, n, o);
    }
    OpResult makeSymbolicLink(const QString &t, const OpenFolder &f, const QString &n) override
    {
        return m_files.makeSymbolicLink(t, f, n);
    }
    OpResult makeHardLink(const OpenFolder &ef, const QString &e, const OpenFolder &f,
                          const QString &n) override
    {
        return m_files.makeHardLink(ef, e, f, n);
    }
    FileStatus status(const OpenFolder &f, const QString &n, bool follow) override
    {
        return seen(f.pathOf(n), m_files.status(f, n, follow));
    }
    QString linkText(const OpenFolder &f, const QString &n) override
    {
        return m_files.linkText(f, n);
    }
    bool sameContent(const OpenFolder &fa, const QString &a, const OpenFolder &fb,
                     const QString &b) override
    {
        return m_files.sameContent(fa, a, fb, b);
    }
    bool writesUnnamedFiles(const OpenFolder &f) override { return m_files.writesUnnamedFiles(f); }
    int nameMax(const OpenFolder &f) override { return m_files.nameMax(f); }
    bool keepsFileIdentities(const OpenFolder &f) override
    {
        return m_files.keepsFileIdentities(f);
    }
    QString trashFolderFor(const OpenFolder &f) override { return m_files.trashFolderFor(f); }
    QString currentPath(const OpenFolder &f) override
    {
        // Where the folder is still seen under its path, it keeps that path.
        OpenFolder now;
        if (openFolder(f.path(), now) && now.sameFolderAs(f))
            return f.path();
        return m_files.currentPath(f);
    }
    OpResult listFolder(const OpenFolder &f, FolderListing &l) override
    {
        const OpResult listed = m_files.listFolder(f, l);
        l.adjust(
            [&](const QString &name, const FileStatus &st) { return seen(f.pathOf(name), st); });
        return listed;
    }
    OpResult listNamesStartingWith(const OpenFolder &f, const QString &p, QStringList &n) override
    {
        return m_files.listNamesStartingWith(f, p, n);
    }
    OpResult listFiles(const QString &f, QStringList &n) override
    {
        return m_files.listFiles(real(f), n);
    }
    OpResult readFile(const QString &p, QByteArray &b) override
    {
        return m_files.readFile(real(p), b);
    }
    OpResult readFileStart(const QString &p, qint64 n, QByteArray &b) override
    {
        return m_files.readFileStart(real(p), n, b);
    }
    OpResult writeFileAtomically(const QString &p, const QByteArray &b, bool own = false) override
    {
        return m_files.writeFileAtomically(real(p), b, own);
    }
    OpResult writeJournal(const QString &p, const QByteArray &b) override
    {
        return m_files.writeJournal(p, b);
    }
    OpResult finishJournal(const QString &p) override { return m_files.finishJournal(p); }
    void releaseJournal(const QString &p) override { m_files.releaseJournal(p); }
    OpResult claimJournal(const QString &p, QByteArray &b,
                          qint64 limit = std::numeric_limits<qint64>::max()) override
    {
        return m_files.claimJournal(p, b, limit);
    }
    OpResult lockSharedFile(const QString &p, bool create, FileStatus &locked) override
    {
        const OpResult result = m_files.lockSharedFile(real(p), create, locked);
        locked = seen(p, locked);
        return result;
    }
    OpResult readLockedFile(const QString &p, qint64 maxBytes, QByteArray &b) override
    {
        return m_files.readLockedFile(real(p), maxBytes, b);
    }
    OpResult replaceLockedFile(const QString &p, const QByteArray &b, const QString &t) override
    {
        return m_files.replaceLockedFile(real(p), b, real(t));
    }
    void unlockSharedFile(const QString &p) override { m_files.unlockSharedFile(real(p)); }

protected:
    virtual QString real(const QString &path) const { return path; }
    virtual FileStatus seen(const QString &, const FileStatus &status) const { return status; }
    PosixFileOperations m_files;
};
