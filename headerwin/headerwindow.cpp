#include "headerwin/headerwindow.h"

#include "checksumwin/imagecheck.h"
#include "headerwin/bannerlabel.h"
#include "headerwin/elidedlabel.h"
#include "headerwin/wrappingbutton.h"
#include "romheader/imageinfo.h"
#include "romheader/termination.h"
#include "windowkit/browsing.h"
#include "windowkit/directorylist.h"
#include "windowkit/directorywatch.h"
#include "windowkit/drivelist.h"
#include "windowkit/failure.h"
#include "windowkit/filelist.h"
#include "windowkit/sparingfusion.h"
#include "windowkit/twipslayout.h"
#include "windowkit/windowkit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRawFont>
#include <QStatusBar>

#include <algorithm>
#include <string>
#include <vector>

namespace kelvo {

namespace {

constexpr int kClientWidth = 4680;
constexpr int kClientHeight = 4695;
// The List row below the group, while a checksum list is configured.
constexpr int kListRowHeight = 375;

QLabel* makeCaption(const char* name, const char* text, QWidget* parent) {
    return makeNamed<QLabel>(name, parent, QString::fromLatin1(text));
}

QLabel* makeValue(const char* name, const QLabel* caption, QWidget* parent) {
    return makeValueLabel(name, caption ? caption->text() : QString(), parent);
}

// Images up to 4 GiB.
constexpr std::int64_t kLargestShownImage = std::int64_t(4) << 30;

// The font's own advance, in pixels, of each of `characters` (none when the
// font carries no horizontal metrics table), read from the font's tables
// rather than by loading every glyph: loading, with hinting, costs more than
// the rest of the window's layout together. A character the font lacks reads
// as -1 (another font draws it).
std::vector<qreal> designAdvances(const QFont& font, const QString& characters) {
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray hhea = raw.isValid() ? raw.fontTable("hhea") : QByteArray();
    const QByteArray hmtx = raw.isValid() ? raw.fontTable("hmtx") : QByteArray();
    if (hhea.size() < 36 || hmtx.size() < 4 || raw.unitsPerEm() <= 0)
        return {};
    const auto u16 = [](const QByteArray& table, qsizetype at) {
        return int(std::uint8_t(table[at])) << 8 | int(std::uint8_t(table[at + 1]));
    };
    const int longMetrics = std::min<qsizetype>(u16(hhea, 34), hmtx.size() / 4);
    if (longMetrics <= 0)
        return {};
    const qreal scale = raw.pixelSize() / raw.unitsPerEm();
    std::vector<qreal> advances;
    for (const quint32 glyph : raw.glyphIndexesForString(characters)) {
        const int metric = std::min<int>(int(glyph), longMetrics - 1);
        advances.push_back(glyph == 0 ? -1 : u16(hmtx, 4 * qsizetype(metric)) * scale);
    }
    return advances;
}

// The character a header byte can show widest in `label`'s font, a control
// byte showing as U+FFFD. Measured one character at a time: no shaping. The
// font's tables narrow the field to the few characters within two pixels of
// the widest (hinting moves an advance by less); only those, and any the
// font lacks, are measured as drawn.
QChar widestCharacter(const QLabel* label) {
    QString characters(1, QChar::ReplacementCharacter);
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        const char32_t ch = decodeByte(std::uint8_t(byte));
        // A control character shows as U+FFFD (see printable()).
        if (ch <= 0xFFFF && QChar(char16_t(ch)).category() != QChar::Other_Control)
            characters.append(QChar(char16_t(ch)));
    }
    const std::vector<qreal> design = designAdvances(label->font(), characters);
    const bool narrowed = design.size() == std::size_t(characters.size());
    const qreal widestDesign = narrowed ? *std::max_element(design.begin(), design.end()) : 0;

