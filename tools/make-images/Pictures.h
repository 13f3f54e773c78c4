#pragma once
#include <QImage>
#include <QString>
#include <vector>

class QPainter;

struct Picture {
    QString name; // file name in assets/images
    QImage image;
};

// Every picture the program uses, drawn afresh, in a fixed order.
std::vector<Picture> AllPictures();

// The program's icon on a size x size canvas. From 48 px up it casts a soft shadow, which
// is a raster image: withShadow leaves it out (for the scalable icon).
void PaintProgramIcon(QPainter& p, int size, bool withShadow);
QImage ProgramIconImage(int size);
