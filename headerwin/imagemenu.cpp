// The header window's Image menu: Image Details, Repair Header, Trim
// Padding and Pad To Power Of Two, for the image whose header is shown (the
// entries that act on its checksum-list match are in headerlists.cpp).
#include "headerwin/headerwindow.h"

#include "checksumwin/loadedlists.h"
#include "romheader/dirlist.h"
#include "romheader/imageedit.h"
#include "windowkit/browsing.h"
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
    image->addSeparator();
    trimAction_ = image->addAction(QStringLiteral("Trim Padding..."), this,
                                   [this] { guarded([this] { trimShownImage(); }); });
    trimAction_->setObjectName(QStringLiteral("actTrimPadding"));
    padAction_ = image->addAction(QStringLiteral("Pad To Power Of Two..."), this,
                                  [this] { guarded([this] { padShownImage(); }); });
    padAction_->setObjectName(QStringLiteral("actPadToPowerOfTwo"));
    image->addSeparator();
    renameToListAction_ = image->addAction(QStringLiteral("Rename To List Name"), this,
                                           [this] { guarded([this] { renameToListName(); }); });
    renameToListAction_->setObjectName(QStringLiteral("actRenameToList"));
    restorePaddingAction_ = image->addAction(QStringLiteral("Restore Padding..."), this,
                                             [this] { guarded([this] { restorePadding(); }); });
    restorePaddingAction_->setObjectName(QStringLiteral("actRestorePadding"));
    showImageExtras(nullptr);
    updateListActions();
}

void HeaderWindow::showImageExtras(const RomHeader* shown) {
    for (QAction* action : {imageDetailsAction_, repairAction_, trimAction_, padAction_})
        action->setEnabled(shown != nullptr);
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
    ImageVerdict verdict;
    bool cancelled = false;
    const auto failure = attempt([&] {
        try {
            // Lists still being read, and the cache being opened off this
            // thread, are waited for.
            HashCache* cache = nullptr;
            std::shared_ptr<const ListSet> lists;
            if (lists_) {
                if (!lists_->waitUntilReady([&] { return progress(0, 1); })) {
                    cancelled = true;
                    return;
                }
                cache = lists_->cache()->ifOpen();
                lists = lists_->lists();
            }
            verdict = verifyImage(path, lists, cache, progress);
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
    std::vector<DetailRow> rows = imageDetails(path, verdict.scan, localeNumbers());
    for (DetailRow& row : listDetails(verdict))
        rows.push_back(std::move(row));
    dialog->setRows(rows);
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

namespace {

QString grouped(std::uint64_t count) {
    return QLocale().toString(qulonglong(count));
}

// A plan made from the file the path names now must be of the file shown.
void requireShown(const FileState& planned, const FileIdentity& shown, const char* operation,
                  const std::string& path) {
    if (planned.identity != shown)
        throw FileError(FileError::Kind::Changed, operation, path,
                        "It was replaced by another file since its header was shown; nothing "
                        "was written");
}

} // namespace

void HeaderWindow::trimShownImage() {
    const FileIdentity shown = shownIdentity("trim");
    const std::string path = romPath;
    const QString name = displayText(baseName(path));
    const TrimPlan plan = planTrim(path);
    requireShown(plan.state, shown, "trim", path);
    if (plan.count() == 0) {
        showInformation(this, QStringLiteral("%1 ends in no padding to trim: padding is a run "
                                             "of at least 1 KiB of 0xFF or 0x00.")
                                  .arg(name));
        return;
    }
    const QString value = fromUtf8(byteText(plan.value));
    if (!confirm(this, QStringLiteral("Trim the padding of %1?\n\n%2 bytes of %3 will be cut "
                                      "from its end, leaving %4 bytes.")
                           .arg(name, grouped(plan.count()), value, grouped(plan.sizeAfter))) ||
        !headerShown_ || romPath != path)
        return;
    trimImage(path, plan);
    showRewrittenImage();
    showStatus(
        QStringLiteral("Trimmed %1 bytes of %2 from %3.").arg(grouped(plan.count()), value, name));
}

void HeaderWindow::padShownImage() {
    const FileIdentity shown = shownIdentity("pad");
    const std::string path = romPath;
    const QString name = displayText(baseName(path));
    const PadPlan plan = planPad(path);
    requireShown(plan.state, shown, "pad", path);
    if (plan.count == 0) {
        showInformation(this, QStringLiteral("%1 is %2 bytes long, a power of two already: "
                                             "there is nothing to pad.")
                                  .arg(name, grouped(plan.state.size)));
        return;
    }
    const QString value = fromUtf8(byteText(plan.value));
    if (!confirm(this, QStringLiteral("Pad %1 to a power of two?\n\n%2 bytes of %3 will be "
                                      "appended, making it %4 bytes long.")
                           .arg(name, grouped(plan.count), value, grouped(plan.sizeAfter()))) ||
        !headerShown_ || romPath != path)
        return;
    appendBytes(path, plan.count, plan.value, plan.state);
    showRewrittenImage();
    showStatus(
        QStringLiteral("Padded %1 with %2 bytes of %3.").arg(name, grouped(plan.count), value));
}

} // namespace kelvo
