#include "batchjournal.h"

#include "filenames.h"
#include "folderlisting.h"
#include "paths.h"
#include "undo.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>

namespace {

constexpr char headerVersion1[] = "kaenami batch journal 1";
constexpr char header[] = "kaenami batch journal 2";
constexpr char keptSuffix[] = ".keep";
constexpr char partSuffix[] = ".part";

QByteArray field(const QString &path)
{
    return FileNames::encode(path).toPercentEncoding("/");
}

QString unfield(const QByteArray &text)
{
    return FileNames::decode(QByteArray::fromPercentEncoding(text));
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

/// An absolute path without "." or ".." parts.
bool plainPath(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral("..")) && !parts.contains(QStringLiteral("."));
}

/// The check of a journal's lines: enough of a strong hash to tell any damage.
QByteArray sumOf(QByteArrayView lines)
{
    return QCryptographicHash::hash(lines, QCryptographicHash::Sha256).toHex().left(32);
}

bool plainId(const QString &id)
{
    return !id.isEmpty() && id.size() <= 32 && std::all_of(id.cbegin(), id.cend(), [](QChar c) {
        return c.unicode() < 128 && c.isLetterOrNumber();
    });
}

/// `name` shortened from its end until it takes at most `bytes` bytes, never inside a pair.
QString cutToBytes(QString name, qsizetype bytes)
{
    while (!name.isEmpty() && FileNames::encodedSize(name) > bytes) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    return name;
}

/// "photo007 (復元).jpg", "photo007 (復元 2).jpg", ... for the content of "photo007.jpg".
QString besideName(const QString &original, int attempt, int nameMax)
{
    QString stem = fileNameOf(original);
    QString extension;
    if (const qsizetype point = stem.lastIndexOf(QLatin1Char('.')); point > 0) {
        extension = stem.mid(point);
        stem.truncate(point);
    }
    const QString mark =
        attempt == 1 ? QStringLiteral(" (復元)") : QStringLiteral(" (復元 %1)").arg(attempt);
    const qsizetype room = nameMax - FileNames::encodedSize(mark + extension);
    return cutToBytes(stem, room) + mark + extension;
}

BatchJournal::Identity identityOf(const QByteArray &device, const QByteArray &inode, bool &ok)
{
    bool deviceOk = false, inodeOk = false;
    BatchJournal::Identity identity{device.toULongLong(&deviceOk), inode.toULongLong(&inodeOk)};
    ok = ok && deviceOk && inodeOk;
    return identity;
}

/// Reads a folder line ("source <path> <device> <inode>", or a bare path in the first format).
bool readFolder(const QList<QByteArray> &words, bool version1, QString &path,
                BatchJournal::Identity &identity)
{
    if (version1) {
        if (words.size() != 2)
            return false;
        path = unfield(words[1]);
        return true;
    }
    if (words.size() != 4)
        return false;
    bool ok = true;
    path = unfield(words[1]);
    identity = identityOf(words[2], words[3], ok);
    return ok;
}

/// The files visible in the batch's folders, by identity; looked up once, when needed.
class VisibleFiles
{
public:
    VisibleFiles(FileOperations &files, const QList<const OpenFolder *> &folders,
                 const OpenFolder &target, const QStringList &also)
        : m_files(files), m_folders(folders), m_target(target), m_also(also)
    {}

