// Building blocks both windows share: controls that carry their names, value
// labels a screen reader announces by their value, the title box's filter,
// and placing a fixed-size window.
#pragma once

#include <QString>
#include <QValidator>

#include <string>
#include <utility>

class QLabel;
class QWidget;

namespace kelvo {

// Creates a control named `name`, so tests and accessibility tools find it.
template <typename Widget, typename... Args>
Widget* makeNamed(const char* name, QWidget* parent, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A label whose text the handlers set from file contents: plain text only,
// announced by its value, with `description` (its caption) beside it.
// `label`, when given, is a label of the caller's own class, made without a
// parent, that becomes the value label.
[[nodiscard]] QLabel* makeValueLabel(const char* name, const QString& description, QWidget* parent,
                                     QLabel* label = nullptr);

// Lets through only what a title can store, so what is typed is exactly what
// gets written: characters of the one-byte mapping, at most 12. Of what an
// edit brings in (typed, pasted, committed by an input method) the storable
// characters are kept in order up to the limit; the rest is left out and told.
class TitleValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;

signals:
    // An edit lost `unstorable` (outside the mapping) and `pastLimit`
    // (storable, but past the 12th character).
    void refused(const QString& unstorable, const QString& pastLimit) const;

private:
    mutable QString accepted_; // the text as last let through
};

// A text the core made (UTF-8) as the windows show it.
[[nodiscard]] inline QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A header field's text as a label shows it: a control character (a tab, a
// line feed...) would move or hide the rest, so it shows as U+FFFD, as an
// undecodable name does in the lists.
[[nodiscard]] QString printable(QString text);

// While an open waits for another program to give up its lease on a file,
// shows the busy cursor at once and, after kProgressAfterMs, a progress
// dialog naming the file, whose Cancel gives up the wait (the open then
// fails with a FileError of kind Cancelled).
void showBusyCursorDuringWaits();

// Shows the busy cursor while it lives: around a step that may wait on a
// file system the user chose, such as reading a directory on a network
// mount whose server does not answer.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Moves a window so its frame is centred on the primary screen.
void centerOnScreen(QWidget* window);

} // namespace kelvo
