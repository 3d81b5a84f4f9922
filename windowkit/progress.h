// Progress of a long operation run on the UI thread (a copy, reading a
// directory's headers). Nothing is shown while the operation is quick; once
// it has run for a while a window-modal dialog with Cancel appears, and from
// then on every step redraws it and lets the windows repaint.
#pragma once

#include "romheader/romheader.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace kelvo {

// How long an operation runs before its progress is shown.
inline constexpr int kProgressAfterMs = 500;

// While one lives, a long operation runs on the UI thread and lets events
// through to keep its progress drawn. The lists hold back what they would
// re-read from the disk (a changed directory, a new mount) until it ends, so
// nothing they show changes under the operation.
class LongOperation {
public:
    LongOperation();
    ~LongOperation();
    LongOperation(const LongOperation&) = delete;
    LongOperation& operator=(const LongOperation&) = delete;

    [[nodiscard]] static bool running();
};

// While one lives, an open that waits for another program's lease (see
// WaitObserver in romheader.h) asks `step` whether to go on, in place of the
// program's own waiting dialog: an operation with a progress window keeps
// showing it during the wait, and its Cancel gives the wait up.
class WaitsAsSteps final : public WaitObserver {
public:
    explicit WaitsAsSteps(std::function<bool()> step);
    ~WaitsAsSteps() override;
    WaitsAsSteps(const WaitsAsSteps&) = delete;
    WaitsAsSteps& operator=(const WaitsAsSteps&) = delete;

    bool goOn(const std::string&) override { return step_(); }
    void waitEnded() override {}

private:
    std::function<bool()> step_;
    WaitObserver* previous_;
};

class DelayedProgress {
public:
    DelayedProgress(QWidget* parent, QString label, int delayMs = kProgressAfterMs);
    ~DelayedProgress();
    DelayedProgress(const DelayedProgress&) = delete;
    DelayedProgress& operator=(const DelayedProgress&) = delete;

    // Reports `done` of `total`; false once the user pressed Cancel or a
    // termination signal arrived (see termination.h).
    [[nodiscard]] bool step(std::uint64_t done, std::uint64_t total);

private:
    LongOperation operation_;
    QWidget* parent_;
    QString label_;
    int delayMs_;
    QElapsedTimer clock_;
    std::unique_ptr<QProgressDialog> dialog_;
    std::uint64_t scale_ = 1; // the dialog counts in ints; byte totals are divided down
};

} // namespace kelvo