    bool contains(const FileStatus &file)
    {
        if (!m_read) {
            m_read = true;
            for (const OpenFolder *folder : m_folders) {
                FolderListing listing;
                m_files.listFolder(*folder, listing);
                for (qsizetype i = 0; i < listing.size(); ++i) {
                    const FileStatus entry = listing.statusAt(i);
                    if (entry.type == FileStatus::Type::Regular &&
                        !listing.nameAt(i).startsWith(QLatin1Char('.')))
                        m_identities.insert({entry.device, entry.inode});
                }
            }
            for (const QString &name : m_also) {
                const FileStatus status = m_files.status(m_target, name, false);
                if (status.type == FileStatus::Type::Regular)
                    m_identities.insert({status.device, status.inode});
            }
        }
        return m_identities.contains({file.device, file.inode});
    }

private:
    FileOperations &m_files;
    const QList<const OpenFolder *> m_folders;
    const OpenFolder &m_target;
    const QStringList &m_also;
    bool m_read = false;
    QSet<QPair<quint64, quint64>> m_identities;
};

/// Where a path of the journal lies: in the source folder, in the target folder, or in neither
/// of the folders as they could be opened.
struct Place
{
    const OpenFolder *folder = nullptr;
    QString name;
};

/// Puts the kept content `kept` (in the target folder) under the first free visible name of
/// `places`, then beside the name `besideOf` in the target folder. The path it now has, or
/// empty with `failure` set.
QString bringBack(FileOperations &files, const OpenFolder &target, const QString &kept,
                  const QList<Place> &places, const QString &besideOf, OpResult &failure)
{
    for (const Place &place : places) {
        if (!place.folder)
            continue;
        failure = files.renameNoReplace(target, kept, *place.folder, place.name);
        if (failure)
            return place.folder->pathOf(place.name);
    }
    const int nameMax = files.nameMax(target);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const QString name = besideName(besideOf, attempt, nameMax);
        failure = files.renameNoReplace(target, kept, target, name);
        if (failure)
            return target.pathOf(name);
    }
    return {};
}

/// Names for a copy back from the trash to another drive, under the journal's hidden prefix.
class JournalTemporaries final : public TemporaryNames
{
public:
    explicit JournalTemporaries(const BatchJournal &journal) : m_journal(journal) {}
    QString next() override
    {
        return m_journal.hiddenPrefix() + QStringLiteral("back-r%1.part").arg(++m_serial);
    }

private:
    const BatchJournal &m_journal;
    int m_serial = 0;
};

/// Still exactly the file that was kept in the trash: same identity, size and time.
bool sameTrashedFile(const FileStatus &now, const FileStatus &kept)
{
    return now.sameFileAs(kept) && now.size == kept.size && now.modifiedNs == kept.modifiedNs;
}

QString folderMovedProblem(const QString &folder, const QString &prefix)
{
    return FileNames::display(folder) +
           QStringLiteral(": フォルダーが移動されたか、別のフォルダーに置き換えられているため、"
                          "何も変更していません。移動したフォルダーの隠しファイル「%1…」に"
                          "元の内容が残っています。")
               .arg(FileNames::display(prefix));
}

/// Opens a folder of the journal; false (with the problem noted) when it cannot be opened or is
/// not the folder that was recorded.
bool openRecorded(FileOperations &files, const QString &path,
                  const BatchJournal::Identity &identity, const QString &prefix, OpenFolder &folder,
                  RecoveryReport &report, bool noteProblem)
{
    if (const OpResult opened = files.openFolder(path, folder); !opened) {
        // A folder that cannot be seen now (a drive not plugged in) is not a folder without
        // leftovers: nothing is decided, and the journal stays for a later try.
        if (noteProblem) {
            QString problem = FileNames::display(path) + QStringLiteral(": ") + opened.error;
            if (opened.systemError == ENOENT || opened.systemError == ENOTDIR)
                problem += QStringLiteral("（フォルダーが移動されたか、ドライブが外されています。"
                                          "そのフォルダーの隠しファイル「%1…」に元の内容が"
                                          "残っています）")
                               .arg(FileNames::display(prefix));
            report.problems.append(problem);
        }
        folder = {};
        return false;
    }
    if (!identity.matches(folder)) {
        if (noteProblem)
            report.problems.append(folderMovedProblem(path, prefix));
        folder = {};
        return false;
    }
    return true;
}

/// Removes the batch's temporaries (".part") in `folder`.
void removeTemporaries(FileOperations &files, const OpenFolder &folder, const QString &prefix,
                       RecoveryReport &report)
{
    QStringList leftovers;
    if (const OpResult listed = files.listNamesStartingWith(folder, prefix, leftovers); !listed) {
        report.problems.append(FileNames::display(folder.path()) + QStringLiteral(": ") +
                               listed.error);
        return;
    }
    for (const QString &name : std::as_const(leftovers)) {
        if (!name.endsWith(QLatin1String(partSuffix)))
            continue;
        if (files.status(folder, name, false).type != FileStatus::Type::Regular)
            continue;
        if (const OpResult removed = files.removeFile(folder, name); removed)
            ++report.leftoversRemoved;
        else
            report.problems.append(FileNames::display(folder.pathOf(name)) + QStringLiteral(": ") +
                                   removed.error);
    }
}

