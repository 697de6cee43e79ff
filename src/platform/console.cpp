#include "console.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <csignal>
#include <cstdio>
#include <signal.h>
#include <unistd.h>

namespace {

void write(std::FILE *stream, const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

volatile std::sig_atomic_t interruptSeen = 0;
struct sigaction beforeInterrupts;
bool interruptsCaught = false;

void noteInterrupt(int)
{
    interruptSeen = 1;
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

InterruptRequest::InterruptRequest()
{
    interruptSeen = 0;
    struct sigaction current;
    if (::sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    // Calls under way go on; the handler is there for the first Ctrl+C only.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    interruptsCaught = ::sigaction(SIGINT, &action, &beforeInterrupts) == 0;
}

InterruptRequest::~InterruptRequest()
{
    if (interruptsCaught)
        ::sigaction(SIGINT, &beforeInterrupts, nullptr);
    interruptsCaught = false;
}

bool InterruptRequest::requested() const
{
    return interruptSeen != 0;
}
