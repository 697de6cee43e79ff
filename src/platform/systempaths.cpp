#include "systempaths.h"

#include "filenames.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace SystemPaths {

QString workingFolder()
{
    const std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
    return folder ? FileNames::decode(QByteArray(folder.get())) : QString();
}

OpResult resolve(const QString &path, QString &resolved)
{
    resolved.clear();
    const std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(FileNames::encode(path).constData(), nullptr), &std::free);
    if (!real)
        return OpResult::systemFailure(errno, path);
    resolved = FileNames::decode(QByteArray(real.get()));
    return OpResult::success();
}

} // namespace SystemPaths