/// Removes the trash information in `trash` whose file is not in `trashFiles` and that names an
/// entry of the batch's target folder: what a batch or an undo cut short left between writing
/// the information and linking the file (or between taking the file and its information).
void removeLoneInformation(FileOperations &files, const QString &trash,
                           const OpenFolder &trashFiles, const QString &targetFolder)
{
    OpenFolder info;
    QStringList names;
    if (!files.openFolder(Paths::join(trash, QStringLiteral("info")), info) ||
        !files.listNamesStartingWith(info, {}, names))
        return;
    const QString suffix = QStringLiteral(".trashinfo");
    const QByteArray target = FileNames::encode(targetFolder);
    for (const QString &name : std::as_const(names)) {
        if (!name.endsWith(suffix) ||
            files.status(trashFiles, name.chopped(suffix.size()), false).exists())
            continue;
        QByteArray text;
        if (!files.readFileStart(info.pathOf(name), 64 * 1024, text))
            continue;
        // Information cut short while it was written names nothing whole.
        const bool whole = text.startsWith("[Trash Info]\n") && text.endsWith('\n') &&
                           text.contains("\nDeletionDate=");
        if (!whole) {
            files.removeFile(info, name);
            continue;
        }
        // Path is absolute in the home trash, relative to the drive's top in a drive's own.
        const qsizetype at = text.indexOf("\nPath=");
        if (at < 0)
            continue;
        const qsizetype end = text.indexOf('\n', at + 1);
        const QByteArray recorded =
            QByteArray::fromPercentEncoding(text.mid(at + 6, end < 0 ? -1 : end - at - 6));
        const QByteArray folder = recorded.left(qMax<qsizetype>(recorded.lastIndexOf('/'), 0));
        const bool ours = recorded.startsWith('/') ? folder == target
                                                   : target.endsWith('/' + folder) ||
                                                         (folder.isEmpty() && !target.isEmpty());
        if (ours)
            files.removeFile(info, name);
    }
}

/// Brings back the kept files of the batch whose hidden names start with `prefix` that
/// `known` does not name (all of them for a journal that cannot be read), by what their own
/// names tell: under the name each was kept for when that is free, else beside it. A kept file
/// whose content is still in sight just goes.
void bringBackByNames(FileOperations &files, const OpenFolder &target, const QString &prefix,
                      const QSet<QString> &known, RecoveryReport &report)
{
    QStringList hidden;
    if (const OpResult listed = files.listNamesStartingWith(target, prefix, hidden); !listed) {
        report.problems.append(FileNames::display(target.path()) + QStringLiteral(": ") +
                               listed.error);
        return;
    }
    hidden.sort();
    const QStringList none;
    VisibleFiles visible(files, {&target}, target, none);
    for (const QString &name : std::as_const(hidden)) {
        if (!name.endsWith(QLatin1String(keptSuffix)) || known.contains(name))
            continue;
        const FileStatus kept = files.status(target, name, false);
        if (kept.type != FileStatus::Type::Regular)
            continue;
        const QString keptFor = BatchJournal::keptForOf(name, prefix);
        const bool inSight =
            (kept.links > 1 && visible.contains(kept)) ||
            (!keptFor.isEmpty() && files.sameContent(target, keptFor, target, name));
        if (inSight) {
            if (files.removeFile(target, name))
                ++report.leftoversRemoved;
            continue;
        }
        const QString shown = keptFor.isEmpty()
                                  ? name.mid(1, name.size() - 1 - qsizetype(sizeof keptSuffix - 1))
                                  : keptFor;
        OpResult moved;
        QList<Place> places;
        if (!keptFor.isEmpty())
            places.append(Place{&target, keptFor});
        const QString now = bringBack(files, target, name, places, shown, moved);
        if (now.isEmpty())
            report.problems.append(FileNames::display(target.pathOf(name)) + QStringLiteral(": ") +
                                   moved.error);
        else
            report.restored.push_back({target.pathOf(shown), now});
    }
}

} // namespace

BatchJournal BatchJournal::begin(const QString &sourceFolder, const QString &targetFolder)
{
    BatchJournal journal;
    journal.id = QString::number(QRandomGenerator::global()->generate64(), 36);
    journal.sourceFolder = sourceFolder;
    journal.targetFolder = targetFolder;
    return journal;
}

