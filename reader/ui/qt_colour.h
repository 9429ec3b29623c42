#pragma once

#include "notes/render.h"

#include <QColor>

namespace ombri::reader {

// A colour of the reader's settings (red in the low byte) as Qt draws it.
inline QColor toQColor(ColourRef colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

} // namespace ombri::reader
