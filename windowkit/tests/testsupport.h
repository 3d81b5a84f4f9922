// Shared by the window tests: sample images built in code, and answering the
// modal message boxes the windows raise.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QLineEdit;
class QMimeData;
class QWidget;

namespace kelvo {
class FileList;
}

namespace kelvo::test {

struct ImageSpec {
    std::string title = "SAMPLE TITLE"; // up to 12 bytes, NUL-padded
    std::string gameCode = "AXYJ";      // 4 bytes at 0xAC
    std::string maker = "01";           // 2 bytes at 0xB0
    std::int64_t size = 4194304;
    bool validCheck = true;
    bool logo = false; // bytes 0x04..0x9F whose CRC32 is the console's logo's
};

// The control named `name` in `window`; the test stops when there is none.
template <typename T> T* control(const QObject* window, const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control named %s", name);
    return widget;
}

// Clicks `name` in a file list as the user would; false when it is not listed.
[[nodiscard]] bool clickListedName(kelvo::FileList* list, const std::string& name);

// Replaces the text of `box` with `text`, typed as key events carrying the
// text, as a keyboard layout or input method sends them (QTest::keyClicks
// only knows Latin-1 key codes).
void typeInto(QLineEdit* box, const QString& text);

// Writes an image (sparse past the header) and returns its bytes' header part.
void writeImage(const QString& path, const ImageSpec& image = {});
[[nodiscard]] std::vector<std::uint8_t> readBytes(const QString& path);
void writeBytes(const QString& path, const std::vector<std::uint8_t>& bytes);

// The framed controls of `window` (lists, buttons, boxes, check boxes, group
// boxes) whose frame misses a side in the window's rendering at the process's
// scale, as "at device pixel ratio 1.5: File2: right bottom"; empty when none.
[[nodiscard]] QString unframedControls(QWidget* window);

// Answers the next modal message box with `button` and returns at once; the
// box's text is stored in `text` when given. `before` runs while the box is
// open, just before it is answered.
void answerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr,
                          std::function<void()> before = {});

// Drags `data` onto `target` and drops it there if the target takes it, as a
// file manager's drag would; returns whether it took it. Work the drop queued
// has run when this returns.
[[nodiscard]] bool dropOn(QWidget* target, const QMimeData& data);

// While alive, the kernel refuses every new inotify watch with `error`
// (ENOSPC: the system ran out of watches). The window tests define
// inotify_add_watch themselves, so the lists' calls reach this seam first.
class WatchFault {
public:
    explicit WatchFault(int error);
    ~WatchFault();
    WatchFault(const WatchFault&) = delete;
    WatchFault& operator=(const WatchFault&) = delete;
};

// Notes each dialog that appears showing a progress bar (a progress dialog,
// Image Details while it reads) and, when asked, presses its Cancel button
// as soon as the event loop runs again.
class ProgressWatcher : public QObject {
public:
    explicit ProgressWatcher(bool cancel);

    int shown = 0;
    int maximum = -1;
    bool hadCancelButton = false;
    bool labelIsPlainText = false; // the label may show a title read from an image
    Qt::WindowModality modality = Qt::NonModal;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool cancel_;
};

} // namespace kelvo::test
