#include "renamejob.h"

#include "naming.h"
#include "numericvalue.h"
#include "paths.h"

#include <QHash>

#include <limits>
#include <map>

BatchPlan planBatch(const RenameRequest &request)
{
    BatchPlan plan;
    const double digitCount = numericValue(request.digitCountText);
    plan.digitCheckPassed = !(double(request.startNumberText.size()) > digitCount);
    if (!plan.digitCheckPassed)
        return plan;

    const int digits = roundToInt16(digitCount).value_or(0);
    const std::optional<qint32> start = roundToInt32(numericValue(request.startNumberText));
    if (!start) {
        plan.stop = BatchPlan::Stop::StartOutOfRange;
        return plan;
    }
    qint32 number = *start;
    for (int j = 0; j < int(request.entries.size()); ++j) {
        if (!request.entries[size_t(j)].selected)
            continue;
        plan.items.push_back(
            {j, Naming::newName(request.baseName, number, digits, request.extension)});
        if (number == std::numeric_limits<qint32>::max()) {
            plan.stop = BatchPlan::Stop::NumberOverflow;
            break;
        }
        ++number;
    }
    return plan;
}

/// The state of one running batch.
class RenameJob::Batch
{
public:
    Batch(FileOperations &files, MessageBoxes &messages, const RenameRequest &request,
          JobResult &result)
        : m_files(files), m_messages(messages), m_request(request), m_result(result),
          m_sameFolder(files.isSameFile(request.sourceFolder, request.targetFolder))
    {}

    QString sourcePath(int entry) const
    {
        return Paths::join(m_request.sourceFolder, m_request.entries[size_t(entry)].name);
    }

    /// Within one folder a new name can be the name of a selected entry further down; such
    /// entries are kept aside first, so every copy reads the content the batch started with.
    /// Names are compared without letter case, since the folder may be on a file system that
    /// ignores it; a needless set-aside costs only a link.
    bool setAsideOverwrittenSources(const std::vector<BatchPlan::Item> &items, size_t limit)
    {
        if (!m_sameFolder)
            return true;
        QHash<QString, size_t> firstWriter;
        for (size_t p = 0; p < limit; ++p)
            firstWriter.insert(items[p].newName.toCaseFolded(), p);
        for (size_t q = 0; q < limit; ++q) {
            const int entry = items[q].entryIndex;
            const auto writer =
                firstWriter.constFind(m_request.entries[size_t(entry)].name.toCaseFolded());
            if (writer == firstWriter.constEnd() || *writer >= q)
                continue;
            QString kept;
            const QString source = sourcePath(entry);
            if (!check(m_files.setAside(source, kept), source))
                return false;
            m_kept.emplace(entry, kept);
            note(JobAction::Kind::SetAside, source, kept);
        }
        return true;
    }

    /// Carries out one item; false when the batch ends here.
    bool process(const BatchPlan::Item &item)
    {
        const int entry = item.entryIndex;
        const QString &name = m_request.entries[size_t(entry)].name;
        const QString source = sourcePath(entry);
        const QString target = Paths::join(m_request.targetFolder, item.newName);

        if (item.newName == name && m_files.isOrdinaryFile(target)) {
            if (!m_request.overwrite) {
                m_result.outcome = JobResult::Outcome::SameNameStop;
                m_messages.inform(sameNameMessage());
                return false;
            }
            if (m_sameFolder) {
                // Source and target are one file: it already is what the batch asks for.
                note(JobAction::Kind::Kept, source, target);
            } else {
                if (!check(m_files.copyFile(source, target), both(source, target)))
                    return false;
                note(JobAction::Kind::Replaced, source, target);
                if (m_request.move && !remove(source))
                    return false;
            }
            ++m_result.filesDone;
            return true;
        }

        if (const auto kept = m_kept.find(entry); kept != m_kept.end()) {
            if (!carryOutKept(source, kept->second, target))
                return false;
            m_kept.erase(kept);
        } else if (m_sameFolder && m_files.isSameFile(source, target)) {
            // One file under two spellings of its name: never copy it onto itself.
            if (m_request.move) {
                if (!check(m_files.moveFile(source, target), both(source, target)))
                    return false;
                note(JobAction::Kind::Moved, source, target);
            } else {
                note(JobAction::Kind::Kept, source, target);
            }
        } else if (m_request.move) {
            if (!check(m_files.moveFile(source, target), both(source, target)))
                return false;
            note(JobAction::Kind::Moved, source, target);
        } else {
            if (!check(m_files.copyFile(source, target), both(source, target)))
                return false;
            note(JobAction::Kind::Copied, source, target);
        }
        ++m_result.filesDone;
        return true;
    }

    /// Removes the kept copies whose originals are still in place; the others stay and are
    /// named in the message, since they hold the only copy of a content.
    void releaseKept()
    {
        for (const auto &[entry, kept] : m_kept) {
            if (m_files.isSameFile(kept, sourcePath(entry)) && m_files.removeFile(kept))
                continue;
            m_result.keptFiles.append(kept);
        }
        m_kept.clear();
    }

