#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

class QIODevice;

// How a file's name says it should be decoded: raster pictures by their contents (a .dib may
// also be a bitmap without its file header), the two metafile kinds by their name alone.
enum class PictureKind { Image, Dib, Wmf, Emf };

std::optional<PictureKind> pictureKindFromName(QStringView name); // "image", "dib", "wmf", "emf"

// The largest picture the renderer draws, a side; asked sizes above it are refused.
constexpr int MaxRenderedSide = 4096;

// Decodes one picture and draws it on white, stretched to `size` when that is valid, else at
// its own size (at most 2048 pixels a side, proportions kept). Null when it cannot be decoded.
QImage decodePicture(QIODevice &input, PictureKind kind, QSize size);

// The metafiles as cleaned SVG documents; empty when the data is not a drawing the converter accepts.
QByteArray wmfToSvg(const QByteArray &data);
QByteArray emfToSvg(const QByteArray &data);

// Writes the picture as a binary PPM (P6): what the preview window reads back.
bool writePixels(QIODevice &output, const QImage &image);
