#include "listwin/romlistwindow.h"

#include "checksumwin/loadedlists.h"
#include "checksumwin/verification.h"
#include "windowkit/browsing.h"
#include "windowkit/directorylist.h"
#include "windowkit/drivelist.h"
#include "windowkit/failure.h"
#include "windowkit/filelist.h"
#include "windowkit/opening.h"
#include "windowkit/twipslayout.h"
#include "windowkit/windowkit.h"
#include "romheader/termination.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace kelvo {

namespace {

constexpr int kClientWidth = 4680;
constexpr int kClientHeight = 4560;
// At most this many unreadable files are named in the report.
constexpr std::size_t kUnreadableShown = 10;

// An option's caption, the only text its check box has: a click on it
// toggles the box, as a check box's own text would, and it shows the box's
// keyboard focus as the box would show it around that text.
class OptionCaption : public QLabel {
public:
    OptionCaption(const QString& text, QCheckBox* box, QWidget* parent)
        : QLabel(text, parent), box_(box) {
        setBuddy(box);
        box->installEventFilter(this);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            box_->isEnabled()) {
            box_->setFocus(Qt::MouseFocusReason);
            box_->click();
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            update();
        return QLabel::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!box_->hasFocus())
            return;
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(box_); // the style decides, as for the box, whether focus shows
        option.rect =
            style()
                ->itemTextRect(fontMetrics(), contentsRect(), int(alignment()), true, text())
                .adjusted(-1, 0, 1, 0) &
            rect();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }

private:
    QCheckBox* box_;
};

} // namespace

RomListWindow::RomListWindow(QWidget* parent, LoadedLists* lists)
    : QWidget(parent, Qt::Window), lists_(lists) {
    setWindowTitle(QStringLiteral("ROM List Generator"));
    createControls();
    layOutControls();
    connectHandlers();
    Form_Load();
}

void RomListWindow::createControls() {
    // Each option is a caption on the left and a bare check box to its right;
    // the box is named after its caption for screen readers.
    const auto option = [this](const char* labelName, const char* caption, const char* boxName,
                               const char* hiddenCaption, QLabel*& label, QCheckBox*& box) {
        box = makeNamed<QCheckBox>(boxName, this);
        label = makeNamed<OptionCaption>(labelName, this, QString::fromLatin1(caption), box);
        box->setAccessibleName(QString::fromLatin1(caption));
        box->setAccessibleDescription(QString::fromLatin1(hiddenCaption));
    };
    option("Label1", "Filename", "chkFile", "Check1", Label1, chkFile);
    option("Label2", "Header", "chkHead", "Check2", Label2, chkHead);
    option("Label3", "Cart ID", "chkCart", "Check5", Label3, chkCart);
    option("Label4", "Size (Bytes)", "chkBytes", "Check3", Label4, chkBytes);
    option("Label5", "Size (Mbit)", "chkSize", "Check4", Label5, chkSize);
    option("Label6", "Publisher", "chkPub", "Check6", Label6, chkPub);
    option("Label7", "List Name", "chkList", "Check7", Label7, chkList);

    Drive2 = makeNamed<DriveList>("Drive2", this);
    cmdMake = makeNamed<QPushButton>("cmdMake", this, QStringLiteral("Make List"));
    cmdBack = makeNamed<QPushButton>("cmdBack", this, QStringLiteral("Back"));
    Dir2 = makeNamed<DirectoryList>("Dir2", this);
    File2 = makeNamed<FileList>("File2", this);
    txtRom = makeNamed<QLineEdit>("txtRom", this);
    txtRom->setAccessibleName(QStringLiteral("Notes"));
    lblStatus = makeNamed<QLabel>("lblStatus", this);
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setAccessibleDescription(QStringLiteral("Status"));
    // A directory dropped anywhere on the window, the notes box included, opens it.
    setAcceptDrops(true);
    txtRom->setAcceptDrops(false);

    QWidget* const order[] = {cmdBack, chkFile, chkHead, chkBytes, chkSize, chkCart, chkPub,
                              chkList, cmdMake, Dir2,    Drive2,   File2,   txtRom};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    cmdBack->setFocus();
}