    const QFontMetrics metrics = label->fontMetrics();
    QChar widest = QChar::ReplacementCharacter;
    int widestAdvance = metrics.horizontalAdvance(widest);
    for (qsizetype i = 1; i < characters.size(); ++i) {
        if (narrowed && design[std::size_t(i)] >= 0 && design[std::size_t(i)] < widestDesign - 2)
            continue;
        if (const int advance = metrics.horizontalAdvance(characters[i]); advance > widestAdvance) {
            widest = characters[i];
            widestAdvance = advance;
        }
    }
    return widest;
}

// The territory texts longer than a letter; any other is one character.
QStringList territoryNames() {
    QStringList texts;
    for (int byte = 0; byte <= 0xFF; ++byte) {
        const QString text = fromUtf8(decodeTerritory(std::uint8_t(byte)));
        if (text.size() > 1)
            texts.append(text);
    }
    return texts;
}

} // namespace

HeaderWindow::HeaderWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Kelvo-GBA - Kelvo By Orlan"));
    createControls();
    createMenus();
    layOutControls();
    connectHandlers();
    Form_Load();
}

void HeaderWindow::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    Drive1 = makeNamed<DriveList>("Drive1", client);
    Dir1 = makeNamed<DirectoryList>("Dir1", client);
    File1 = makeNamed<FileList>("File1", client);
    // An unreadable start directory is reported; the list stays empty.
    guarded([this] { File1->setPattern("*.bin ;*.gba ;*.agb"); });
    cmdEdit = makeNamed<QPushButton>("cmdEdit", client, QStringLiteral("Edit Header"));
    cmdRen =
        makeNamed<WrappingButton>("cmdRen", client, QStringLiteral("Rename File To ROM Title"), 2);
    Image1 = makeNamed<BannerLabel>("Image1", client);
    Image1->setAccessibleName(QStringLiteral("Kelvo-GBA banner"));
    cmdExit = makeNamed<QPushButton>("cmdExit", client, QStringLiteral("Exit"));
    cmdEdit->setEnabled(false);
    cmdRen->setEnabled(false);
    shownFileWatch_ = new DirectoryWatch(this, DirectoryWatch::Follow::Contents);

    Frame1 = makeNamed<QGroupBox>("Frame1", client, QStringLiteral("IMAGE INFO"));
    drawGroupFrameInBands(Frame1);
    Label1 = makeCaption("Label1", "Header", Frame1);
    txtheader = makeNamed<QLineEdit>("txtheader", Frame1);
    // The validator keeps the title to 12 characters: a maximum length would
    // cut a paste before the validator could tell what was left out.
    auto* titleFilter = new TitleValidator(txtheader);
    txtheader->setValidator(titleFilter);
    connect(titleFilter, &TitleValidator::refused, this, &HeaderWindow::tellTitleRefused);
    txtheader->setAccessibleName(QStringLiteral("Header"));
    txtheader->setToolTip(QStringLiteral("The title: up to %1 characters from the one-byte "
                                         "character set (Windows-1252)")
                              .arg(kTitleWidth));
    QPalette buttonFace = txtheader->palette();
    buttonFace.setColor(QPalette::Base, buttonFace.color(QPalette::Button));
    txtheader->setPalette(buttonFace);
    Label1->setBuddy(txtheader);
    // A file or directory dropped anywhere on the window opens it, the title box included.
    setAcceptDrops(true);
    txtheader->setAcceptDrops(false);
    lblcheck = makeValue("lblcheck", nullptr, Frame1);
    lblcheck->setAccessibleDescription(QStringLiteral("Header check"));

    Label2 = makeCaption("Label2", "Size (Mbit)", Frame1);
    lblsizembit = makeValue("lblsizembit", Label2, Frame1);
    Label3 = makeCaption("Label3", "Size (MB)", Frame1);
    lblsizemb = makeValue("lblsizemb", Label3, Frame1);
    Label8 = makeCaption("Label8", "Advance", Frame1);
    lbladv = makeValue("lbladv", Label8, Frame1);
    Label4 = makeCaption("Label4", "Territory", Frame1);
    lblterritory = makeValue("lblterritory", Label4, Frame1);
    Label5 = makeCaption("Label5", "Cart ID", Frame1);
    lblid = makeValue("lblid", Label5, Frame1);
    Label9 = makeCaption("Label9", "Manufacturer", Frame1);
    lblman = makeValue("lblman", Label9, Frame1);

    // The right-hand captions read towards their values.
    for (QLabel* caption : {Label4, Label5, Label9})
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* caption : {Label1, Label2, Label3, Label8})
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // Below the client area, as the menu bar is above it; the window is fixed
    // in size, so no grip.
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->setSizeGripEnabled(false);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, File1);
    setTabOrder(File1, cmdEdit);
    setTabOrder(cmdEdit, cmdExit);
    setTabOrder(cmdExit, txtheader);
    setTabOrder(txtheader, cmdRen);
    Drive1->setFocus();
}

