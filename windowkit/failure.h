// The one way a failure reaches the user: a modal message box titled
// "Kelvo-GBA" carrying the error's text (operation, path, system reason).
#pragma once

#include <QString>

#include <exception>
#include <optional>

class QWidget;

namespace kelvo {

inline constexpr const char* kProgramName = "Kelvo-GBA";

// `details`, when given, is a longer text behind the box's "Show Details..."
// button: every line of a list the message names only the start of.
void showFailure(QWidget* parent, const QString& message, const QString& details = {});

// Tells the user something that needs no answer.
void showInformation(QWidget* parent, const QString& message, const QString& details = {});

// Asks a yes/no question with "No" as the default answer.
[[nodiscard]] bool confirm(QWidget* parent, const QString& question, const QString& details = {});

// Runs one handler; returns the text of the failure that stopped it, if any.
// Errors never cross Qt's event loop as exceptions: every handler goes through this.
template <typename Handler> std::optional<QString> attempt(Handler&& handler) {
    try {
        handler();
        return std::nullopt;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
}

} // namespace kelvo