void RomListWindow::layOutControls() {
    TwipsLayout layout;
    layout.place(Label1, 120, 120, 855, 255);
    layout.place(chkFile, 1200, 120, 255, 255);
    layout.place(Label2, 120, 480, 855, 255);
    layout.place(chkHead, 1200, 480, 255, 255);
    layout.place(Label3, 120, 840, 855, 255);
    layout.place(chkCart, 1200, 840, 255, 255);
    layout.place(Label4, 120, 1200, 975, 255);
    layout.place(chkBytes, 1200, 1200, 255, 255);
    layout.place(Label5, 120, 1560, 975, 255);
    layout.place(chkSize, 1200, 1560, 255, 255);
    layout.place(Label6, 120, 1920, 975, 255);
    layout.place(chkPub, 1200, 1920, 255, 255);
    layout.place(Label7, 120, 2280, 975, 255);
    layout.place(chkList, 1200, 2280, 255, 255);
    layout.place(Drive2, 1560, 120, 1095, 315);
    layout.place(cmdMake, 1560, 1320, 975, 375);
    layout.place(cmdBack, 1560, 1800, 975, 375);
    // Ends at the client's right edge so its frame stays visible.
    layout.place(Dir2, 2760, 120, kClientWidth - 2760, 2115);
    layout.place(File2, 120, 2880, 4455, 1065);
    layout.place(txtRom, 120, 4080, 1215, 285);
    layout.place(lblStatus, 1440, 4080, 3135, 285);

    for (QLabel* caption : {Label1, Label2, Label3, Label4, Label5, Label6, Label7})
        layout.mustFit(caption, {caption->text()});
    layout.mustFit(cmdMake, {cmdMake->text()});
    layout.mustFit(cmdBack, {cmdBack->text()});
    layout.mustFit(Drive2, {QStringLiteral("/")});
    // A check box shows its square alone.
    for (QCheckBox* box : {chkFile, chkHead, chkCart, chkBytes, chkSize, chkPub, chkList})
        layout.mustFit(box, {QString()});

    const double scale = layout.fitScale();
    layout.apply(scale);
    setFixedSize(TwipsLayout::toPixels(QSize(kClientWidth, kClientHeight), scale));

    centerOnScreen(this);
}

void RomListWindow::connectHandlers() {
    const auto route = [this](auto* sender, auto signal, void (RomListWindow::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    };
    route(Drive2, &DriveList::Change, &RomListWindow::Drive2_Change);
    route(Dir2, &DirectoryList::Change, &RomListWindow::Dir2_Change);
    route(cmdMake, &QPushButton::clicked, &RomListWindow::cmdMake_Click);
    route(cmdBack, &QPushButton::clicked, &RomListWindow::cmdBack_Click);
    connect(Dir2, &DirectoryList::failed, this, &RomListWindow::reportFailure);
    connect(Drive2, &DriveList::Removed, this, &RomListWindow::driveRemoved);
    connect(Dir2, &DirectoryList::Left, this, &RomListWindow::showStatus);
    connect(Dir2, &DirectoryList::notFollowed, this, &RomListWindow::tellNotFollowed);
    connect(File2, &FileList::notFollowed, this, &RomListWindow::tellNotFollowed);
    // Escape puts the window away as Back does; F5 re-reads the lists.
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, cmdBack,
            &QPushButton::click);
    connect(new QShortcut(QKeySequence::Refresh, this), &QShortcut::activated, this,
            [this] { guarded([this] { refreshLists(); }); });
}

void RomListWindow::refreshLists() {
    Dir2->followDisk();
    File2->Refresh();
}

template <typename Handler> void RomListWindow::guarded(Handler&& handler) {
    if (const auto failure = attempt(std::forward<Handler>(handler)))
        reportFailure(*failure);
}

void RomListWindow::reportFailure(const QString& message) {
    emit failureReported(message);
    showFailure(this, message);
}

void RomListWindow::Form_Load() {
    // List Name reads every image whole: it waits to be asked for.
    for (QCheckBox* box : {chkFile, chkHead, chkCart, chkBytes, chkSize, chkPub})
        box->setChecked(true);
    guarded([this] { File2->setPattern("*.bin"); });
}

void RomListWindow::Drive2_Change() {
    if (Drive2->ListCount() == 0)
        return;
    Dir2->setPath(Drive2->currentDirectoryOf(Drive2->Drive()));
}

void RomListWindow::Dir2_Change() {
    File2->setPath(Dir2->Path());
}

void RomListWindow::driveRemoved(const std::string& root) {
    // Lists that show a directory of another drive stay where they are.
    if (!holdsPath(root, Dir2->Path())) {
        showStatus(QStringLiteral("%1 was removed.").arg(displayText(root)));
        return;
    }
    showStatus(QStringLiteral("%1 was removed; the lists show / now.").arg(displayText(root)));
    guarded([this] { Dir2->setPath("/"); });
}

void RomListWindow::dragEnterEvent(QDragEnterEvent* event) {
    const auto dropped = droppedPath(event->mimeData());
    if (dropped && dropped->kind == PathKind::Directory)
        event->acceptProposedAction();
}

void RomListWindow::dropEvent(QDropEvent* event) {
    const auto dropped = droppedPath(event->mimeData());
    if (!dropped || dropped->kind != PathKind::Directory)
        return;
    event->acceptProposedAction();
    // After the drop has ended, as a failure raises a message box.
    QMetaObject::invokeMethod(
        this, [this, path = dropped->path] { guarded([&] { browseTo(*Drive2, *Dir2, path); }); },
        Qt::QueuedConnection);
}

std::vector<Column> RomListWindow::chosenColumns() const {
    const std::pair<const QCheckBox*, Column> options[] = {
        {chkFile, Column::Filename},   {chkHead, Column::Header},   {chkCart, Column::CartId},
        {chkBytes, Column::SizeBytes}, {chkSize, Column::SizeMbit}, {chkPub, Column::Publisher},
        {chkList, Column::ListName}};
    std::vector<Column> columns;
    for (const auto& [box, column] : options) {
        if (box->isChecked())
            columns.push_back(column);
    }
    return columns;
}

