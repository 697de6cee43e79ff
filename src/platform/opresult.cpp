#include "opresult.h"

#include <cstring>

QString systemErrorText(int errorNumber)
{
    // strerror follows LC_MESSAGES, which QCoreApplication takes from the user's locale.
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}