BatchJournal BatchJournal::begin(const OpenFolder &source, const OpenFolder &target)
{
    BatchJournal journal = begin(source.path(), target.path());
    journal.sourceIdentity = {source.device(), source.inode()};
    journal.targetIdentity = {target.device(), target.inode()};
    return journal;
}

QString BatchJournal::hiddenPrefix() const
{
    return QStringLiteral(".kaenami-") + id + QLatin1Char('-');
}

QString BatchJournal::temporaryName(int serial) const
{
    // Asked for often: built in one go.
    if (m_temporaryStem.isEmpty())
        m_temporaryStem = hiddenPrefix();
    QString name;
    name.reserve(m_temporaryStem.size() + 16);
    name.append(m_temporaryStem);
    name.append(QString::number(serial));
    name.append(QLatin1String(partSuffix));
    return name;
}

QString BatchJournal::keptName(int serial, const QString &keptFor, int nameMax) const
{
    const QString stem = hiddenPrefix() + QString::number(serial);
    if (keptFor.isEmpty())
        return stem + QLatin1String(keptSuffix);
    // Room is left for ".part", which a kept copy is written under first.
    const qsizetype room = nameMax - FileNames::encodedSize(stem) - 1 -
                           qsizetype(sizeof keptSuffix - 1) - qsizetype(sizeof partSuffix - 1);
    return stem + QLatin1Char('-') + cutToBytes(keptFor, room) + QLatin1String(keptSuffix);
}

QString BatchJournal::temporaryPath(int serial) const
{
    return Paths::join(targetFolder, temporaryName(serial));
}

QString BatchJournal::keptPath(int serial, const QString &keptFor) const
{
    return Paths::join(targetFolder, keptName(serial, keptFor));
}

QString BatchJournal::keptForOf(const QString &keptName, const QString &prefix)
{
    if (!keptName.startsWith(prefix) || !keptName.endsWith(QLatin1String(keptSuffix)))
        return {};
    const QString rest = keptName.mid(prefix.size(), keptName.size() - prefix.size() -
                                                         qsizetype(sizeof keptSuffix - 1));
    qsizetype digits = 0;
    while (digits < rest.size() && rest[digits].isDigit() && rest[digits].unicode() < 128)
        ++digits;
    if (digits == 0 || digits + 1 >= rest.size() || rest[digits] != QLatin1Char('-'))
        return {};
    return rest.mid(digits + 1);
}

QString BatchJournal::fileNamePrefix()
{
    return QStringLiteral(".kaenami-batch-");
}

QString BatchJournal::pathIn(const QString &folder, const QString &id)
{
    return Paths::join(folder, fileNamePrefix() + id + QStringLiteral(".journal"));
}

QByteArray BatchJournal::toBytes() const
{
    QByteArray text = QByteArray(header) + '\n';
    text += "id " + id.toLatin1() + '\n';
    text += kind == Kind::Undo ? "kind undo\n" : "kind batch\n";
    const auto folder = [&](const char *key, const QString &path, const Identity &identity) {
        text += key + (' ' + field(path)) + ' ' + QByteArray::number(identity.device) + ' ' +
                QByteArray::number(identity.inode) + '\n';
    };
    folder("source", sourceFolder, sourceIdentity);
    folder("target", targetFolder, targetIdentity);
    for (const QString &trash : trashFolders)
        text += "trash " + field(trash) + '\n';
    for (const Kept &entry : kept) {
        text += (entry.home ? "kept " : "kept-here ") + field(entry.kept) + ' ' +
                field(entry.original) + ' ' + field(entry.target);
        if (!entry.trashedAs.isEmpty()) {
            const FileStatus &t = entry.trashed;
            text += ' ' + field(entry.trashedAs) + ' ' + QByteArray::number(t.device) + ' ' +
                    QByteArray::number(t.inode) + ' ' + QByteArray::number(t.size) + ' ' +
                    QByteArray::number(t.modifiedNs);
        }
        text += '\n';
    }
    // A damaged line that still reads must not pass for the batch's own: the sum tells.
    text += "sum " + sumOf(text) + '\n';
    text += "end\n";
    return text;
}

