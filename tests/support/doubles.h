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

    QStringList informed;
    QStringList prompts;
    QList<bool> answers; ///< true = Retry
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
        List,
        Read,
        Write
    };
    using Rule = std::function<bool(Op, const QString &path)>;

    Rule failWhen;
    QString reason = QStringLiteral("No space left on device");
    QList<QPair<Op, QString>> calls;

    OpResult copyFile(const QString &s, const QString &d) override
    {
        return guarded(Op::Copy, d, [&] { return m_real.copyFile(s, d); });
    }
    OpResult moveFile(const QString &s, const QString &d) override
    {
        return guarded(Op::Move, d, [&] { return m_real.moveFile(s, d); });
    }
    OpResult removeFile(const QString &p) override
    {
        return guarded(Op::Remove, p, [&] { return m_real.removeFile(p); });
    }
    OpResult setAside(const QString &s, QString &kept) override
    {
        return guarded(Op::SetAside, s, [&] { return m_real.setAside(s, kept); });
    }
    bool isOrdinaryFile(const QString &p) override { return m_real.isOrdinaryFile(p); }
    bool isSameFile(const QString &a, const QString &b) override { return m_real.isSameFile(a, b); }
    OpResult listFiles(const QString &f, QStringList &names) override
    {
        return guarded(Op::List, f, [&] { return m_real.listFiles(f, names); });
    }
    OpResult readFile(const QString &p, QByteArray &bytes) override
    {
        return guarded(Op::Read, p, [&] { return m_real.readFile(p, bytes); });
    }
    OpResult writeFileAtomically(const QString &p, const QByteArray &bytes) override
    {
        return guarded(Op::Write, p, [&] { return m_real.writeFileAtomically(p, bytes); });
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