void HeaderWindow::layOutControls() {
    TwipsLayout layout;
    layout.place(Drive1, 120, 120, 1815, 315);
    layout.place(Dir1, 120, 600, 1815, 1665);
    layout.place(File1, 2040, 120, 2535, 1650);
    layout.place(cmdEdit, 2040, 1800, 1215, 495);
    layout.place(cmdRen, 3360, 1800, 1215, 495);
    layout.place(Image1, 120, 2400, 3135, 495);
    layout.place(cmdExit, 3360, 2400, 1215, 495);
    // The group reaches the client's right edge, where its frame stays visible.
    layout.place(Frame1, 0, 3000, kClientWidth, 1695);
    layout.place(Label1, 960, 240, 615, 255);
    layout.place(txtheader, 1680, 240, 1695, 285);
    layout.place(lblcheck, 3480, 240, 1095, 255);
    layout.place(Label2, 120, 600, 855, 255);
    layout.place(lblsizembit, 960, 600, 1095, 255);
    layout.place(Label3, 120, 960, 855, 255);
    layout.place(lblsizemb, 960, 960, 1095, 255);
    layout.place(Label8, 120, 1320, 735, 255);
    layout.place(lbladv, 960, 1320, 1095, 255);
    layout.place(Label4, 2640, 600, 615, 255);
    layout.place(lblterritory, 3360, 600, 1215, 255);
    layout.place(Label5, 2760, 960, 495, 255);
    layout.place(lblid, 3360, 960, 1215, 255);
    layout.place(Label9, 2280, 1320, 975, 255);
    layout.place(lblman, 3360, 1320, 1215, 255);

    for (QLabel* caption : {Label1, Label2, Label3, Label4, Label5, Label8, Label9})
        layout.mustFit(caption, {caption->text()});
    layout.mustFit(cmdEdit, {cmdEdit->text()});
    layout.mustFit(cmdExit, {cmdExit->text()});
    layout.mustFitWrapped(cmdRen, cmdRen->text(), cmdRen->lineCount());
    layout.mustFit(txtheader, {QStringLiteral("SAMPLE TITLE")});
    layout.mustFit(lblcheck, {QStringLiteral("Check OK"), QStringLiteral("Check bad")});
    // The longest figures are those of the largest image; one megabit less
    // has the longest fraction of a megabyte.
    const QString decimalPoint = QLocale().decimalPoint();
    const std::int64_t largestMbit = megabitsFromBytes(kLargestShownImage);
    layout.mustFit(lblsizembit,
                   {widestDigits(fromUtf8(megabitText(largestMbit)), lblsizembit->fontMetrics())});
    layout.mustFit(
        lblsizemb,
        {widestDigits(fromUtf8(megabyteText(largestMbit - 1, decimalPoint.toStdString())),
                      lblsizemb->fontMetrics())});
    layout.mustFit(lbladv, {QStringLiteral("A - Yes"), QStringLiteral("No")});
    // Any byte can be a letter of a code; the value labels share one font.
    const QChar widest = widestCharacter(lblid);
    layout.mustFit(lblterritory, territoryNames() << QString(widest));
    layout.mustFit(lblid, {QString(2, widest)});
    layout.mustFit(lblman, {QStringLiteral("01 - Nintendo"), QStringLiteral("08 - Capcom"),
                            QString(2, widest)});
    layout.mustFit(Drive1, {QStringLiteral("/")});

    layoutScale_ = layout.fitScale();
    layout.apply(layoutScale_);
    centralWidget()->setFixedSize(
        TwipsLayout::toPixels(QSize(kClientWidth, kClientHeight), layoutScale_));
    adjustSize();
    setFixedSize(sizeHint());

    centerOnScreen(this);
}

