// Fusion, the style Qt uses where the desktop names none, fills a scroll
// bar's whole groove with a gradient, and Qt's raster engine fills a shape
// taller than 96 pixels in slices on its thread pool and waits for them.
// Every re-read or scroll step of a list repaints its scroll bar, and on a
// busy machine that wait costs about as much as drawing the rows. The
// groove looks the same whatever the bar shows, so it is drawn once per
// size and palette and copied from there.
#pragma once

class QAbstractScrollArea;

namespace kelvo {

// Draws the grooves of `area`'s scroll bars from a cache when the area's
// style is Fusion (no style sheet); any other style draws its own.
void cacheScrollBarGrooves(QAbstractScrollArea* area);

} // namespace kelvo
