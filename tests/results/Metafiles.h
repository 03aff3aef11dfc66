#pragma once

#include <QByteArray>

// Small valid metafiles, 100 x 100 units, filled with one solid red rectangle.
QByteArray redSquareWmf();
QByteArray redSquareEmf();
