// Writes the program's pictures as PNG files into the folder given as the first argument.
// The drawing is deterministic: the same fonts give byte-identical files.

#include "Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>

#include <cstdio>

int main(int argc, char** argv)
{
    // Fonts need a GUI application; no display is needed for painting into images.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: make-images <output folder>\n");
        return 2;
    }
    QDir out(args.at(1));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }

    int failures = 0;
    for (const Picture& pic : AllPictures()) {
        QImageWriter w(out.filePath(pic.name), "png");
        w.setCompression(100); // Qt 6 counts PNG compression from 0 to 100
        const QImage img = pic.image.convertToFormat(QImage::Format_ARGB32);
        if (!w.write(img)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(pic.name), qPrintable(w.errorString()));
            ++failures;
        } else {
            std::printf("%-20s %dx%d\n", qPrintable(pic.name), img.width(), img.height());
        }
    }
    return failures ? 1 : 0;
}
