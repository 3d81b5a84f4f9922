#include "windowkit/windowkit.h"

#include "romheader/romheader.h"
#include "windowkit/browsing.h"
#include "windowkit/progress.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <memory>

namespace kelvo {

namespace {

constexpr char kValueLabel[] = "kelvoValueLabel";

// Qt names an empty label after its group box, so a reader would announce
// "IMAGE INFO" where no value is shown; a value label is named by its text alone.
class ValueLabelAccessible : public QAccessibleWidget {
public:
    explicit ValueLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name)
            return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* valueLabelAccessible(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label && label->property(kValueLabel).toBool())
        return new ValueLabelAccessible(label);
    return nullptr;
}

} // namespace

QLabel* makeValueLabel(const char* name, const QString& description, QWidget* parent,
                       QLabel* label) {
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(valueLabelAccessible);
        return true;
    }();
    // Marked before it joins the window: an active screen reader may ask for
    // its accessible interface at once, and Qt keeps the first one made.
    if (!label)
        label = new QLabel;
    label->setProperty(kValueLabel, true);
    label->setParent(parent);
    label->setObjectName(QString::fromLatin1(name));
    // Titles and names come from untrusted files: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAccessibleDescription(description);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QValidator::State TitleValidator::validate(QString& input, int& position) const {
    // What the edit brought in lies between the text kept in front of it and behind it.
    const QString& before = accepted_;
    qsizetype front = 0;
    while (front < before.size() && front < input.size() && before[front] == input[front])
        ++front;
    qsizetype back = 0;
    while (back < before.size() - front && back < input.size() - front &&
           before[before.size() - 1 - back] == input[input.size() - 1 - back])
        ++back;
    const QString inserted = input.mid(front, input.size() - front - back);
    const qsizetype room = qsizetype(kTitleWidth) - front - back;

    QString kept;
    QString unstorable;
    QString pastLimit;
    for (qsizetype i = 0; i < inserted.size();) {
        const bool pair = inserted[i].isHighSurrogate() && i + 1 < inserted.size() &&
                          inserted[i + 1].isLowSurrogate();
        const QString character = inserted.mid(i, pair ? 2 : 1);
        i += character.size();
        if (pair || character[0].isSurrogate() || !isRepresentable(character[0].unicode()))
            unstorable += character;
        else if (kept.size() < room)
            kept += character;
        else
            pastLimit += character;
    }
    if (!unstorable.isEmpty() || !pastLimit.isEmpty()) {
        input = input.left(front) + kept + input.right(back);
        position = int(front + kept.size());
        emit refused(unstorable, pastLimit);
    }
    accepted_ = input;
    return Acceptable;
}

QString printable(QString text) {
    for (QChar& ch : text) {
        if (ch.category() == QChar::Other_Control)
            ch = QChar::ReplacementCharacter;
    }
    return text;
}

namespace {

class BusyDuringWaits final : public WaitObserver {
public:
    bool goOn(const std::string& path) override {
        if (!progress_) {
            // The override cursor reaches the display at once (the windowing
            // system is told straight away), so it shows while this thread waits.
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            progress_ = std::make_unique<DelayedProgress>(
                QApplication::activeWindow(),
                QStringLiteral("Waiting for %1 to be given up by another program...")
                    .arg(displayText(baseName(path))));
        }
        return progress_->step(0, 0);
    }

    void waitEnded() override {
        if (!progress_)
            return;
        progress_.reset();
        QGuiApplication::restoreOverrideCursor();
    }

private:
    std::unique_ptr<DelayedProgress> progress_;
};

} // namespace

void showBusyCursorDuringWaits() {
    static BusyDuringWaits observer;
    setWaitObserver(&observer);
}

BusyCursor::BusyCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor() {
    QGuiApplication::restoreOverrideCursor();
}

void centerOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

} // namespace kelvo