    bool check(const OpResult &result, const QString &path)
    {
        if (result)
            return true;
        m_result.outcome = JobResult::Outcome::Interrupted;
        m_result.failure = result;
        if (m_result.failure.path.isEmpty())
            m_result.failure.path = path;
        return false;
    }

private:
    bool carryOutKept(const QString &source, const QString &kept, const QString &target)
    {
        const bool originalIntact = m_files.isSameFile(kept, source);
        if (m_request.move) {
            // The original name may already hold another entry's new copy: never delete that.
            const QString from = originalIntact ? source : kept;
            if (!check(m_files.moveFile(from, target), both(from, target)))
                return false;
            note(JobAction::Kind::Moved, from, target);
            return !originalIntact || remove(kept);
        }
        if (!check(m_files.copyFile(kept, target), both(kept, target)))
            return false;
        note(JobAction::Kind::Copied, kept, target);
        return remove(kept);
    }

    static QString both(const QString &from, const QString &to)
    {
        return from + QStringLiteral(" → ") + to;
    }

    bool remove(const QString &path)
    {
        if (!check(m_files.removeFile(path), path))
            return false;
        note(JobAction::Kind::Removed, path, {});
        return true;
    }

    void note(JobAction::Kind kind, const QString &from, const QString &to)
    {
        m_result.record.push_back({kind, from, to});
    }

    FileOperations &m_files;
    MessageBoxes &m_messages;
    const RenameRequest &m_request;
    JobResult &m_result;
    const bool m_sameFolder;
    std::map<int, QString> m_kept;
};

RenameJob::RenameJob(FileOperations &files, ProgressDisplay &progress, MessageBoxes &messages,
                     JobHost &host)
    : m_files(files), m_progress(progress), m_messages(messages), m_host(host)
{}

JobResult RenameJob::run(const RenameRequest &request)
{
    JobResult result;
    const BatchPlan plan = planBatch(request);
    if (!plan.digitCheckPassed) {
        result.outcome = JobResult::Outcome::DigitCheckFailed;
        m_messages.inform(digitCheckMessage());
        return result;
    }

    const int count = int(request.entries.size());
    m_progress.setRange(0, std::max(count - 1, 0));
    m_progress.setVisible(true);
    m_progress.setValue(0);

    Batch batch(m_files, m_messages, request, result);
    const auto interrupt = [&] {
        batch.releaseKept();
        if (result.outcome == JobResult::Outcome::Interrupted)
            m_messages.inform(interruptedMessage(result));
        return result;
    };

    if (plan.stop == BatchPlan::Stop::StartOutOfRange) {
        batch.check(OpResult::failure(QStringLiteral("開始番号 %1 は扱える範囲を超えています。")
                                          .arg(request.startNumberText)),
                    {});
        return interrupt();
    }

    // Entries from a foreseeable same-name stop onward are never reached.
    size_t reached = plan.items.size();
    if (!request.overwrite) {
        for (size_t p = 0; p < plan.items.size(); ++p) {
            if (plan.items[p].newName == request.entries[size_t(plan.items[p].entryIndex)].name) {
                reached = p;
                break;
            }
        }
    }
    if (!batch.setAsideOverwrittenSources(plan.items, reached))
        return interrupt();

    size_t next = 0;
    for (int j = 0; j < count; ++j) {
        if (next < plan.items.size() && plan.items[next].entryIndex == j) {
            if (!batch.process(plan.items[next]))
                return interrupt();
            ++next;
            if (next == plan.items.size() && plan.stop == BatchPlan::Stop::NumberOverflow) {
                batch.check(OpResult::failure(
                                QStringLiteral("連番が 2147483647 を超えるため続けられません。")),
                            Paths::join(request.targetFolder, plan.items.back().newName));
                return interrupt();
            }
        }
        m_progress.setValue(j);
    }
    batch.releaseKept();

    m_progress.setVisible(false);
    m_progress.setValue(0);
    m_host.refreshLists();
    if (!batch.check(m_host.saveData(), {}))
        return interrupt();
    m_host.focusBaseName();
    m_messages.inform(completedMessage());
    return result;
}

QString RenameJob::digitCheckMessage()
{
    return QStringLiteral("数値が桁数を越えています。");
}

QString RenameJob::sameNameMessage()
{
    return QStringLiteral("コピー先に同じファイル名があります。\r\n"
                          "上書きするのであればチェックボックスをオンにしてください。");
}

QString RenameJob::completedMessage()
{
    return QStringLiteral("リネームが完了しました。");
}

QString RenameJob::interruptedMessage(const JobResult &result)
{
    QString text = QStringLiteral("リネームを中断しました。");
    if (!result.failure.path.isEmpty())
        text += QStringLiteral("\r\n失敗したファイル: ") + result.failure.path;
    text += QStringLiteral("\r\n理由: ") + result.failure.error;
    text += QStringLiteral("\r\n中断までに処理したファイル: %1 件").arg(result.filesDone);
    for (const QString &kept : result.keptFiles)
        text += QStringLiteral("\r\n元の内容を残したファイル: ") + kept;
    return text;
}
