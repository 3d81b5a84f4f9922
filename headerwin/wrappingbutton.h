// A push button whose caption is broken onto several lines when the button is
// too narrow for it. text() keeps the whole caption, so shortcuts, tests and
// screen readers see it unchanged.
#pragma once

#include <QPushButton>

namespace kelvo {

class WrappingButton : public QPushButton {
    Q_OBJECT
public:
    WrappingButton(const QString& text, int lines, QWidget* parent = nullptr);

    // The caption as it is drawn, one entry per line.
    [[nodiscard]] QStringList displayLines() const;
    [[nodiscard]] int lineCount() const { return lines_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int lines_;
};

} // namespace kelvo
