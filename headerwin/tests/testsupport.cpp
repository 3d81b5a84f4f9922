#include "testsupport.h"

#include "headerwin/filelist.h"
#include "romheader/romheader.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

namespace kelvo::test {

void writeImage(const QString& path, const ImageSpec& image) {
    std::vector<std::uint8_t> head(0xC0, 0);
    std::copy_n(image.title.begin(), std::min(image.title.size(), kTitleWidth),
                head.begin() + kTitleOffset);
    std::copy_n(image.gameCode.begin(), std::min<std::size_t>(image.gameCode.size(), 4),
                head.begin() + kGameTypeOffset);
    std::copy_n(image.maker.begin(), std::min(image.maker.size(), kMakerWidth),
                head.begin() + kMakerOffset);
    head[0xB2] = 0x96; // the fixed value real headers carry
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

void answerNextMessageBox(QMessageBox::StandardButton button, QString* text) {
    // The answer belongs to the test step that asked for it: a box raised by a
    // later step is never answered by this one.
    const QByteArray step = QByteArray(QTest::currentTestFunction()) + '/' +
                            QByteArray(QTest::currentDataTag());
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, button, text, step] {
        const QByteArray now = QByteArray(QTest::currentTestFunction()) + '/' +
                               QByteArray(QTest::currentDataTag());
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
    auto* dialog = qobject_cast<QProgressDialog*>(watched);
    if (dialog && event->type() == QEvent::Show) {
        ++shown;
        maximum = dialog->maximum();
        auto* button = dialog->findChild<QPushButton*>();
        hadCancelButton = button && button->text() == QStringLiteral("Cancel");
        auto* label = dialog->findChild<QLabel*>();
        labelIsPlainText = label && label->textFormat() == Qt::PlainText;
        if (cancel_ && button)
            QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kelvo::test
