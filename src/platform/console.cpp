#include "console.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdio>
#include <unistd.h>

namespace {

void write(std::FILE *stream, const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void StandardConsole::writeOutput(const QString &text)
{
    write(stdout, text);
}

void StandardConsole::writeError(const QString &text)
{
    write(stderr, text);
}

bool StandardConsole::errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

bool StandardConsole::inputIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<QString> StandardConsole::readLine()
{
    QByteArray line;
    for (int c = std::getc(stdin); c != EOF; c = std::getc(stdin)) {
        if (c == '\n') {
            QStringDecoder decoder(QStringConverter::System);
            return QString(decoder.decode(line)).remove(QLatin1Char('\r'));
        }
        line.append(char(c));
    }
    if (line.isEmpty())
        return {};
    QStringDecoder decoder(QStringConverter::System);
    return QString(decoder.decode(line));
}
