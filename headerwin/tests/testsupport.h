// Shared by the window tests: sample images built in code, and answering the
// modal message boxes the windows raise.
#pragma once

#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::test {

struct ImageSpec {
    std::string title = "SAMPLE TITLE"; // up to 12 bytes, NUL-padded
    std::string gameCode = "AXYJ";      // 4 bytes at 0xAC
    std::string maker = "01";           // 2 bytes at 0xB0
    std::int64_t size = 4194304;
    bool validCheck = true;
};

// Writes an image (sparse past the header) and returns its bytes' header part.
void writeImage(const QString& path, const ImageSpec& image = {});
[[nodiscard]] std::vector<std::uint8_t> readBytes(const QString& path);
void writeBytes(const QString& path, const std::vector<std::uint8_t>& bytes);

// Answers the next modal message box with `button` and returns at once; the
// box's text is stored in `text` when given.
void answerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr);

} // namespace kelvo::test