std::string RomListWindow::listFilePath() {
    return joinPath(requireWorkingDirectory(), "list.txt");
}

bool RomListWindow::collectEntries(std::vector<ListEntry>& entries,
                                   std::vector<std::string>& unreadable, bool withListNames) {
    // A copy: the lists can change while the progress dialog lets events in
    // (a drive removed moves them), and one run lists one directory.
    const std::vector<std::string> names = File2->names();
    const std::string directory = File2->Path();
    entries.reserve(names.size());
    DelayedProgress progress(this,
                             withListNames ? QStringLiteral("Checking images against the lists...")
                                           : QStringLiteral("Reading headers..."),
                             progressDelayMs_);
    std::size_t i = 0;
    // A file another program holds a lease on makes its read wait: the wait
    // shows as this run's progress, and Cancel stops the run.
    const WaitsAsSteps waits([&] { return progress.step(i, names.size()); });
    std::shared_ptr<const ListSet> lists;
    HashCache* cache = nullptr;
    if (withListNames && lists_) {
        if (!lists_->waitUntilReady([&] { return progress.step(0, names.size()); }))
            return false;
        lists = lists_->lists();
        cache = lists_->cache()->ifOpen();
    }
    // Every chunk of a large image read keeps the dialog drawn and Cancel heard.
    const Progress hashing = [&](std::uint64_t, std::uint64_t) {
        return progress.step(i, names.size());
    };

    for (; i < names.size(); ++i) {
        if (terminationRequested())
            return false;
        // Stay on the one UI thread, but keep the window alive on long runs.
        if ((i & 63) == 0 && !progress.step(i, names.size()))
            return false;
        ListEntry& entry = entries.emplace_back();
        entry.name = names[i];
        try {
            const std::string path = joinPath(directory, names[i]);
            RomHeader header;
            readHeader(path, header);
            entry.header = header;
            if (withListNames) {
                const ImageVerdict verdict = verifyImage(path, lists, cache, hashing);
                if (const ListMatch* match = verdict.first())
                    entry.listName = match->rom->name;
            }
        } catch (const FileError& error) {
            if (error.kind() == FileError::Kind::Cancelled)
                return false;
            unreadable.push_back(error.what());
        }
    }
    return true;
}

void RomListWindow::cmdMake_Click() {
    // A status left from an earlier press must not sit beside this one's failure.
    showStatus(QString());
    const std::vector<Column> columns = chosenColumns();
    std::vector<ListEntry> entries;
    std::vector<std::string> unreadable;
    const std::string path = listFilePath();
    {
        // A termination signal during the run stops it, nothing appended, and
        // ends the program when the guard goes.
        const TerminationGuard termination;
        if (columns.empty()) {
            // The count line alone needs no file read.
            for (const std::string& name : File2->names())
                entries.emplace_back(name);
        } else if (!collectEntries(entries, unreadable,
                                   std::find(columns.begin(), columns.end(), Column::ListName) !=
                                       columns.end())) {
            showStatus(QStringLiteral("Cancelled; nothing was written."));
            return;
        }
        if (terminationRequested())
            return;
        // Another program holding list.txt's lock makes the append wait; a
        // long wait shows and can be cancelled like the reading.
        DelayedProgress waiting(this, QStringLiteral("Waiting for list.txt to be free..."),
                                progressDelayMs_);
        try {
            appendToFile(path, formatListBlock(columns, entries),
                         [&waiting](std::uint64_t, std::uint64_t) { return waiting.step(0, 0); });
        } catch (const FileError& error) {
            if (error.kind() != FileError::Kind::Cancelled)
                throw;
            showStatus(QStringLiteral("Cancelled; nothing was written."));
            return;
        }
    }
    showStatus(QStringLiteral("Listed %1 files in %2").arg(entries.size()).arg(fromUtf8(path)));

    if (!unreadable.empty()) {
        QString report =
            QStringLiteral("%1 files could not be read; they are listed without header values:")
                .arg(unreadable.size());
        for (std::size_t i = 0; i < std::min(unreadable.size(), kUnreadableShown); ++i)
            report += QLatin1Char('\n') + fromUtf8(unreadable[i]);
        if (unreadable.size() > kUnreadableShown)
            report += QStringLiteral("\n... and %1 more").arg(unreadable.size() - kUnreadableShown);
        reportFailure(report);
    }
}

void RomListWindow::cmdBack_Click() {
    hide();
}

void RomListWindow::showStatus(const QString& text) {
    statusFull_ = text;
    const int width = lblStatus->contentsRect().width();
    lblStatus->setText(lblStatus->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
    lblStatus->setToolTip(text);
    lblStatus->setAccessibleName(text);
}

void RomListWindow::tellNotFollowed(const QString& message) {
    // Both lists watch the directory shown: what the second says is said already.
    if (message != statusFull_)
        showStatus(message);
}

QString RomListWindow::statusText() const {
    return statusFull_;
}

} // namespace kelvo
