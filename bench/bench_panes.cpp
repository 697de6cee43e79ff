// File lists on large folders beside `ls -1 --sort=version` of the same folders.
#include "benchcommon.h"
#include "filelist.h"
#include "posixfileoperations.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

void makeFiles(const QString &folder, int count)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        const QByteArray path =
            QFile::encodeName(folder + QStringLiteral("/IMG_%1.JPG").arg(i * 7919 % count));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0)
            qFatal("cannot create the files");
        ::close(fd);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString base = app.arguments().value(1, QDir::tempPath());
    const int rounds = app.arguments().value(2, QStringLiteral("5")).toInt();
    QTemporaryDir root(base + QStringLiteral("/kaenami-bench-XXXXXX"));
    std::printf("file lists against ls -1 --sort=version, median of %d rounds\n", rounds);

    PosixFileOperations files;
    for (const int count : {10000, 100000}) {
        const QString folder = root.path() + QStringLiteral("/f%1").arg(count);
        makeFiles(folder, count);
        std::vector<double> take, refresh, selectAll, ls;
        for (int round = 0; round < rounds; ++round) {
            FileList list(files, QAbstractItemView::ExtendedSelection);
            list.resize(177, 210);
            list.show();
            QCoreApplication::processEvents();
            take.push_back(Bench::timeMs([&] {
                list.setPath(folder);
                QCoreApplication::processEvents();
            }));
            if (list.listCount() != count)
                qFatal("the list is short");
            selectAll.push_back(Bench::timeMs([&] {
                list.selectAll();
                QCoreApplication::processEvents();
            }));
            refresh.push_back(Bench::timeMs([&] {
                list.refresh();
                QCoreApplication::processEvents();
            }));
            ls.push_back(Bench::timeMs([&] {
                if (!Bench::run(QStringLiteral("ls"),
                                {QStringLiteral("-1"), QStringLiteral("--sort=version"), folder}))
                    qFatal("ls failed");
            }));
        }
        const double lsTime = Bench::median(ls);
        const double takeTime = Bench::median(take);
        std::printf("%d files\n", count);
        Bench::row("  take the folder (Path until listed)", takeTime, lsTime, "ls");
        Bench::row("  refresh", Bench::median(refresh), lsTime, "ls");
        Bench::row("  select all", Bench::median(selectAll), takeTime, "take");
    }
    return 0;
}
