#include "windowkit/twipslayout.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {
constexpr double kTwipsPerPixel = 15.0;
}

void TwipsLayout::place(QWidget* widget, int left, int top, int width, int height) {
    placements_.push_back({widget, QRect(left, top, width, height)});
}

void TwipsLayout::mustFit(QWidget* widget, const QStringList& texts) {
    for (const QString& text : texts)
        needs_.push_back({widget, sizeNeededFor(widget, text)});
}

void TwipsLayout::mustFitWrapped(QWidget* widget, const QString& text, int lines) {
    const QStringList parts = balancedLines(text, lines);
    QSize need;
    for (const QString& part : parts)
        need = need.expandedTo(sizeNeededFor(widget, part));
    const QFontMetrics metrics(widget->font());
    need.rheight() += metrics.lineSpacing() * (int(parts.size()) - 1);
    needs_.push_back({widget, need});
}

const TwipsLayout::Placement* TwipsLayout::placementOf(const QWidget* widget) const {
    const auto it = std::find_if(placements_.begin(), placements_.end(),
                                 [widget](const Placement& p) { return p.widget == widget; });
    return it == placements_.end() ? nullptr : &*it;
}

double TwipsLayout::fitScale() const {
    double scale = 1.0;
    for (const Need& need : needs_) {
        const Placement* placement = placementOf(need.widget);
        if (!placement)
            continue;
        const double width = placement->twips.width() / kTwipsPerPixel;
        const double height = placement->twips.height() / kTwipsPerPixel;
        scale = std::max({scale, need.pixels.width() / width, need.pixels.height() / height});
    }
    // Round up to a hundredth so rounding pixel edges never takes a pixel back.
    return std::ceil(scale * 100.0) / 100.0;
}

int TwipsLayout::toPixels(int twips, double scale) {
    return int(std::lround(twips / kTwipsPerPixel * scale));
}

QSize TwipsLayout::toPixels(QSize twips, double scale) {
    return {toPixels(twips.width(), scale), toPixels(twips.height(), scale)};
}

void TwipsLayout::apply(double scale) const {
    for (const Placement& p : placements_) {
        // Edges are rounded, not sizes, so neighbours stay exactly aligned.
        const int left = toPixels(p.twips.left(), scale);
        const int top = toPixels(p.twips.top(), scale);
        const int right = toPixels(p.twips.left() + p.twips.width(), scale);
        const int bottom = toPixels(p.twips.top() + p.twips.height(), scale);
        p.widget->setGeometry(left, top, right - left, bottom - top);
    }
}

QSize sizeNeededFor(const QWidget* widget, const QString& text) {
    const QFontMetrics metrics(widget->font());
    const QSize textSize(metrics.horizontalAdvance(text), metrics.height());
    QStyle* style = widget->style();

    if (auto* button = qobject_cast<const QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        return style->sizeFromContents(QStyle::CT_PushButton, &option, textSize, button);
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        // QLineEdit keeps a small margin on each side of its text.
        const QSize inner = textSize + QSize(2 * 2 + 2, 2);
        return style->sizeFromContents(QStyle::CT_LineEdit, &option, inner, edit);
    }
    if (auto* combo = qobject_cast<const QComboBox*>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        return style->sizeFromContents(QStyle::CT_ComboBox, &option, textSize, combo);
    }
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        const int frame = 2 * label->frameWidth() + 2 * label->margin() + 2 * label->indent();
        return textSize + QSize(std::max(frame, 0), std::max(frame, 0));
    }
    return textSize;
}

QString widestDigits(const QString& text, const QFontMetrics& metrics) {
    QChar widest = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(digit);
    }
    QString wide = text;
    for (QChar& ch : wide) {
        if (ch.isDigit())
            ch = widest;
    }
    return wide;
}

QStringList balancedLines(const QString& text, int lines) {
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (lines <= 1 || words.size() <= 1)
        return {text};
    // Two lines cover every caption here; try each break and keep the
    // one whose longer line is shortest.
    QStringList best{text};
    qsizetype bestLongest = text.size();
    for (qsizetype split = 1; split < words.size(); ++split) {
        const QString first = words.mid(0, split).join(QLatin1Char(' '));
        const QString second = words.mid(split).join(QLatin1Char(' '));
        const qsizetype longest = std::max(first.size(), second.size());
        if (longest < bestLongest) {
            bestLongest = longest;
            best = {first, second};
        }
    }
    return best;
}

} // namespace kelvo
