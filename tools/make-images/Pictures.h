#pragma once
#include <QImage>
#include <QString>
#include <vector>

struct Picture {
    QString name; // file name in assets/images
    QImage image;
};

// Every picture the program uses, drawn afresh, in a fixed order.
std::vector<Picture> AllPictures();