void HeaderWindow::showListRow(bool shown) {
    if (shown == listRowShown_)
        return;
    listRowShown_ = shown;
    if (shown && !Label10) {
        QWidget* client = centralWidget();
        Label10 = makeCaption("Label10", "List", client);
        Label10->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        lbllist = makeValueLabel("lbllist", Label10->text(), client, new ElidedLabel);
        lbllist->setTextInteractionFlags(Qt::NoTextInteraction);
        // Below the group, its caption and value in line with the group's left column.
        TwipsLayout layout;
        layout.place(Label10, 120, kClientHeight + 60, 735, 255);
        layout.place(lbllist, 960, kClientHeight + 60, kClientWidth - 960 - 105, 255);
        layout.apply(layoutScale_);
    }
    if (Label10) {
        Label10->setVisible(shown);
        lbllist->setVisible(shown);
    }
    const int height = kClientHeight + (shown ? kListRowHeight : 0);
    centralWidget()->setFixedSize(TwipsLayout::toPixels(QSize(kClientWidth, height), layoutScale_));
    // The window is fixed in size: let it take its new one.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    setFixedSize(sizeHint());
}

void HeaderWindow::connectHandlers() {
    const auto route = [this](auto* sender, auto signal, void (HeaderWindow::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    };
    route(Drive1, &DriveList::Change, &HeaderWindow::Drive1_Change);
    route(Dir1, &DirectoryList::Change, &HeaderWindow::Dir1_Change);
    route(File1, &FileList::Click, &HeaderWindow::File1_Click);
    route(cmdEdit, &QPushButton::clicked, &HeaderWindow::cmdEdit_Click);
    route(cmdRen, &QPushButton::clicked, &HeaderWindow::cmdRen_Click);
    route(cmdExit, &QPushButton::clicked, &HeaderWindow::cmdExit_Click);
    connect(Dir1, &DirectoryList::failed, this, &HeaderWindow::reportFailure);
    connect(Drive1, &DriveList::Removed, this, &HeaderWindow::driveRemoved);
    connect(File1, &FileList::Refreshed, this, &HeaderWindow::followShownFile);
    connect(Dir1, &DirectoryList::Left, this, &HeaderWindow::showStatus);
    connect(shownFileWatch_, &DirectoryWatch::changed, this, &HeaderWindow::rereadShownHeader);
    connect(shownFileWatch_, &DirectoryWatch::notFollowed, this, &HeaderWindow::tellNotFollowed);
    connect(Dir1, &DirectoryList::notFollowed, this, &HeaderWindow::tellNotFollowed);
    connect(File1, &FileList::notFollowed, this, &HeaderWindow::tellNotFollowed);
}

void HeaderWindow::reportFailure(const QString& message) {
    showStatus(QString()); // an earlier success must not sit beside this failure
    emit failureReported(message);
    showFailure(this, message);
}

void HeaderWindow::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    listWindowAction_ = file->addAction(QStringLiteral("ROM List Generator..."), this,
                                        [this] { guarded([this] { showListWindow(); }); });
    listWindowAction_->setObjectName(QStringLiteral("actListWindow"));
    listWindowAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    listWindowAction_->setEnabled(false);
    collectionWindowAction_ = file->addAction(QStringLiteral("Check Collection..."), this, [this] {
        guarded([this] { showCollectionWindow(); });
    });
    collectionWindowAction_->setObjectName(QStringLiteral("actCheckCollection"));
    collectionWindowAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    collectionWindowAction_->setEnabled(false);
    checksumListsAction_ = file->addAction(QStringLiteral("Checksum Lists..."), this,
                                           [this] { guarded([this] { showChecksumLists(); }); });
    checksumListsAction_->setObjectName(QStringLiteral("actChecksumLists"));
    checksumListsAction_->setEnabled(false);
    QAction* refresh = file->addAction(QStringLiteral("Refresh"), this,
                                       [this] { guarded([this] { refreshLists(); }); });
    refresh->setObjectName(QStringLiteral("actRefresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("Exit"), this,
                                    [this] { guarded([this] { cmdExit_Click(); }); });
    exit->setObjectName(QStringLiteral("actExit"));
    // The platform's quit keys are Ctrl+Q where it has any; some have none.
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    createImageMenu();

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about =
        help->addAction(QStringLiteral("About Kelvo-GBA"), this, &HeaderWindow::showAbout);
    about->setObjectName(QStringLiteral("actAbout"));
}

void HeaderWindow::showAbout() {
    QString version = QCoreApplication::applicationVersion();
    QMessageBox box(
        QMessageBox::Information, QStringLiteral("About Kelvo-GBA"),
        QStringLiteral("Kelvo-GBA %1\n\nShows the cartridge header of Game Boy Advance ROM images, "
                       "checks and repairs it, writes new titles into images, copies them to "
                       "files named after their titles, gives their checksums, holds them "
                       "against checksum lists (telling good dumps from bad and trimmed ones, "
                       "and renaming them to the lists' names), trims and pads them, and lists "
                       "a directory's images to a text file.")
            .arg(version),
        QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setIconPixmap(windowIcon().pixmap(48, 48));
    box.exec();
}

void HeaderWindow::setListWindowFactory(ListWindowFactory factory) {
    listWindowFactory_ = std::move(factory);
    listWindowAction_->setEnabled(bool(listWindowFactory_));
}

void HeaderWindow::showListWindow() {
    if (!listWindowFactory_)
        return;
    if (!listWindow_) {
        listWindow_ = listWindowFactory_(this);
        // Closing it through its frame discards it; "Back" only hides it.
        listWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    listWindow_->show();
    listWindow_->raise();
    listWindow_->activateWindow();
}

void HeaderWindow::setCollectionWindowFactory(ListWindowFactory factory) {
    collectionWindowFactory_ = std::move(factory);
    collectionWindowAction_->setEnabled(bool(collectionWindowFactory_));
}

void HeaderWindow::showCollectionWindow() {
    if (!collectionWindowFactory_)
        return;
    if (!collectionWindow_) {
        collectionWindow_ = collectionWindowFactory_(this);
        // Closing it discards it, and with it a check still running.
        collectionWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    collectionWindow_->show();
    collectionWindow_->raise();
    collectionWindow_->activateWindow();
}

std::string HeaderWindow::currentDirectory() const {
    return Dir1->Path();
}

void HeaderWindow::refreshLists() {
    Dir1->followDisk();
    File1->Refresh();
    rereadShownHeader();
}

// Another program wrote into the file shown (a rename over it or its removal
// is the lists' to notice). The program's own writes leave the header as
// shown, so they end here too.
void HeaderWindow::rereadShownHeader() {
    RomHeader now;
    if (!headerShown_ || attempt([&] { readHeader(romPath, now); }) ||
        now.identity != header.identity)
        return;
    if (now.bytes == header.bytes && now.sizeBytes == header.sizeBytes) {
        // Written beyond the header: the List row's answer may no longer hold.
        if (verdict_ && attempt([&] {
                if (fileState(romPath) != verdict_->state)
                    startListCheck();
            }))
            startListCheck();
        return;
    }
    const QString typed = txtheader->text();
    const bool titleTyped = typed != fromUtf8(visibleText(header.title));
    header = now;
    showHeader();
    if (titleTyped)
        txtheader->setText(typed);
    showStatus(QStringLiteral("%1 changed on disk; its header was read again.")
                   .arg(displayText(baseName(romPath))));
}

// A re-read that lost the file whose header is shown leaves the window as a
// directory change does, so "Edit Header" never writes a file other than the one shown.
void HeaderWindow::followShownFile() {
    // Another file renamed over it (a download finishing, a sync tool) went away as well.
    if (!headerShown_ || followingRename_ ||
        (File1->FileName() == baseName(romPath) && fileIdentity(romPath) == header.identity))
        return;
    forgetShownImage();
    showStatus(QStringLiteral("%1 went away; its header is no longer shown.")
                   .arg(displayText(baseName(romPath))));
}

void HeaderWindow::setBanner(const QPixmap& banner) {
    Image1->setPixmap(banner);
}

void HeaderWindow::Form_Load() {
    guarded([this] {
        // Open where the program was started: the drive holding the working directory.
        const std::string start = requireWorkingDirectory();
        Drive1->setDrive(Drive1->driveOf(start));
        Dir1->setPath(Drive1->currentDirectoryOf(Drive1->Drive()));
    });
    cmdEdit->setEnabled(false);
    cmdRen->setEnabled(false);
}

void HeaderWindow::Drive1_Change() {
    if (Drive1->ListCount() == 0)
        return;
    Dir1->setPath(Drive1->currentDirectoryOf(Drive1->Drive()));
}

void HeaderWindow::Dir1_Change() {
    File1->setPath(Dir1->Path());
    forgetShownImage();
}

void HeaderWindow::forgetShownImage() {
    clearImageInfo();
    cmdEdit->setEnabled(false);
    cmdRen->setEnabled(false);
}

void HeaderWindow::clearImageInfo() {
    lblsizemb->clear();
    lblsizembit->clear();
    txtheader->clear();
    lblterritory->clear();
    lblid->clear();
    lbladv->clear();
    lblman->clear();
    lblcheck->clear();
    lblcheck->setToolTip(QString());
    showImageExtras(nullptr);
    headerShown_ = false;
    if (listCheck_)
        listCheck_->cancel();
    verdict_.reset();
    if (lbllist) {
        lbllist->clear();
        lbllist->setToolTip(QString());
    }
    updateListActions();
    shownFileWatch_->watch({});
    if (!imageNote_.isEmpty() && statusText_ == imageNote_)
        showStatus(QString());
    imageNote_.clear();
}

void HeaderWindow::File1_Click() {
    showStatus(QString());
    // The names listed come from the file list's own directory.
    romPath = joinPath(File1->Path(), File1->FileName());
    // Nothing is shown until the header is read: a read that fails leaves no
    // button or menu entry that could write to a file whose header was never shown.
    forgetShownImage();

    const auto failure = attempt([this] {
        // One open measures the image and reads its header: the size comes
        // from the same open file, so a second path lookup is saved.
        try {
            readHeader(romPath, header);
        } catch (const FileError& error) {
            if (error.kind() != FileError::Kind::Cancelled)
                throw;
            // The user gave up waiting for another program's lease: no failure.
            showStatus(QStringLiteral("Stopped waiting for %1; no header is shown.")
                           .arg(displayText(baseName(romPath))));
            return;
        }
        showHeader();
        if (!bootLogoValid(header.bytes) && !fixedValueValid(header.bytes)) {
            imageNote_ = QStringLiteral("%1 does not look like a GBA image (no boot logo).")
                             .arg(displayText(baseName(romPath)));
            showStatus(imageNote_);
        }
    });
    if (failure)
        reportFailure(*failure);
}

void HeaderWindow::showHeader() {
    lblsizembit->setText(fromUtf8(megabitText(header.sizeMbit)));
    // Most images are whole megabytes: the locale is asked for its decimal
    // point only when the figure has a fraction.
    std::string decimalPoint;
    if (header.sizeMbit % 8 != 0)
        decimalPoint = QLocale().decimalPoint().toStdString();
    lblsizemb->setText(fromUtf8(megabyteText(header.sizeMbit, decimalPoint)));
    txtheader->setText(fromUtf8(visibleText(header.title)));
    lblid->setText(printable(fromUtf8(codeText(header.cartId))));
    lblman->setText(printable(fromUtf8(decodeMaker(header.makerCode))));
    lbladv->setText(fromUtf8(decodeGameType(header.gameType)));
    lblterritory->setText(printable(fromUtf8(decodeTerritory(header.territory))));
    showCheck(header);
    showImageExtras(&header);
    headerShown_ = true;
    cmdEdit->setEnabled(true);
    cmdRen->setEnabled(true);
    shownFileWatch_->watch(romPath);
    startListCheck();
}

void HeaderWindow::showCheck(const RomHeader& shown) {
    lblcheck->setText(shown.checkValid() ? QStringLiteral("Check OK")
                                         : QStringLiteral("Check bad"));
    lblcheck->setToolTip(
        QStringLiteral("Header check byte: stored %1, computed %2")
            .arg(fromUtf8(byteText(shown.storedCheck)), fromUtf8(byteText(shown.computedCheck))));
}

void HeaderWindow::cmdEdit_Click() {
    const FileIdentity shown = shownIdentity("write");
    editTitle = encodeTitle(txtheader->text().toStdString());
    const TitleWritten written = writeTitle(romPath, editTitle, &shown);
    // The label and the status line tell the header as the write left it.
    header = written.header;
    showCheck(header);
    File1->Refresh();
    showStatus(writtenStatus(written));
}

void HeaderWindow::cmdRen_Click() {
    const std::string title = txtheader->text().toStdString();
    std::optional<std::string> target;
    try {
        target = copyImage(title, Overwrite::Refuse);
    } catch (const FileError& error) {
        if (error.kind() != FileError::Kind::AlreadyExists)
            throw;
        const QString name = fromUtf8(baseName(error.path()));
        if (!confirm(this, QStringLiteral("%1 already exists. Replace it?").arg(name))) {
            showStatus(QStringLiteral("Nothing copied; %1 is kept as it was.").arg(name));
            return;
        }
        // While the question was open the image may have gone away with its header.
        if (!cmdRen->isEnabled())
            return;
        target = copyImage(title, Overwrite::Replace);
    }
    if (!target) {
        showStatus(QStringLiteral("Cancelled; nothing was written."));
        return;
    }
    File1->Refresh();
    showStatus(copiedStatus(*target));
}

std::optional<std::string> HeaderWindow::copyImage(const std::string& title, Overwrite overwrite) {
    // Only around the copy itself: a signal while a question is open ends the program at once.
    const TerminationGuard termination;
    DelayedProgress progress(this, QStringLiteral("Copying to %1.gba...").arg(fromUtf8(title)),
                             progressDelayMs_);
    // The progress dialog lets events through: work on copies of the paths.
    const FileIdentity shown = shownIdentity("copy");
    const std::string source = romPath;
    const std::string directory = File1->Path();
    try {
        return copyToTitle(
            source, directory, title, overwrite,
            [&progress](std::uint64_t done, std::uint64_t total) {
                return progress.step(done, total);
            },
            &shown);
    } catch (const FileError& error) {
        if (error.kind() != FileError::Kind::Cancelled)
            throw;
        return std::nullopt;
    }
}

FileIdentity HeaderWindow::shownIdentity(const char* operation) const {
    if (!headerShown_)
        throw FileError(FileError::Kind::Changed, operation, romPath,
                        "No header is shown; click the image first");
    return header.identity;
}

void HeaderWindow::cmdExit_Click() {
    close();
}

bool HeaderWindow::event(QEvent* event) {
    // Hovering a menu entry sends its status tip, empty here, which would
    // wipe what the status line says about the last action.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void HeaderWindow::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program, whatever other windows are open.
    event->accept();
    QCoreApplication::quit();
}

} // namespace kelvo
