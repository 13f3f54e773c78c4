#pragma once
// A paint device that records what a QPainter draws as an SVG document, so the same
// drawing code that makes the PNG pictures also makes the scalable icon.
//
// Everything is written in device coordinates: paths are mapped through the painter's
// transform, pens become filled outlines, gradients carry their transform, and clipping
// (nested, in any transform) becomes clipPath elements. Images are embedded as PNG. The
// output depends only on what is drawn: the same drawing gives the same bytes.

#include <QByteArray>
#include <QPaintDevice>
#include <QSize>
#include <memory>

class SvgPaintEngine;

class SvgCanvas : public QPaintDevice {
public:
    explicit SvgCanvas(QSize size);
    ~SvgCanvas() override;

    QPaintEngine* paintEngine() const override;
    // The finished document; call after the painter has ended.
    QByteArray document() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSize m_size;
    std::unique_ptr<SvgPaintEngine> m_engine;
};
