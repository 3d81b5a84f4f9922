// Keeps a list's frame whole at fractional scales (1.25, 1.5, 1.75...).
#pragma once

#include <QListView>

class QFrame;
class QStyleOptionFrame;

namespace kelvo {

// At a fractional device pixel ratio the style draws each side of a scroll
// area's frame as a line one logical pixel wide at a fractional device
// position: the viewport, rounded to whole device pixels, paints over some
// sides and the widget's own clip cuts others. Called at the end of the
// frame's paint event, this repaints the frame band (the device pixels between
// the widget's edge and its contents) in the colour the style gives each side.
// At whole ratios the style's own frame is left as drawn.
void paintWholeFrame(QFrame* frame, const QStyleOptionFrame& option);

// A list view whose frame is drawn whole at every scale, and whose scroll
// bars' grooves are drawn from a cache (sparingfusion.h); the browsing lists
// derive from it.
class WholeFrameListView : public QListView {
    Q_OBJECT
public:
    explicit WholeFrameListView(QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
};

} // namespace kelvo
