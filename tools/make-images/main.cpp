// Writes the program's pictures as PNG files into the folder given as the first argument
// and, with a second argument, the desktop icons into that folder as a hicolor theme tree:
// hicolor/<N>x<N>/apps/<id>.png and hicolor/scalable/apps/<id>.svg.
// The drawing is deterministic: the same fonts give byte-identical files.

#include "Pictures.h"
#include "SvgCanvas.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>

namespace {

const char* const kIconName = "org.veltrane.Veltrane";
const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

bool WritePng(const QString& path, const QImage& image)
{
    QImageWriter w(path, "png");
    w.setCompression(100); // Qt 6 counts PNG compression from 0 to 100
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    if (!w.write(img)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(w.errorString()));
        return false;
    }
    std::printf("%-20s %dx%d\n", qPrintable(QFileInfo(path).fileName()), img.width(), img.height());
    return true;
}

int WriteIcons(const QDir& root)
{
    int failures = 0;
    for (int size : kIconSizes) {
        const QString dir = root.filePath(QStringLiteral("hicolor/%1x%1/apps").arg(size));
        QDir().mkpath(dir);
        if (!WritePng(dir + QLatin1Char('/') + QLatin1String(kIconName) + QStringLiteral(".png"), ProgramIconImage(size)))
            ++failures;
    }
    const QString dir = root.filePath(QStringLiteral("hicolor/scalable/apps"));
    QDir().mkpath(dir);
    SvgCanvas canvas(QSize(256, 256));
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        PaintProgramIcon(p, 256, false);
    }
    QFile svg(dir + QLatin1Char('/') + QLatin1String(kIconName) + QStringLiteral(".svg"));
    const QByteArray doc = canvas.document();
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) || svg.write(doc) != doc.size()) {
        std::fprintf(stderr, "%s: cannot write\n", qPrintable(svg.fileName()));
        ++failures;
    } else {
        std::printf("%-20s %lld bytes\n", qPrintable(QFileInfo(svg.fileName()).fileName()),
                    static_cast<long long>(doc.size()));
    }
    return failures;
}

} // namespace

int main(int argc, char** argv)
{
    // Fonts need a GUI application; no display is needed for painting into images.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: make-images <pictures folder> [<icons folder>]\n");
        return 2;
    }
    QDir out(args.at(1));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }

    int failures = 0;
    for (const Picture& pic : AllPictures())
        if (!WritePng(out.filePath(pic.name), pic.image))
            ++failures;
    if (args.size() > 2)
        failures += WriteIcons(QDir(args.at(2)));
    return failures ? 1 : 0;
}
