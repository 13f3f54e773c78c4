// Finds and loads the player engine's module the first time a source is opened.
#include "preview/MediaEngine.h"
#include "preview/TimelineScan.h"

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

// The module, loaded once; null with the reason when it cannot be.
static void* ModuleHandle(QString* error)
{
    static void* handle = nullptr;
    static QString failure;
    if (!handle && failure.isEmpty()) {
        QStringList tried;
        for (const QString& file : Candidates()) {
            if (!QFileInfo(file).isFile()) {
                tried << file;
                continue;
            }
            handle = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!handle)
                failure = QString::fromLocal8Bit(dlerror());
            break;
        }
        if (!handle && failure.isEmpty())
            failure = QStringLiteral("The player engine was not found (%1)").arg(tried.join(QStringLiteral(", ")));
    }
    if (!handle && error)
        *error = failure;
    return handle;
}

TMediaEngine* CreateMediaEngine(QString* error)
{
    void* handle = ModuleHandle(error);
    if (!handle)
        return nullptr;
    const auto create = reinterpret_cast<TCreateMediaEngine>(dlsym(handle, VT_MEDIA_ENGINE_ENTRY));
    if (!create) {
        if (error)
            *error = QStringLiteral("%1 is not the player engine").arg(QStringLiteral(VT_MEDIA_MODULE_NAME));
        return nullptr;
    }
    return create();
}

TScanTimeline LoadTimelineScanner(QString* error)
{
    void* handle = ModuleHandle(error);
    if (!handle)
        return nullptr;
    const auto scan = reinterpret_cast<TScanTimeline>(dlsym(handle, VT_TIMELINE_SCAN_ENTRY));
    if (!scan && error)
        *error = QStringLiteral("%1 cannot read timelines").arg(QStringLiteral(VT_MEDIA_MODULE_NAME));
    return scan;
}

TTimelinePictures LoadTimelinePictures(QString* error)
{
    void* handle = ModuleHandle(error);
    if (!handle)
        return nullptr;
    const auto pictures = reinterpret_cast<TTimelinePictures>(dlsym(handle, VT_TIMELINE_PICTURES_ENTRY));
    if (!pictures && error)
        *error = QStringLiteral("%1 cannot read timelines").arg(QStringLiteral(VT_MEDIA_MODULE_NAME));
    return pictures;
}
