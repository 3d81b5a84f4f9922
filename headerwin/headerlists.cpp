// The header window and the checksum lists: the List row below the IMAGE
// INFO group, File > Checksum Lists..., and the Image menu's Rename To List
// Name and Restore Padding, which act on the shown image's match.
#include "headerwin/headerwindow.h"

#include "checksumwin/checksumlistsdialog.h"
#include "checksumwin/imagecheck.h"
#include "checksumwin/loadedlists.h"
#include "romheader/dirlist.h"
#include "romheader/rename.h"
#include "windowkit/browsing.h"
#include "windowkit/directorywatch.h"
#include "windowkit/filelist.h"
#include "windowkit/windowkit.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QScopedValueRollback>
#include <QStringList>

namespace kelvo {

namespace {

QString grouped(std::uint64_t count) {
    return QLocale().toString(qulonglong(count));
}

} // namespace

void HeaderWindow::setLoadedLists(LoadedLists* lists) {
    lists_ = lists;
    listCheck_ = new ImageCheck(lists, this);
    connect(listCheck_, &ImageCheck::finished, this, &HeaderWindow::showVerdict);
    connect(listCheck_, &ImageCheck::failed, this, &HeaderWindow::showCheckFailed);
    connect(lists, &LoadedLists::changed, this, &HeaderWindow::listsChanged);
    connect(lists, &LoadedLists::problem, this, &HeaderWindow::showStatus);
    checksumListsAction_->setEnabled(true);
    listsChanged();
}

void HeaderWindow::showChecksumLists() {
    if (!lists_)
        return;
    if (!listsDialog_) {
        listsDialog_ = new ChecksumListsDialog(lists_, this);
        listsDialog_->setAttribute(Qt::WA_DeleteOnClose);
        connect(listsDialog_, &ChecksumListsDialog::failureReported, this,
                &HeaderWindow::failureReported);
    }
    listsDialog_->show();
    listsDialog_->raise();
    listsDialog_->activateWindow();
}

void HeaderWindow::listsChanged() {
    const bool any = lists_ && lists_->anyListed();
    showListRow(any);
    if (!any) {
        if (listCheck_)
            listCheck_->cancel();
        verdict_.reset();
        updateListActions();
        return;
    }
    // A list added, removed or read again: the shown image's answer may change.
    if (headerShown_ && !listCheck_->busy() &&
        (!verdict_ || (verdict_->lists != lists_->lists() && !lists_->loading())))
        startListCheck();
}

void HeaderWindow::startListCheck() {
    verdict_.reset();
    updateListActions();
    if (!lists_ || !lists_->anyListed() || !headerShown_)
        return;
    lbllist->setText(QStringLiteral("Checking..."));
    lbllist->setToolTip(QString());
    listCheck_->start(romPath);
}

void HeaderWindow::showVerdict(const ImageVerdict& verdict) {
    if (!headerShown_ || verdict.path != romPath || !lists_)
        return;
    // The lists changed while it was read: hold it against them as they are now.
    if (verdict.lists != lists_->lists() && !lists_->loading()) {
        startListCheck();
        return;
    }
    verdict_ = verdict;
    lbllist->setText(fromUtf8(matchSummary(verdict.matches)));
    QStringList described;
    for (const ListMatch& match : verdict.matches)
        described << fromUtf8(matchDescription(match));
    if (described.isEmpty()) {
        for (const auto& list : verdict.lists->lists())
            described << fromUtf8(list->label());
        described.front().prepend(QStringLiteral("Held against: "));
    }
    lbllist->setToolTip(described.join(QLatin1Char('\n')));
    updateListActions();
}

void HeaderWindow::showCheckFailed(const QString& message) {
    if (!headerShown_)
        return;
    lbllist->setText(QStringLiteral("Not checked"));
    lbllist->setToolTip(message);
}

void HeaderWindow::updateListActions() {
    if (!renameToListAction_)
        return;
    const ListMatch* match = headerShown_ && verdict_ ? verdict_->first() : nullptr;
    renameToListAction_->setEnabled(match && match->rom->name != baseName(romPath));
    restorePaddingAction_->setEnabled(match && verdict_->missingPadding());
}

void HeaderWindow::renameToListName() {
    const FileIdentity shown = shownIdentity("rename");
    const ListMatch* match = verdict_ ? verdict_->first() : nullptr;
    if (!match)
        return;
    const std::string oldPath = romPath;
    const std::string newName(match->rom->name);
    std::vector<Rename> renames;
    try {
        renames = renameImage(oldPath, newName, &shown);
    } catch (const FileError& error) {
        if (error.kind() != FileError::Kind::AlreadyExists)
            throw;
        reportFailure(QStringLiteral("%1 already exists in %2; %3 keeps its name.")
                          .arg(displayText(baseName(error.path())), displayText(File1->Path()),
                               displayText(baseName(oldPath))));
        return;
    }
    if (renames.empty())
        return;
    // The header shown is the same file under its new name.
    romPath = renames.front().to;
    verdict_->path = romPath;
    shownFileWatch_->watch(romPath);
    {
        const QScopedValueRollback holdBack(followingRename_, true);
        File1->Refresh();
        if (const int row = File1->rowOf(baseName(romPath)); row >= 0)
            File1->setListIndex(row);
    }
    followShownFile();
    updateListActions();
    QString status = QStringLiteral("Renamed %1 to %2.")
                         .arg(displayText(baseName(oldPath)), displayText(newName));
    for (std::size_t i = 1; i < renames.size(); ++i)
        status +=
            QStringLiteral(" Its save file %1 is now %2.")
                .arg(displayText(baseName(renames[i].from)), displayText(baseName(renames[i].to)));
    showStatus(status);
}

void HeaderWindow::restorePadding() {
    (void)shownIdentity("pad");
    if (!verdict_ || !verdict_->missingPadding())
        return;
    // A copy: the question lets events through, and the check may end meanwhile.
    const ImageVerdict verdict = *verdict_;
    const Padding padding = *verdict.missingPadding();
    const ListMatch& match = *verdict.first();
    const std::uint64_t count = padding.paddedSize - verdict.state.size;
    const QString name = displayText(baseName(verdict.path));
    const QString value = fromUtf8(byteText(padding.byte));
    if (!confirm(this,
                 QStringLiteral("Restore the padding of %1?\n\n%2 bytes of %3 will be "
                                "appended, making it %4 bytes long, as %5 is in %6.")
                     .arg(name, grouped(count), value, grouped(padding.paddedSize),
                          fromUtf8(std::string(match.rom->name)), fromUtf8(match.list->label()))) ||
        !headerShown_ || romPath != verdict.path)
        return;
    // Refused, nothing written, if the file changed since it was hashed.
    appendBytes(verdict.path, count, padding.byte, verdict.state);
    showRewrittenImage();
    showStatus(QStringLiteral("Padded %1 with %2 bytes of %3.").arg(name, grouped(count), value));
}

void HeaderWindow::showRewrittenImage() {
    const QString typed = txtheader->text();
    const bool titleTyped = typed != fromUtf8(visibleText(header.title));
    RomHeader now;
    readHeader(romPath, now);
    header = now;
    showHeader();
    if (titleTyped)
        txtheader->setText(typed);
}

} // namespace kelvo
