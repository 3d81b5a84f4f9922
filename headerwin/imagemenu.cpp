// The header window's Image menu: Image Details and Repair Header, for the
// image whose header is shown.
#include "headerwin/headerwindow.h"

#include "windowkit/failure.h"
#include "headerwin/imagedetailsdialog.h"
#include "windowkit/progress.h"
#include "windowkit/windowkit.h"
#include "romheader/imageinfo.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>

namespace kelvo {

namespace {

NumberStyle localeNumbers() {
    const QLocale locale;
    return {[locale](std::uint64_t n) { return locale.toString(qulonglong(n)).toStdString(); },
            locale.decimalPoint().toStdString()};
}

} // namespace

void HeaderWindow::createImageMenu() {
    QMenu* image = menuBar()->addMenu(QStringLiteral("&Image"));
    imageDetailsAction_ = image->addAction(QStringLiteral("Image Details..."), this,
                                           [this] { guarded([this] { showImageDetails(); }); });
    imageDetailsAction_->setObjectName(QStringLiteral("actImageDetails"));
    imageDetailsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    repairAction_ = image->addAction(QStringLiteral("Repair Header..."), this,
                                     [this] { guarded([this] { repairShownHeader(); }); });
    repairAction_->setObjectName(QStringLiteral("actRepairHeader"));
    showImageExtras(nullptr);
}

void HeaderWindow::showImageExtras(const RomHeader* shown) {
    imageDetailsAction_->setEnabled(shown != nullptr);
    repairAction_->setEnabled(shown != nullptr);
    QString company;
    if (shown) {
        const std::string_view name = makerName(shown->makerCode);
        company = name.empty() ? QStringLiteral("Unknown company")
                               : QString::fromUtf8(name.data(), qsizetype(name.size()));
    }
    lblman->setToolTip(company);
}

void HeaderWindow::showImageDetails() {
    const std::string path = romPath;
    QPointer<ImageDetailsDialog> dialog = new ImageDetailsDialog(fromUtf8(baseName(path)), this);
    dialog->setWindowModality(Qt::WindowModal);

    // The dialog appears with a progress bar only when reading takes a while;
    // until then the window stays as it was.
    const LongOperation operation;
    QElapsedTimer clock;
    clock.start();
    const Progress progress = [&](std::uint64_t done, std::uint64_t total) {
        if (!dialog)
            return false;
        if (clock.elapsed() < progressDelayMs_)
            return true;
        dialog->showProgress(done, total);
        dialog->show();
        QCoreApplication::processEvents();
        return dialog && !dialog->cancelled();
    };
    ImageScan scan;
    bool cancelled = false;
    const auto failure = attempt([&] {
        try {
            scan = scanImage(path, progress);
        } catch (const FileError& error) {
            if (error.kind() != FileError::Kind::Cancelled)
                throw;
            cancelled = true;
        }
    });
    if (failure || cancelled || !dialog) {
        delete dialog;
        if (failure)
            reportFailure(*failure);
        return;
    }
    dialog->setRows(imageDetails(path, scan, localeNumbers()));
    connect(dialog, &ImageDetailsDialog::copied, this, [this](int rows) {
        showStatus(QStringLiteral("Copied %1 rows to the clipboard.").arg(rows));
    });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void HeaderWindow::repairShownHeader() {
    const FileIdentity shown = shownIdentity("repair");
    const std::string path = romPath;
    const QString name = fromUtf8(baseName(path));
    const RepairPlan plan = planRepair(path);
    const QString logoNote =
        plan.logoValid ? QString()
                       : QStringLiteral("\n\nIts boot logo (bytes 0x04 to 0x9F) is not the "
                                        "console's. Repair Header cannot mend that: a real "
                                        "console will still refuse this image.");
    if (plan.changes.empty()) {
        showInformation(
            this, plan.logoValid
                      ? QStringLiteral("The header of %1 needs no repair: its fixed value and "
                                       "check byte are right.")
                            .arg(name)
                      : QStringLiteral("The bytes Repair Header can mend in %1 are right: its "
                                       "fixed value and check byte.\n\nIts boot logo (bytes 0x04 "
                                       "to 0x9F) is not the console's, and Repair Header cannot "
                                       "mend a logo: a real console will refuse this image.")
                            .arg(name));
        return;
    }

    QString question =
        QStringLiteral("Repair the header of %1?\n\nThese bytes will change:\n").arg(name);
    for (const HeaderChange& change : plan.changes)
        question += QStringLiteral("\n") + fromUtf8(changeText(change));
    // While the question was open the image may have gone away with its header.
    if (!confirm(this, question + logoNote) || !headerShown_)
        return;

    repairHeader(path, plan, &shown);
    readHeader(path, header);
    showCheck(header);
    showStatus(QStringLiteral("Repaired the header of %1; its check byte is valid.%2")
                   .arg(name, plan.logoValid
                                  ? QString()
                                  : QStringLiteral(" Its boot logo is still not the console's.")));
}

} // namespace kelvo
