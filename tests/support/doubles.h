#pragma once

#include "forwardingfiles.h"
#include "messageboxes.h"

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
class FaultyFileOperations final : public ForwardingFileOperations
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
    explicit FaultyFileOperations(PosixFileOperations::Options options)
        : ForwardingFileOperations(options)
    {}

    Rule failWhen;
    QString reason = QStringLiteral("No space left on device");
    QList<QPair<Op, QString>> calls;

    OpResult copyFile(const QString &s, const QString &d, const WriteOptions &o,
                      WriteReport *r = nullptr) override
    {
        return guarded(Op::Copy, d, [&] { return ForwardingFileOperations::copyFile(s, d, o, r); });
    }
    OpResult moveFile(const QString &s, const QString &d, const WriteOptions &o,
                      WriteReport *r = nullptr) override
    {
        return guarded(Op::Move, d, [&] { return ForwardingFileOperations::moveFile(s, d, o, r); });
    }
    OpResult removeFile(const QString &p) override
    {
        return guarded(Op::Remove, p, [&] { return ForwardingFileOperations::removeFile(p); });
    }
    OpResult setAside(const QString &s, const QString &k) override
    {
        return guarded(Op::SetAside, s, [&] { return ForwardingFileOperations::setAside(s, k); });
    }
    OpResult renameNoReplace(const QString &f, const QString &t) override
    {
        return guarded(Op::Rename, t,
                       [&] { return ForwardingFileOperations::renameNoReplace(f, t); });
    }
    OpResult restoreFromTrash(const QString &f, const QString &t) override
    {
        return guarded(Op::Rename, t,
                       [&] { return ForwardingFileOperations::restoreFromTrash(f, t); });
    }
    OpResult makeSymbolicLink(const QString &t, const QString &p) override
    {
        return guarded(Op::Link, p,
                       [&] { return ForwardingFileOperations::makeSymbolicLink(t, p); });
    }
    OpResult makeHardLink(const QString &e, const QString &p) override
    {
        return guarded(Op::Link, p, [&] { return ForwardingFileOperations::makeHardLink(e, p); });
    }
    OpResult listFiles(const QString &f, QStringList &n) override
    {
        return guarded(Op::List, f, [&] { return ForwardingFileOperations::listFiles(f, n); });
    }
    OpResult listNamesStartingWith(const QString &f, const QString &p, QStringList &n) override
    {
        return guarded(Op::List, f,
                       [&] { return ForwardingFileOperations::listNamesStartingWith(f, p, n); });
    }
    OpResult listEntries(const QString &f, QHash<QString, FileStatus> &e) override
    {
        return guarded(Op::List, f, [&] { return ForwardingFileOperations::listEntries(f, e); });
    }
    OpResult readFile(const QString &p, QByteArray &b) override
    {
        return guarded(Op::Read, p, [&] { return ForwardingFileOperations::readFile(p, b); });
    }
    OpResult readFileStart(const QString &p, qint64 n, QByteArray &b) override
    {
        return guarded(Op::Read, p,
                       [&] { return ForwardingFileOperations::readFileStart(p, n, b); });
    }
    OpResult writeFileAtomically(const QString &p, const QByteArray &b, bool own = false) override
    {
        return guarded(Op::Write, p,
                       [&] { return ForwardingFileOperations::writeFileAtomically(p, b, own); });
    }
    OpResult writeJournal(const QString &p, const QByteArray &b) override
    {
        return guarded(Op::Journal, p,
                       [&] { return ForwardingFileOperations::writeJournal(p, b); });
    }

private:
    template <typename F> OpResult guarded(Op op, const QString &path, F &&real)
    {
        calls.append({op, path});
        if (failWhen && failWhen(op, path))
            return OpResult::failure(reason);
        return real();
    }
};
