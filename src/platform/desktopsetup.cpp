#include "desktopsetup.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#include <memory>

namespace DesktopSetup {

void nameApplication()
{
    QCoreApplication::setApplicationName(programName);
    QCoreApplication::setApplicationVersion(QStringLiteral(KAENAMI_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(KAENAMI_APP_ID));
}

bool loadQtTranslations()
{
    static QPointer<QTranslator> installed;
    if (installed)
        return true;
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return false;
    auto translator = std::make_unique<QTranslator>(application);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    installed = translator.release();
    return QCoreApplication::installTranslator(installed);
}

} // namespace DesktopSetup
