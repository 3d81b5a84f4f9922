// The program's two windows, wired as main() wires them and driven with real
// mouse and key events. Every message box is answered as it opens, and every
// failure either window reports is kept.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kelvo {
class DirectoryList;
class HeaderWindow;
class RomListWindow;
} // namespace kelvo

namespace kelvo::test {

class ProgramDriver : public QObject {
public:
    // Opens the header window in the working directory, then the list window
    // through the header window's menu.
    ProgramDriver();
    ~ProgramDriver() override;

    [[nodiscard]] HeaderWindow& header() const { return *header_; }
    [[nodiscard]] RomListWindow& list() const { return *list_; }

    // Browses a window's directory list to `path` by double-clicking the
    // entries on the way, as a user would. False when it cannot get there.
    [[nodiscard]] bool browseHeaderTo(const QByteArray& path);
    [[nodiscard]] bool browseListTo(const QByteArray& path);

    // The names the header window's and the list window's file lists show.
    [[nodiscard]] const std::vector<std::string>& headerFiles() const;
    [[nodiscard]] const std::vector<std::string>& listFiles() const;
    // The text the header window's file list shows for a listed name.
    [[nodiscard]] QString shownName(const QByteArray& name) const;

    // Clicks a listed name in the header window; false when it is not listed.
    [[nodiscard]] bool clickFile(const QByteArray& name);
    // Replaces the title box's text key by key, as a keyboard would type it.
    void typeTitle(const QString& title);
    // Press the buttons; false when the button is disabled.
    [[nodiscard]] bool pressEdit();
    [[nodiscard]] bool pressRename();
    void pressMakeList();

    // A header-window value label's text, or the title box's.
    [[nodiscard]] QString shownText(const char* name) const;
    [[nodiscard]] QString listStatus() const;

    // Failures reported by either window since the last call, in order.
    [[nodiscard]] QStringList takeFailures();
    // Yes/no questions asked, in order; each answered by the next queued
    // answer, or "No" when none is queued.
    [[nodiscard]] const QStringList& questions() const { return questions_; }
    void queueAnswer(QMessageBox::StandardButton answer) { answers_.push_back(answer); }

private:
    void answerOpenBox();

    std::unique_ptr<HeaderWindow> header_;
    RomListWindow* list_ = nullptr;
    QTimer boxWatch_;
    QStringList failures_;
    qsizetype failuresTaken_ = 0;
    QStringList questions_;
    std::deque<QMessageBox::StandardButton> answers_;
};

} // namespace kelvo::test
