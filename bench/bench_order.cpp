// The source list's orders on a folder of photos, beside listing the same folder in name order:
// what choosing 撮影日時順 or 更新日時順 in the list's menu costs until the list is shown again.
// The files are in the page cache (a round before the timed ones reads them all).
#include "benchcommon.h"
#include "exiffiles.h"
#include "filelist.h"
#include "posixfileoperations.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

namespace {

/// Photos as cameras write them: an EXIF segment with the date taken (in no order the names
/// follow) and a thumbnail after it, then the picture's data.
void makePhotos(const QString &folder, int count)
{
    QDir().mkpath(folder);
    const QDateTime start(QDate(2024, 5, 3), QTime(8, 0), Qt::UTC);
    const QByteArray scan(16 * 1024, '\x2a');
    for (int i = 0; i < count; ++i) {
        const QDateTime taken = start.addSecs(qint64(i) * 7919 % count);
        const QByteArray header =
            ExifFiles::jpeg({taken.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1(),
                             QByteArray::number(i % 100), "+09:00"},
                            i % 2 == 0, 0, 16 * 1024);
        const QByteArray file = header.left(header.size() - 2) + scan + "\xff\xd9";
        if (!ExifFiles::write(folder +
                                  QStringLiteral("/IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0')),
                              file, taken.toSecsSinceEpoch() + 3600))
            qFatal("cannot write the photos");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString base = app.arguments().value(1, QDir::tempPath());
    const int rounds = app.arguments().value(2, QStringLiteral("5")).toInt();
    const int count = app.arguments().value(3, QStringLiteral("10000")).toInt();
    QTemporaryDir root(base + QStringLiteral("/kaenami-bench-XXXXXX"));
    const QString folder = root.path() + QStringLiteral("/photos");
    makePhotos(folder, count);
    std::printf("%d JPEG photos (EXIF with a 16 KiB thumbnail), median of %d rounds, files in "
                "the page cache\n",
                count, rounds);

    PosixFileOperations files;
    FileList list(files, QAbstractItemView::ExtendedSelection);
    list.resize(177, 210);
    list.show();
    // Every header read once, so that the rounds read from memory.
    list.setOrder(ListOrder::Taken);
    list.setPath(folder);
    QCoreApplication::processEvents();
    std::vector<double> listed, taken, modified, takenFolder;
    for (int round = 0; round < rounds; ++round) {
        list.setOrder(ListOrder::Name);
        listed.push_back(Bench::timeMs([&] {
            list.setPath(folder);
            QCoreApplication::processEvents();
        }));
        if (list.listCount() != count)
            qFatal("the list is short");
        list.selectAll();
        taken.push_back(Bench::timeMs([&] {
            list.setOrder(ListOrder::Taken);
            QCoreApplication::processEvents();
        }));
        modified.push_back(Bench::timeMs([&] {
            list.setOrder(ListOrder::Modified);
            QCoreApplication::processEvents();
        }));
        list.setOrder(ListOrder::Taken);
        takenFolder.push_back(Bench::timeMs([&] {
            list.setPath(folder);
            QCoreApplication::processEvents();
        }));
    }
    const double floor = Bench::median(listed);
    Bench::row("list the folder by name (until shown)", floor, floor, "list");
    Bench::row("choose the date-taken order (all selected)", Bench::median(taken), floor, "list");
    Bench::row("choose the modification order (all selected)", Bench::median(modified), floor,
               "list");
    Bench::row("list the folder by date taken", Bench::median(takenFolder), floor, "list");
    return 0;
}
