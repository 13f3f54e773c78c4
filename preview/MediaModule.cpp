// Finds and loads the player engine's module the first time a source is opened.
#include "preview/MediaEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <dlfcn.h>

#ifndef VT_BIN_TO_LIBEXEC
#define VT_BIN_TO_LIBEXEC "../libexec/veltrane"
#endif

namespace {

// Beside the program (the build's application folder, a portable copy), where an
// installed program keeps its helpers, and the application folder a test run names.
QStringList Candidates()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    QStringList dirs {exeDir, QDir::cleanPath(exeDir + QStringLiteral("/" VT_BIN_TO_LIBEXEC))};
    const QByteArray appDir = qgetenv("VT_APP_DIR");
    if (!appDir.isEmpty())
        dirs << QString::fromLocal8Bit(appDir);
    QStringList files;
    for (const QString& d : dirs)
        files << QDir(d).filePath(QStringLiteral(VT_MEDIA_MODULE_NAME));
    return files;
}

} // namespace

TMediaEngine* CreateMediaEngine(QString* error)
{
    static TCreateMediaEngine create = nullptr;
    static QString failure;
    if (!create && failure.isEmpty()) {
        QStringList tried;
        for (const QString& file : Candidates()) {
            if (!QFileInfo(file).isFile()) {
                tried << file;
                continue;
            }
            void* handle = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                failure = QString::fromLocal8Bit(dlerror());
                break;
            }
            create = reinterpret_cast<TCreateMediaEngine>(dlsym(handle, VT_MEDIA_ENGINE_ENTRY));
            if (!create)
                failure = QStringLiteral("%1 is not the player engine").arg(file);
            break;
        }
        if (!create && failure.isEmpty())
            failure = QStringLiteral("The player engine was not found (%1)").arg(tried.join(QStringLiteral(", ")));
    }
    if (!create) {
        if (error)
            *error = failure;
        return nullptr;
    }
    return create();
}
