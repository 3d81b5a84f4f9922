// What the header window's status line says: one sentence per action,
// naming its file, its essentials first.
#include "headerwin/headerwindow.h"

#include "windowkit/browsing.h"
#include "windowkit/directorylist.h"
#include "windowkit/filelist.h"
#include "windowkit/windowkit.h"

#include <QLineEdit>
#include <QStatusBar>

namespace kelvo {

void HeaderWindow::showStatus(const QString& text) {
    statusText_ = text;
    QStatusBar* bar = statusBar();
    // One line, its essentials first: what does not fit is elided there and
    // shown whole in the tooltip; screen readers get the whole sentence.
    // QStatusBar draws its message 6 pixels in from the left and 12 from the right.
    bar->showMessage(bar->fontMetrics().elidedText(text, Qt::ElideRight, bar->width() - 18));
    bar->setToolTip(text);
    bar->setAccessibleName(text);
}

QString HeaderWindow::statusText() const {
    return statusText_;
}

void HeaderWindow::tellTitleRefused(const QString& unstorable, const QString& pastLimit) {
    // Typed one key at a time, each refusal adds to the one still shown,
    // so every character left out is named, as for a paste.
    if (refusalStatus_.isEmpty() || statusText_ != refusalStatus_) {
        refusedUnstorable_.clear();
        refusedPastLimit_.clear();
    }
    refusedUnstorable_ += unstorable;
    refusedPastLimit_ += pastLimit;
    const QString notInSet = QStringLiteral("not in the one-byte character set (Windows-1252)");
    const QString tooMany = QStringLiteral("a title holds at most %1 characters").arg(kTitleWidth);
    if (refusedPastLimit_.isEmpty())
        refusalStatus_ = QStringLiteral("Left out \"%1\": %2.").arg(refusedUnstorable_, notInSet);
    else if (refusedUnstorable_.isEmpty())
        refusalStatus_ = QStringLiteral("Left out \"%1\": %2.").arg(refusedPastLimit_, tooMany);
    else
        refusalStatus_ = QStringLiteral("Left out \"%1\", %2, and \"%3\": %4.")
                             .arg(refusedUnstorable_, notInSet, refusedPastLimit_, tooMany);
    showStatus(refusalStatus_);
}

void HeaderWindow::tellNotFollowed(const QString& message) {
    // Both lists watch the directory shown: what the second says is said already.
    if (message != statusText_)
        showStatus(message);
}

QString HeaderWindow::writtenStatus(const TitleWritten& written) const {
    QString what;
    if (written.checkWasValid)
        what = QStringLiteral("; check kept valid.");
    else if (written.header.checkValid())
        what =
            QStringLiteral("; its wrong check byte, left as it was, is right for the new title.");
    else
        what = QStringLiteral("; its check was already wrong and is left as it was "
                              "(\"Repair Header\" in the Image menu can mend it).");
    return QStringLiteral("Wrote \"%1\" to %2")
               .arg(txtheader->text(), displayText(baseName(romPath))) +
           what;
}

QString HeaderWindow::copiedStatus(const std::string& target) const {
    QString copied = QStringLiteral("Copied %1 to %2")
                         .arg(displayText(baseName(romPath)), displayText(baseName(target)));
    if (File1->Path() != Dir1->Path())
        copied += QStringLiteral(" in %1").arg(displayText(File1->Path()));
    return copied + QLatin1Char('.');
}

} // namespace kelvo
