#pragma once

#include "forwardingfiles.h"
#include "messageboxes.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>
#include <utility>

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
        // Once, while the question is open: what happens elsewhere before the user answers.
        if (const auto meanwhile = std::exchange(whileAsking, {}))
            meanwhile(text);
        return !yesNoAnswers.isEmpty() && yesNoAnswers.takeFirst();
    }

    QStringList informed;
    QStringList prompts;
    QStringList questions;
    QList<bool> yesNoAnswers; ///< true = Yes; No when the script runs out
    QList<bool> answers;      ///< true = Retry
    std::function<void(const QString &)> onMessage;
    std::function<void(const QString &, bool)> onPrompt;
    std::function<void(const QString &)> whileAsking;
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

    KAENAMI_PATH_FORMS(ForwardingFileOperations);

    Rule failWhen;
    QString reason = QStringLiteral("No space left on device");
    QList<QPair<Op, QString>> calls;
    /// Called before every operation that changes files (a folder renamed meanwhile, say).
    std::function<void(Op, const QString &path)> beforeChange;

    OpResult copyFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r = nullptr) override
    {
        return guarded(Op::Copy, df.pathOf(d),
                       [&] { return ForwardingFileOperations::copyFile(sf, s, df, d, o, r); });
    }
    OpResult moveFile(const OpenFolder &sf, const QString &s, const OpenFolder &df,
                      const QString &d, const WriteOptions &o, WriteReport *r = nullptr) override
    {
        return guarded(Op::Move, df.pathOf(d),
                       [&] { return ForwardingFileOperations::moveFile(sf, s, df, d, o, r); });
    }
    OpResult removeFile(const OpenFolder &f, const QString &n) override
    {
        return guarded(Op::Remove, f.pathOf(n),
                       [&] { return ForwardingFileOperations::removeFile(f, n); });
    }
    OpResult setAside(const OpenFolder &sf, const QString &s, const OpenFolder &kf,
                      const QString &k) override
    {
        return guarded(Op::SetAside, sf.pathOf(s),
                       [&] { return ForwardingFileOperations::setAside(sf, s, kf, k); });
    }
    OpResult renameNoReplace(const OpenFolder &ff, const QString &f, const OpenFolder &tf,
                             const QString &t) override
    {
        return guarded(Op::Rename, tf.pathOf(t),
                       [&] { return ForwardingFileOperations::renameNoReplace(ff, f, tf, t); });
    }
    OpResult restoreFromTrash(const QString &trashed, const OpenFolder &f, const QString &n,
                              const RestoreOptions &o = {}) override
    {
        return guarded(Op::Rename, f.pathOf(n), [&] {
            return ForwardingFileOperations::restoreFromTrash(trashed, f, n, o);
        });
    }
    OpResult makeSymbolicLink(const QString &t, const OpenFolder &f, const QString &n) override
    {
        return guarded(Op::Link, f.pathOf(n),
                       [&] { return ForwardingFileOperations::makeSymbolicLink(t, f, n); });
    }
    OpResult makeHardLink(const OpenFolder &ef, const QString &e, const OpenFolder &f,
                          const QString &n) override
    {
        return guarded(Op::Link, f.pathOf(n),
                       [&] { return ForwardingFileOperations::makeHardLink(ef, e, f, n); });
    }
    OpResult listFiles(const QString &f, QStringList &n) override
    {
        return guarded(Op::List, f, [&] { return ForwardingFileOperations::listFiles(f, n); });
    }
    OpResult listNamesStartingWith(const OpenFolder &f, const QString &p, QStringList &n) override
    {
        return guarded(Op::List, f.path(),
                       [&] { return ForwardingFileOperations::listNamesStartingWith(f, p, n); });
    }
    OpResult listFolder(const OpenFolder &f, FolderListing &l) override
    {
        return guarded(Op::List, f.path(),
                       [&] { return ForwardingFileOperations::listFolder(f, l); });
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
    OpResult readLockedFile(const QString &p, qint64 maxBytes, QByteArray &b) override
    {
        return guarded(Op::Read, p,
                       [&] { return ForwardingFileOperations::readLockedFile(p, maxBytes, b); });
    }
    OpResult replaceLockedFile(const QString &p, const QByteArray &b, const QString &t) override
    {
        return guarded(Op::Write, p,
                       [&] { return ForwardingFileOperations::replaceLockedFile(p, b, t); });
    }

private:
    template <typename F> OpResult guarded(Op op, const QString &path, F &&real)
    {
        calls.append({op, path});
        if (beforeChange && op != Op::List && op != Op::Read)
            beforeChange(op, path);
        if (failWhen && failWhen(op, path))
            return OpResult::failure(reason);
        return real();
    }
};
