#pragma once

#include <QByteArray>

// Rewrites a converted metafile drawing so that nothing in it reaches outside the document:
// only drawing elements are kept, references must name an element of the same document,
// and embedded pictures must be PNG, JPEG, GIF or BMP data. Text stays text.
// Gives an empty result for a document that is not well-formed.
QByteArray cleanSvg(const QByteArray &svg);
