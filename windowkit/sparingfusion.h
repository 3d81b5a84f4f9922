// Qt's raster engine fills a shape taller than 96 device pixels in slices on
// its thread pool and waits for them; the first such fill also starts the
// pool's threads. Fusion, the style Qt uses where the desktop names none,
// makes two such fills where it need not:
// - it fills a scroll bar's whole groove with a gradient. Every re-read or
//   scroll step of a list repaints its scroll bar, and on a busy machine that
//   wait costs about as much as drawing the rows. The groove looks the same
//   whatever the bar shows, so it is drawn once per size and palette and
//   copied from there. Its lines run the bar's length, so a long one is
//   drawn short and lengthened by copying its middle;
// - it stretches a small picture over a group box's frame. Drawn in bands
//   shorter than the engine's slice, the frame comes out the same, and the
//   header window's first frame starts no threads to draw it.
#pragma once

class QAbstractScrollArea;
class QGroupBox;

namespace kelvo {

// Draws the grooves of `area`'s scroll bars from a cache when the area's
// style is Fusion (no style sheet); any other style draws its own.
void cacheScrollBarGrooves(QAbstractScrollArea* area);

// Draws `box`'s frame in bands when its style is Fusion (no style sheet).
void drawGroupFrameInBands(QGroupBox* box);

} // namespace kelvo
