#include "testsupport.h"

#include "romheader/romheader.h"
#include "windowkit/filelist.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <dlfcn.h>
#include <sys/inotify.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>

namespace {
int watchError = 0; // WatchFault's
} // namespace

extern "C" int inotify_add_watch(int fd, const char* path, std::uint32_t mask) noexcept {
    if (watchError != 0) {
        errno = watchError;
        return -1;
    }
    using Call = int(int, const char*, std::uint32_t);
    static Call* const next = reinterpret_cast<Call*>(::dlsym(RTLD_NEXT, "inotify_add_watch"));
    return next(fd, path, mask);
}

namespace kelvo::test {

WatchFault::WatchFault(int error) {
    watchError = error;
}

WatchFault::~WatchFault() {
    watchError = 0;
}

void writeImage(const QString& path, const ImageSpec& image) {
    std::vector<std::uint8_t> head(0xC0, 0);
    std::copy_n(image.title.begin(), std::min(image.title.size(), kTitleWidth),
                head.begin() + kTitleOffset);
    std::copy_n(image.gameCode.begin(), std::min<std::size_t>(image.gameCode.size(), 4),
                head.begin() + kGameTypeOffset);
    std::copy_n(image.maker.begin(), std::min(image.maker.size(), kMakerWidth),
                head.begin() + kMakerOffset);
    head[0xB2] = 0x96; // the fixed value real headers carry
    // Not the console's picture: 152 bytes of i * 13 + 5 and four bytes
    // solved for with Python's zlib.crc32 to give the logo's CRC32.
    if (image.logo) {
        for (std::size_t i = 0; i < 152; ++i)
            head[0x04 + i] = std::uint8_t(i * 13 + 5);
        const std::uint8_t last[] = {0x36, 0x15, 0xAA, 0x43};
        std::copy(std::begin(last), std::end(last), head.begin() + 0x04 + 152);
    }
    // The check byte as the console's documentation states it, not through
    // the core's headerCheck: subtract each byte of 0xA0..0xBC from 0, then 0x19.
    int check = 0;
    for (std::size_t i = 0xA0; i <= 0xBC; ++i)
        check -= head[i];
    check = (check - 0x19) & 0xFF;
    head[0xBD] = std::uint8_t(image.validCheck ? check : check ^ 0x01);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot create test image " + path.toStdString());
    const auto headLength = std::min<std::int64_t>(image.size, std::int64_t(head.size()));
    file.write(reinterpret_cast<const char*>(head.data()), headLength);
    if (image.size > headLength)
        file.resize(image.size);
}

std::vector<std::uint8_t> readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    return {data.begin(), data.end()};
}

void writeBytes(const QString& path, const std::vector<std::uint8_t>& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

bool clickListedName(FileList* list, const std::string& name) {
    const auto& names = list->names();
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end())
        return false;
    const QModelIndex index = list->model()->index(int(it - names.begin()), 0);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    return true;
}

void typeInto(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(box, &press);
        QApplication::sendEvent(box, &release);
    }
}

