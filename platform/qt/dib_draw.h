#pragma once

#include "core/dib.h"

#include <QImage>
#include <QRect>

#include <cstdint>
#include <vector>

class QPainter;

namespace ombri {

// The picture as an image the painter can draw, top row first: pictures with a colour table
// become indexed images whose colour table is the display palette (palette given, or built when
// empty); the others 32-bit RGB, the fourth byte of 32-bit pixels not shown. A null image when
// the block is null or malformed. Converting is the expensive step, so views keep the result
// until the picture changes.
QImage dibToQImage(const Dib& dib, const std::vector<uint32_t>& palette = {});

// The picture as it goes on paper, see-through pixels laid over the white of the page instead of
// showing the colours stored under them. Alpha 254 counts as opaque, as a carrier's note pixels
// have it. Pictures without 32-bit pixels come out as from dibToQImage.
QImage dibOverWhite(const Dib& dib);

// Draws the source rectangle of the converted picture into the destination rectangle: an
// unscaled copy when both have the same size, otherwise a stretch that repeats or drops whole
// pixels, never blending them (colour-on-colour). False when there is nothing to draw.
bool DibDraw(QPainter& painter, const QRect& destination, const QImage& picture,
             const QRect& source);

// Where a picture of the given size lands on a printed page of the given size and resolution:
// across the whole printable width, centred vertically, the device's pixel aspect kept.
QRect printDestination(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight, int dpiX,
                       int dpiY);

} // namespace ombri
