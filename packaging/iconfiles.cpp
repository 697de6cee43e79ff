// Writes the installed icon files from the program's own icon design: the scalable SVG and the
// PNGs of the hicolor theme. Runs at build time, without a display.

#include "programicon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: iconfiles <hicolor folder> <icon name> [sizes...]\n");
        return 2;
    }
    const QString theme = arguments.at(1);
    const QString name = arguments.at(2);
    if (!writeFile(theme + QStringLiteral("/scalable/apps/") + name + QStringLiteral(".svg"),
                   ProgramIcon::svg()))
        return 1;
    for (const QString &size : arguments.mid(3)) {
        const int pixels = size.toInt();
        const QString path = theme + QLatin1Char('/') + size + QLatin1Char('x') + size +
                             QStringLiteral("/apps/") + name + QStringLiteral(".png");
        QDir().mkpath(QFileInfo(path).path());
        if (pixels <= 0 || !ProgramIcon::image(pixels).save(path, "PNG")) {
            std::fprintf(stderr, "iconfiles: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
