#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// A decoded picture: a raster image, or a vector drawing held as SVG (the metafiles).
struct Picture
{
    QImage image;
    QByteArray svg;

    bool isNull() const { return image.isNull() && svg.isEmpty(); }
};

// Decodes a picture file: JPEG, GIF, BMP and DIB, ICO and CUR (and whatever else Qt reads)
// by their contents, WMF and EMF by their extension. Anything that cannot be decoded,
// missing or damaged, gives a null picture.
Picture loadPicture(const QString &path);

// The metafiles as SVG documents; empty when the data is not a drawing the converter accepts.
QByteArray wmfToSvg(const QByteArray &data);
QByteArray emfToSvg(const QByteArray &data);