std::optional<BatchJournal> BatchJournal::fromBytes(const QByteArray &bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() < 5 || (lines.first() != header && lines.first() != headerVersion1))
        return std::nullopt;
    const bool version1 = lines.first() == headerVersion1;
    if (!version1) {
        // The sum covers every line before its own, and only "end" follows it.
        const qsizetype sumLine = bytes.lastIndexOf("\nsum ");
        if (sumLine < 0 ||
            bytes.mid(sumLine + 1) != "sum " + sumOf(bytes.left(sumLine + 1)) + "\nend\n")
            return std::nullopt;
    }
    BatchJournal journal;
    bool ended = false;
    for (qsizetype i = 1; i < lines.size() && !ended; ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        const QByteArray &key = words.first();
        bool ok = true;
        if (key == "end" && words.size() == 1) {
            ended = true;
        } else if (key == "sum" && words.size() == 2 && !version1) {
            continue;
        } else if (key == "id" && words.size() == 2) {
            journal.id = QString::fromLatin1(words[1]);
        } else if (key == "kind" && words.size() == 2 && !version1 &&
                   (words[1] == "batch" || words[1] == "undo")) {
            journal.kind = words[1] == "undo" ? Kind::Undo : Kind::Batch;
        } else if (key == "source") {
            ok = readFolder(words, version1, journal.sourceFolder, journal.sourceIdentity);
        } else if (key == "target") {
            ok = readFolder(words, version1, journal.targetFolder, journal.targetIdentity);
        } else if (key == "trash" && words.size() == 2 && !version1) {
            journal.trashFolders.append(unfield(words[1]));
        } else if ((key == "kept" || (key == "kept-here" && !version1)) && words.size() == 4) {
            journal.kept.push_back(
                {unfield(words[1]), unfield(words[2]), unfield(words[3]), {}, {}, key == "kept"});
        } else if ((key == "kept" || key == "kept-here") && words.size() == 9 && !version1) {
            Kept entry{
                unfield(words[1]), unfield(words[2]), unfield(words[3]), unfield(words[4]), {},
                key == "kept"};
            entry.trashed.type = FileStatus::Type::Regular;
            entry.trashed.device = words[5].toULongLong(&ok);
            bool good = ok;
            entry.trashed.inode = words[6].toULongLong(&good);
            ok = ok && good;
            entry.trashed.size = words[7].toLongLong(&good);
            ok = ok && good;
            entry.trashed.modifiedNs = words[8].toLongLong(&good);
            ok = ok && good;
            journal.kept.push_back(entry);
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    // A journal without its end, id or folders was not written by a batch: touch nothing.
    if (!ended || !plainId(journal.id) || !plainPath(journal.targetFolder) ||
        !plainPath(journal.sourceFolder))
        return std::nullopt;
    // Recovery renames and removes files: kept files only as the batch's own hidden names right
    // in its target folder; a content comes back only into the batch's source folder (an
    // undo's also to its new name in the target folder).
    for (const Kept &entry : journal.kept) {
        const QString originalFolder = Paths::folderOf(entry.original);
        const bool originalHome =
            originalFolder == journal.sourceFolder ||
            (journal.kind == Kind::Undo && originalFolder == journal.targetFolder);
        if (!plainPath(entry.kept) || !plainPath(entry.original) || !plainPath(entry.target) ||
            Paths::folderOf(entry.kept) != journal.targetFolder || !originalHome ||
            (!version1 && Paths::folderOf(entry.target) != journal.targetFolder) ||
            !fileNameOf(entry.kept).startsWith(journal.hiddenPrefix()) ||
            (!entry.trashedAs.isEmpty() && !plainPath(entry.trashedAs)))
            return std::nullopt;
    }
    return journal;
}

BatchJournal BatchJournal::salvage(const QByteArray &bytes)
{
    BatchJournal journal;
    for (const QByteArray &line : bytes.left(64 * 1024).split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        QString path;
        Identity identity;
        if (words.first() == "id" && words.size() == 2 && plainId(QString::fromLatin1(words[1])))
            journal.id = QString::fromLatin1(words[1]);
        else if (words.first() == "kind" && words.size() == 2 && words[1] == "undo")
            journal.kind = Kind::Undo;
        else if (words.first() == "target" &&
                 readFolder(words, words.size() == 2, path, identity) && plainPath(path))
            journal.targetFolder = path, journal.targetIdentity = identity;
        else if (words.first() == "source" &&
                 readFolder(words, words.size() == 2, path, identity) && plainPath(path))
            journal.sourceFolder = path, journal.sourceIdentity = identity;
    }
    return journal;
}

RecoveryReport recoverBatch(FileOperations &files, const BatchJournal &journal,
                            const QStringList &alsoInSight, const BatchFolders *open)
{
    RecoveryReport report;
    const QString prefix = journal.hiddenPrefix();
    BatchFolders folders;
    if (open) {
        folders = *open;
    } else if (!openRecorded(files, journal.targetFolder, journal.targetIdentity, prefix,
                             folders.target, report, true)) {
        return report;
    }
    const OpenFolder &target = folders.target;
    // A source folder that is away or another folder now takes nothing back: contents come
    // back beside their names in the target folder instead.
    if (!open) {
        if (journal.sourceFolder == journal.targetFolder)
            folders.source = target;
        else
            openRecorded(files, journal.sourceFolder, journal.sourceIdentity, prefix,
                         folders.source, report, false);
    }
    const OpenFolder *source = folders.source.isOpen() ? &folders.source : nullptr;
    const auto placeOf = [&](const QString &path) {
        const QString folder = Paths::folderOf(path);
        if (folder == journal.targetFolder)
            return Place{&target, fileNameOf(path)};
        if (folder == journal.sourceFolder && source)
            return Place{source, fileNameOf(path)};
        return Place{};
    };
    const auto problem = [&](const QString &path, const OpResult &result) {
        report.problems.append(FileNames::display(path) + QStringLiteral(": ") + result.error);
    };

    QList<const OpenFolder *> visibleFolders{&target};
    if (source && !source->sameFolderAs(target))
        visibleFolders.append(source);
    VisibleFiles visible(files, visibleFolders, target, alsoInSight);
    // First what each kept file is: gone already, still in sight, or the only holder of its
    // content.
    struct Look
    {
        QString keptName;
        FileStatus kept;
        Place original, newName;
        bool inSight = false;
    };
    std::vector<Look> looks;
    looks.reserve(journal.kept.size());
    for (const BatchJournal::Kept &entry : journal.kept) {
        Look look{fileNameOf(entry.kept), {}, placeOf(entry.original), placeOf(entry.target)};
        look.kept = files.status(target, look.keptName, false);
        if (look.kept.exists()) {
            // In sight when the original or the new name holds that very file or the same
            // bytes, or the file has another visible name.
            look.inSight = look.kept.type != FileStatus::Type::Regular;
            for (const Place &place : {look.original, look.newName}) {
                if (look.inSight || !place.folder)
                    continue;
                look.inSight =
                    files.status(*place.folder, place.name, true).sameFileAs(look.kept) ||
                    files.sameContent(*place.folder, place.name, target, look.keptName);
            }
            look.inSight = look.inSight || (look.kept.links > 1 && visible.contains(look.kept));
        }
        looks.push_back(look);
    }
    JournalTemporaries temporaries(journal);
    // An undo cut short is finished when every content it took out of the way can go home, and
    // otherwise put back as the batch left it, so that no content needs a name beside its own.
    bool forward = true;
    for (size_t k = 0; k < looks.size() && journal.kind == BatchJournal::Kind::Undo; ++k) {
        const Look &look = looks[k];
        if (look.kept.exists() && !look.inSight && journal.kept[k].home &&
            (!look.original.folder ||
             files.status(*look.original.folder, look.original.name, false).exists()))
            forward = false;
    }

    for (size_t k = 0; k < looks.size(); ++k) {
        const BatchJournal::Kept &entry = journal.kept[k];
        const Look &look = looks[k];
        bool targetTaken = false;
        if (look.inSight) {
            if (const OpResult removed = files.removeFile(target, look.keptName); !removed)
                problem(entry.kept, removed);
            else
                ++report.leftoversRemoved;
        } else if (look.kept.exists()) {
            QList<Place> places{look.original};
            if (journal.kind == BatchJournal::Kind::Undo) {
                if (forward && entry.home)
                    places = {look.original, look.newName};
                else
                    places = {look.newName, look.original};
            }
            OpResult moved;
            const QString now =
                bringBack(files, target, look.keptName, places, entry.original, moved);
            if (now.isEmpty()) {
                problem(entry.kept, moved);
                continue;
            }
            report.restored.push_back({entry.original, now});
            targetTaken =
                look.newName.folder && now == look.newName.folder->pathOf(look.newName.name);
        } else if (look.kept.error != ENOENT) {
            problem(entry.kept, OpResult::systemFailure(look.kept.error));
            continue;
        }
        // An undo cut short: the replaced file comes back once its name is free again.
        const Place &newName = look.newName;
        if (!entry.trashedAs.isEmpty() && !targetTaken && newName.folder &&
            !files.status(*newName.folder, newName.name, false).exists() &&
            sameTrashedFile(files.status(entry.trashedAs, false), entry.trashed)) {
            if (const OpResult back = files.restoreFromTrash(
                    entry.trashedAs, *newName.folder, newName.name, {entry.trashed, &temporaries});
                back)
                report.restored.push_back({entry.target, entry.target});
            else
                problem(entry.trashedAs, back);
        }
    }

    // A kept file the journal does not name (its line damaged in a way that still reads) is
    // not left hidden either.
    QSet<QString> known;
    for (const BatchJournal::Kept &entry : journal.kept)
        known.insert(fileNameOf(entry.kept));
    bringBackByNames(files, target, prefix, known, report);
    removeTemporaries(files, target, prefix, report);
    // An undo copies back to a source folder on another drive under its hidden names too.
    if (source && !source->sameFolderAs(target))
        removeTemporaries(files, *source, prefix, report);
    // A copy the trash was writing under a hidden name never got its trash name, and trash
    // information whose file never came (or has left) names nothing.
    for (const QString &trash : journal.trashFolders) {
        OpenFolder trashFiles;
        if (!files.openFolder(Paths::join(trash, QStringLiteral("files")), trashFiles))
            continue;
        removeTemporaries(files, trashFiles, prefix, report);
        removeLoneInformation(files, trash, trashFiles, journal.targetFolder);
    }
    return report;
}

namespace {

/// A journal that cannot be read whole: what its own hidden names still tell is put right (kept
/// contents back under visible names, temporaries removed), in the target folder the damaged
/// journal still names. Nothing else is acted on.
RecoveryReport recoverByNames(FileOperations &files, const BatchJournal &salvaged)
{
    RecoveryReport report;
    const QString prefix = salvaged.hiddenPrefix();
    OpenFolder target;
    if (!openRecorded(files, salvaged.targetFolder, salvaged.targetIdentity, prefix, target, report,
                      true))
        return report;
    bringBackByNames(files, target, prefix, {}, report);
    removeTemporaries(files, target, prefix, report);
    return report;
}

QString unreadableMessage(const QString &journalPath, const BatchJournal &salvaged,
                          const RecoveryReport &report, const QString &setAsideAs)
{
    QString text = QStringLiteral("前回のリネームの記録が壊れていて、読めませんでした。\r\n") +
                   FileNames::display(setAsideAs.isEmpty() ? journalPath : setAsideAs);
    const QString hidden = FileNames::display(salvaged.hiddenPrefix()) + QStringLiteral("…");
    if (salvaged.targetFolder.isEmpty()) {
        text += QStringLiteral("\r\nリネーム先のフォルダーに隠しファイル「%1」が残っていれば、"
                               "元の内容を持っています。")
                    .arg(hidden);
        return text;
    }
    text += QStringLiteral("\r\nフォルダー「%1」の隠しファイル「%2」を調べました。")
                .arg(FileNames::display(salvaged.targetFolder), hidden);
    if (report.restored.empty() && report.problems.isEmpty())
        text += QStringLiteral("\r\n戻す必要のある内容はありませんでした。");
    return text + restoredLines(report);
}

} // namespace

QString restoredLines(const RecoveryReport &report)
{
    QString text;
    for (const RecoveryReport::Restored &restored : report.restored) {
        text += QStringLiteral("\r\n元の内容を戻したファイル: ") + FileNames::display(restored.now);
        if (restored.now != restored.original)
            text += QStringLiteral("（%1 の内容）").arg(FileNames::display(restored.original));
    }
    for (const QString &problem : report.problems)
        text += QStringLiteral("\r\n戻せなかったもの: ") + problem;
    return text;
}

QString recoverAbandonedBatches(FileOperations &files, const QString &folder)
{
    UndoHistoryFile::removeLeftovers(files, folder);
    // One reading of the folder finds both the journals and those still being written when
    // their batch was killed (those named nothing yet, and simply go).
    QStringList inFolder;
    if (!files.listNamesStartingWith(folder, {}, inFolder))
        return {};
    QStringList names;
    const QString journalPrefix = BatchJournal::fileNamePrefix();
    for (const QString &name : std::as_const(inFolder)) {
        if (name.startsWith(journalPrefix)) {
            names.append(name);
        } else if (name.startsWith(QLatin1Char('.') + journalPrefix)) {
            const QString path = Paths::join(folder, name);
            QByteArray ignored;
            const OpResult claimed = files.claimJournal(path, ignored, 0);
            if (claimed || claimed.systemError == EFBIG)
                files.finishJournal(path);
        }
    }
    names.sort();
    QStringList messages;
    RecoveryReport all;
    int recoveredBatches = 0;
    int recoveredUndos = 0;
    const QString journalSuffix = QStringLiteral(".journal");
    for (const QString &name : std::as_const(names)) {
        if (!name.endsWith(journalSuffix))
            continue;
        const QString path = Paths::join(folder, name);
        QByteArray bytes;
        const OpResult claimed = files.claimJournal(path, bytes, BatchJournal::sizeLimit);
        if (!claimed && claimed.systemError != EFBIG)
            continue; // held by a batch that is still running, gone meanwhile, or not ours
        const QString id = name.mid(journalPrefix.size(),
                                    name.size() - journalPrefix.size() - journalSuffix.size());
        std::optional<BatchJournal> journal;
        if (claimed)
            journal = BatchJournal::fromBytes(bytes);
        // A journal is the one its name says.
        if (journal && journal->id != id)
            journal.reset();
        if (!journal) {
            // Never set aside in silence: the batch's hidden files may hold contents. What the
            // damaged journal and their own names still tell is put right.
            BatchJournal salvaged = BatchJournal::salvage(bytes);
            salvaged.id = plainId(id) ? id : QString();
            RecoveryReport report;
            if (!salvaged.id.isEmpty() && !salvaged.targetFolder.isEmpty())
                report = recoverByNames(files, salvaged);
            const QString aside = path + QStringLiteral(".unreadable");
            const OpResult moved = files.renameNoReplace(path, aside);
            if (moved)
                files.finishJournal(path);
            else
                files.releaseJournal(path);
            if (!moved)
                report.problems.append(FileNames::display(path) + QStringLiteral(": ") +
                                       moved.error);
            messages.append(unreadableMessage(path, salvaged, report, moved ? aside : QString()));
            continue;
        }
        const RecoveryReport report = recoverBatch(files, *journal);
        all.restored.insert(all.restored.end(), report.restored.begin(), report.restored.end());
        all.problems.append(report.problems);
        // What could not be put right is tried again at the next start.
        bool finished = false;
        if (report.problems.isEmpty())
            finished = bool(files.finishJournal(path));
        else
            files.releaseJournal(path);
        // A journal that cannot be removed (its folder read-only) and leaves nothing to do is
        // no news at every start.
        if (finished || !report.restored.empty() || report.leftoversRemoved > 0 ||
            !report.problems.isEmpty())
            ++(journal->kind == BatchJournal::Kind::Undo ? recoveredUndos : recoveredBatches);
    }
    if (recoveredBatches + recoveredUndos > 0 || !all.problems.isEmpty()) {
        QString text;
        if (recoveredBatches > 0 || recoveredUndos == 0)
            text = QStringLiteral("前回のリネームは最後まで終わっていませんでした。");
        if (recoveredUndos > 0)
            text += (text.isEmpty() ? QString() : QStringLiteral("\r\n")) +
                    QStringLiteral("前回の「元に戻す」は最後まで終わっていませんでした。");
        if (all.restored.empty() && all.problems.isEmpty())
            text += QStringLiteral("\r\n失われた内容はありません。");
        text += restoredLines(all);
        if (!all.problems.isEmpty())
            text += QStringLiteral("\r\n戻せなかったものは、次に起動したときにもう一度戻します。");
        messages.prepend(text);
    }
    return messages.join(QStringLiteral("\r\n\r\n"));
}