QString unframedControls(QWidget* window) {
    const QImage image = window->grab().toImage();
    const double ratio = image.devicePixelRatio();
    const auto device = [ratio](int logical) { return int(std::lround(logical * ratio)); };
    // A frame pixel is darker than the background (the group box's, the
    // faintest, by about 18), within `band` pixels of its side.
    const int background = qGray(window->palette().color(QPalette::Window).rgb());
    const int band = int(std::ceil(ratio)) + 1;
    // Whether every line across `strip` (rows when `rows`) holds a frame pixel.
    const auto drawn = [&](const QRect& strip, bool rows) {
        for (int along = 0; along < (rows ? strip.height() : strip.width()); ++along) {
            bool found = false;
            for (int in = 0; in < (rows ? strip.width() : strip.height()) && !found; ++in)
                found = qGray(image.pixel(strip.left() + (rows ? in : along),
                                          strip.top() + (rows ? along : in))) < background - 12;
            if (!found)
                return false;
        }
        return true;
    };
    QStringList unframed;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        auto* group = qobject_cast<QGroupBox*>(control);
        if (!(group || qobject_cast<QAbstractButton*>(control) ||
              qobject_cast<QComboBox*>(control) || qobject_cast<QLineEdit*>(control) ||
              qobject_cast<QAbstractScrollArea*>(control)) ||
            control->window() != window || !control->isVisible() || // hidden: drawn nowhere
            control->objectName().isEmpty() || control->objectName().startsWith("qt_"))
            continue;
        QRect frame = control->rect();
        if (auto* box = qobject_cast<QCheckBox*>(control)) {
            QStyleOptionButton option;
            option.initFrom(box);
            frame = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        }
        frame.translate(control->mapTo(window, QPoint()));
        const QRect r(QPoint(device(frame.left()), device(frame.top())),
                      QPoint(device(frame.right() + 1) - 1, device(frame.bottom() + 1) - 1));
        // The middle three fifths of each side, away from rounded corners; a
        // group box's top line lies between its title and its contents.
        const int across = r.width() * 3 / 5, down = r.height() * 3 / 5;
        const int topDepth =
            group ? device(control->mapTo(window, group->contentsRect().topLeft()).y()) - r.top()
                  : band;
        QStringList missing;
        if (!drawn(QRect(r.left(), r.top() + down / 3, band, down), true))
            missing << "left";
        if (!drawn(QRect(r.left() + across / 3, r.top(), across, topDepth), false))
            missing << "top";
        if (!drawn(QRect(r.right() + 1 - band, r.top() + down / 3, band, down), true))
            missing << "right";
        if (!drawn(QRect(r.left() + across / 3, r.bottom() + 1 - band, across, band), false))
            missing << "bottom";
        if (!missing.isEmpty())
            unframed << control->objectName() + ": " + missing.join(' ');
    }
    return unframed.isEmpty()
               ? QString()
               : QStringLiteral("at device pixel ratio %1: %2").arg(ratio).arg(unframed.join(", "));
}

void answerNextMessageBox(QMessageBox::StandardButton button, QString* text,
                          std::function<void()> before) {
    // The answer belongs to the test step that asked for it: a box raised by a
    // later step is never answered by this one.
    const QByteArray step =
        QByteArray(QTest::currentTestFunction()) + '/' + QByteArray(QTest::currentDataTag());
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, button, text, step, before] {
        const QByteArray now =
            QByteArray(QTest::currentTestFunction()) + '/' + QByteArray(QTest::currentDataTag());
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (now != step) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        if (text)
            *text = box->text();
        if (before)
            before();
        if (QAbstractButton* answer = box->button(button))
            answer->click();
        else
            box->reject();
    });
    timer->start();
}

bool dropOn(QWidget* target, const QMimeData& data) {
    const QPoint at = target->rect().center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::LinkAction;
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QCoreApplication::processEvents();
    return drop.isAccepted();
}

ProgressWatcher::ProgressWatcher(bool cancel) : cancel_(cancel) {
    qApp->installEventFilter(this);
}

bool ProgressWatcher::eventFilter(QObject* watched, QEvent* event) {
    auto* dialog = qobject_cast<QDialog*>(watched);
    const auto* bar = dialog ? dialog->findChild<QProgressBar*>() : nullptr;
    if (bar && bar->isVisibleTo(dialog) && event->type() == QEvent::Show) {
        ++shown;
        maximum = bar->maximum();
        modality = dialog->windowModality();
        auto* button = dialog->findChild<QPushButton*>();
        hadCancelButton = button && button->text().remove('&') == QStringLiteral("Cancel");
        auto* label = dialog->findChild<QLabel*>();
        labelIsPlainText = label && label->textFormat() == Qt::PlainText;
        if (cancel_ && button)
            QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kelvo::test
