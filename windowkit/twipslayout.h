// Places controls from positions given in twips (1/1440 inch; 15 twips make
// one device-independent pixel), scaled as a whole so that every text a
// control must show fits the desktop's font.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

class QFontMetrics;
class QWidget;

namespace kelvo {

class TwipsLayout {
public:
    // Records where `widget` goes, in twips relative to its parent.
    void place(QWidget* widget, int left, int top, int width, int height);
    // Records that `widget` must show each of `texts` on one line.
    void mustFit(QWidget* widget, const QStringList& texts);
    // Records that `widget` must show `text` word-wrapped onto at most `lines` lines.
    void mustFitWrapped(QWidget* widget, const QString& text, int lines);

    // The smallest scale, at least 1, at which every recorded text fits.
    [[nodiscard]] double fitScale() const;
    // Moves and sizes every placed widget at `scale`.
    void apply(double scale) const;

    [[nodiscard]] static int toPixels(int twips, double scale);
    [[nodiscard]] static QSize toPixels(QSize twips, double scale);

private:
    struct Placement {
        QWidget* widget;
        QRect twips;
    };
    struct Need {
        QWidget* widget;
        QSize pixels; // what the widget needs at its own font, frame included
    };

    [[nodiscard]] const Placement* placementOf(const QWidget* widget) const;

    std::vector<Placement> placements_;
    std::vector<Need> needs_;
};

// The size a widget needs to show `text` on one line: the style's own size for
// buttons, line edits and combo boxes, the text's extent plus frame for labels.
[[nodiscard]] QSize sizeNeededFor(const QWidget* widget, const QString& text);

// `text` with every digit replaced by the digit the font draws widest: as
// wide as any number of that many digits can be.
[[nodiscard]] QString widestDigits(const QString& text, const QFontMetrics& metrics);

// `text` broken at blanks onto at most `lines` lines, each as short as possible.
[[nodiscard]] QStringList balancedLines(const QString& text, int lines);

} // namespace kelvo
