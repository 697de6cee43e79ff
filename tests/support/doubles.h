#pragma once

#include "messageboxes.h"
#include "posixfileoperations.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

/// Records every message and plays scripted answers to Retry/Cancel prompts (Cancel when the
/// script runs out).
class RecordingMessageBoxes final : public MessageBoxes
{
public:
    void inform(const QString &text) override
    {
        informed.append(text);
        if (onMessage)
            onMessage(text);
    }
    bool retryOrCancel(const QString &text) override
    {
        prompts.append(text);
        const bool retry = !answers.isEmpty() && answers.takeFirst();
        if (onPrompt)
            onPrompt(text, retry);
        return retry;
    }

    bool askYesNo(const QString &text) override
    {
        questions.append(text);
        return !yesNoAnswers.isEmpty() && yesNoAnswers.takeFirst();
    }

    QStringList informed;
    QStringList prompts;
    QStringList questions;
    QList<bool> yesNoAnswers; ///< true = Yes; No when the script runs out
    QList<bool> answers;      ///< true = Retry
    std::function<void(const QString &)> onMessage;
    std::function<void(const QString &, bool)> onPrompt;
};

/// Real file operations with faults on demand: an operation fails when the rule says so,
/// before it touches anything, with the given reason.
class FaultyFileOperations final : public FileOperations
{
public:
    enum class Op
    {
        Copy,
        Move,
        Remove,
        SetAside,
        Rename,
        Link,
        List,
        Read,
        Write,
        Journal
    };
    using Rule = std::function<bool(Op, const QString &path)>;

    FaultyFileOperations() = default;
    explicit FaultyFileOperations(PosixFileOperations::Options options) : m_real(options) {}

    Rule failWhen;
    QString reason = QStringLiteral("No space left on device");
    QList<QPair<Op, QString>> calls;

    void setBusyHandler(std::function<void()> handler) override
    {
        m_real.setBusyHandler(std::move(handler));
    }
    OpResult copyFile(const QString &s, const QString &d, const WriteOptions &o,
                      WriteReport *r = nullptr) override
    {
        return guarded(Op::Copy, d, [&] { return m_real.copyFile(s, d, o, r); });
    }
    OpResult moveFile(const QString &s, const QString &d, const WriteOptions &o,
                      WriteReport *r = nullptr) override
    {
        return guarded(Op::Move, d, [&] { return m_real.moveFile(s, d, o, r); });
    }
    OpResult removeFile(const QString &p) override
    {
        return guarded(Op::Remove, p, [&] { return m_real.removeFile(p); });
    }
    OpResult setAside(const QString &s, const QString &kept) override
    {
        return guarded(Op::SetAside, s, [&] { return m_real.setAside(s, kept); });
    }
    OpResult renameNoReplace(const QString &from, const QString &to) override
    {
        return guarded(Op::Rename, to, [&] { return m_real.renameNoReplace(from, to); });
    }
    OpResult restoreFromTrash(const QString &trashed, const QString &to) override
    {
        return guarded(Op::Rename, to, [&] { return m_real.restoreFromTrash(trashed, to); });
    }
    OpResult makeSymbolicLink(const QString &target, const QString &p) override
    {
        return guarded(Op::Link, p, [&] { return m_real.makeSymbolicLink(target, p); });
    }
    OpResult makeHardLink(const QString &existing, const QString &p) override
    {
        return guarded(Op::Link, p, [&] { return m_real.makeHardLink(existing, p); });
    }
    FileStatus status(const QString &p, bool follow) override { return m_real.status(p, follow); }
    QString linkText(const QString &p) override { return m_real.linkText(p); }
    bool isOrdinaryFile(const QString &p) override { return m_real.isOrdinaryFile(p); }
    bool isSameFile(const QString &a, const QString &b) override { return m_real.isSameFile(a, b); }
    bool sameContent(const QString &a, const QString &b) override
    {
        return m_real.sameContent(a, b);
    }
    int nameMax(const QString &folder) override { return m_real.nameMax(folder); }
    bool writesUnnamedFiles(const QString &folder) override
    {
        return m_real.writesUnnamedFiles(folder);
    }
    OpResult listFiles(const QString &f, QStringList &names) override
    {
        return guarded(Op::List, f, [&] { return m_real.listFiles(f, names); });
    }
    OpResult listNamesStartingWith(const QString &f, const QString &prefix,
                                   QStringList &names) override
    {
        return guarded(Op::List, f, [&] { return m_real.listNamesStartingWith(f, prefix, names); });
    }
    OpResult listEntries(const QString &f, QHash<QString, FileStatus> &entries) override
    {
        return guarded(Op::List, f, [&] { return m_real.listEntries(f, entries); });
    }
    OpResult readFile(const QString &p, QByteArray &bytes) override
    {
        return guarded(Op::Read, p, [&] { return m_real.readFile(p, bytes); });
    }
    OpResult writeFileAtomically(const QString &p, const QByteArray &bytes,
                                 bool onlyForTheUser = false) override
    {
        return guarded(Op::Write, p,
                       [&] { return m_real.writeFileAtomically(p, bytes, onlyForTheUser); });
    }
    OpResult writeJournal(const QString &p, const QByteArray &bytes) override
    {
        return guarded(Op::Journal, p, [&] { return m_real.writeJournal(p, bytes); });
    }
    OpResult finishJournal(const QString &p) override { return m_real.finishJournal(p); }
    void releaseJournal(const QString &p) override { m_real.releaseJournal(p); }
    OpResult claimJournal(const QString &p, QByteArray &bytes) override
    {
        return m_real.claimJournal(p, bytes);
    }

private:
    template <typename F> OpResult guarded(Op op, const QString &path, F &&real)
    {
        calls.append({op, path});
        if (failWhen && failWhen(op, path))
            return OpResult::failure(reason);
        return real();
    }
    PosixFileOperations m_real;
};
