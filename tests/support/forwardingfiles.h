#pragma once

#include "posixfileoperations.h"

/// Real file operations seen through a lens: every path goes through real() on its way to the
/// system and every status through seen() on its way back. Doubles override those, or single
/// operations.
class ForwardingFileOperations : public FileOperations
{
public:
    ForwardingFileOperations() = default;
    explicit ForwardingFileOperations(PosixFileOperations::Options options) : m_files(options) {}

    void setBusyHandler(std::function<void()> h) override { m_files.setBusyHandler(std::move(h)); }
    OpResult copyFile(const QString &s, const QString &d, const WriteOptions &o,
                      WriteReport *r) override
    {
        return m_files.copyFile(real(s), real(d), realOptions(o), r);
    }
    OpResult moveFile(const QString &s, const QString &d, const WriteOptions &o,
                      WriteReport *r) override
    {
        return m_files.moveFile(real(s), real(d), realOptions(o), r);
    }
    OpResult removeFile(const QString &p) override { return m_files.removeFile(real(p)); }
    OpResult setAside(const QString &s, const QString &k) override
    {
        return m_files.setAside(real(s), real(k));
    }
    OpResult renameNoReplace(const QString &f, const QString &t) override
    {
        return m_files.renameNoReplace(real(f), real(t));
    }
    OpResult restoreFromTrash(const QString &f, const QString &t) override
    {
        return m_files.restoreFromTrash(real(f), real(t));
    }
    OpResult makeSymbolicLink(const QString &t, const QString &p) override
    {
        return m_files.makeSymbolicLink(t, real(p));
    }
    OpResult makeHardLink(const QString &e, const QString &p) override
    {
        return m_files.makeHardLink(real(e), real(p));
    }
    FileStatus status(const QString &p, bool follow) override
    {
        return seen(p, m_files.status(real(p), follow));
    }
    QString linkText(const QString &p) override { return m_files.linkText(real(p)); }
    bool isOrdinaryFile(const QString &p) override { return m_files.isOrdinaryFile(real(p)); }
    bool isSameFile(const QString &a, const QString &b) override
    {
        return status(a, true).sameFileAs(status(b, true));
    }
    bool sameContent(const QString &a, const QString &b) override
    {
        return m_files.sameContent(real(a), real(b));
    }
    bool writesUnnamedFiles(const QString &f) override
    {
        return m_files.writesUnnamedFiles(real(f));
    }
    int nameMax(const QString &f) override { return m_files.nameMax(real(f)); }
    OpResult listFiles(const QString &f, QStringList &n) override
    {
        return m_files.listFiles(real(f), n);
    }
    OpResult listNamesStartingWith(const QString &f, const QString &p, QStringList &n) override
    {
        return m_files.listNamesStartingWith(real(f), p, n);
    }
    OpResult listEntries(const QString &f, QHash<QString, FileStatus> &e) override
    {
        const OpResult listed = m_files.listEntries(real(f), e);
        for (auto it = e.begin(); it != e.end(); ++it)
            *it = seen(f + QLatin1Char('/') + it.key(), *it);
        return listed;
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
    OpResult claimJournal(const QString &p, QByteArray &b) override
    {
        return m_files.claimJournal(p, b);
    }

protected:
    virtual QString real(const QString &path) const { return path; }
    virtual FileStatus seen(const QString &, const FileStatus &status) const { return status; }
    WriteOptions realOptions(WriteOptions options) const
    {
        options.temporary = real(options.temporary);
        return options;
    }
    PosixFileOperations m_files;
};
