#include "windowkit/progress.h"

#include "romheader/termination.h"
#include "windowkit/failure.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressDialog>

#include <limits>

namespace kelvo {

namespace {
int longOperations = 0; // UI thread only
} // namespace

LongOperation::LongOperation() {
    ++longOperations;
}

LongOperation::~LongOperation() {
    --longOperations;
}

bool LongOperation::running() {
    return longOperations > 0;
}

WaitsAsSteps::WaitsAsSteps(std::function<bool()> step)
    : step_(std::move(step)), previous_(setWaitObserver(this)) {}

WaitsAsSteps::~WaitsAsSteps() {
    setWaitObserver(previous_);
}

DelayedProgress::DelayedProgress(QWidget* parent, QString label, int delayMs)
    : parent_(parent), label_(std::move(label)), delayMs_(delayMs) {
    clock_.start();
}

DelayedProgress::~DelayedProgress() = default;

bool DelayedProgress::step(std::uint64_t done, std::uint64_t total) {
    if (terminationRequested())
        return false;
    if (!dialog_) {
        if (clock_.elapsed() < delayMs_)
            return true;
        constexpr auto kLargest = std::uint64_t(std::numeric_limits<int>::max());
        scale_ = total / kLargest + 1;
        dialog_ = std::make_unique<QProgressDialog>(label_, QStringLiteral("Cancel"), 0,
                                                    int(total / scale_), parent_);
        // The label can carry a title read from an image: never markup.
        auto* label = new QLabel(label_);
        label->setTextFormat(Qt::PlainText);
        dialog_->setLabel(label);
        dialog_->setWindowTitle(QString::fromLatin1(kProgramName));
        // Modal to the whole program: the other window must not start
        // another operation, or take the lists away, meanwhile.
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setMinimumDuration(0);
        dialog_->setMinimumWidth(dialog_->fontMetrics().averageCharWidth() * 40);
        // Stays at its end while the work finishes (a sync can take a while)
        // and goes when the work does.
        dialog_->setAutoReset(false);
        dialog_->setAutoClose(false);
        dialog_->show();
    }
    dialog_->setValue(int(done / scale_));
    QCoreApplication::processEvents();
    return !dialog_->wasCanceled() && !terminationRequested();
}

} // namespace kelvo
