#include "programdriver.h"

#include "testsupport.h"

#include "windowkit/browsing.h"
#include "windowkit/directorylist.h"
#include "windowkit/filelist.h"
#include "headerwin/headerwindow.h"
#include "listwin/romlistwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>

namespace kelvo::test {

namespace {

bool browse(DirectoryList* dirs, const std::string& target) {
    // Each step opens the listed entry that leads furthest towards the target.
    for (int step = 0; step < 256 && dirs->Path() != target; ++step) {
        int best = -1;
        std::size_t bestLength = 0;
        for (int row = 0; row < dirs->ListCount(); ++row) {
            const std::string entry = dirs->entryPath(row);
            if (entry != dirs->Path() && holdsPath(entry, target) && entry.size() >= bestLength) {
                best = row;
                bestLength = entry.size();
            }
        }
        if (best < 0)
            return false;
        const QModelIndex index = dirs->model()->index(best, 0);
        dirs->scrollTo(index);
        const QPoint at = dirs->visualRect(index).center();
        const std::string before = dirs->Path();
        QTest::mouseClick(dirs->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(dirs->viewport(), Qt::LeftButton, {}, at);
        if (dirs->Path() == before)
            return false; // the directory could not be opened; the failure is reported
    }
    return dirs->Path() == target;
}

bool pressIfEnabled(QAbstractButton* button) {
    if (!button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

} // namespace

ProgramDriver::ProgramDriver() : header_(std::make_unique<HeaderWindow>()) {
    header_->setListWindowFactory([](QWidget* owner) { return new RomListWindow(owner); });
    connect(header_.get(), &HeaderWindow::failureReported, this,
            [this](const QString& message) { failures_ << message; });
    connect(&boxWatch_, &QTimer::timeout, this, &ProgramDriver::answerOpenBox);
    boxWatch_.start(5);

    header_->show();
    if (!QTest::qWaitForWindowExposed(header_.get()))
        qWarning("the header window was not shown");
    control<QAction>(header_.get(), "actListWindow")->trigger();
    list_ = qobject_cast<RomListWindow*>(header_->listWindow());
    if (!list_)
        qFatal("the menu did not open the ROM list window");
    connect(list_, &RomListWindow::failureReported, this,
            [this](const QString& message) { failures_ << message; });
}

ProgramDriver::~ProgramDriver() {
    boxWatch_.stop();
}

void ProgramDriver::answerOpenBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    QAbstractButton* answer = nullptr;
    if (box->icon() == QMessageBox::Question) {
        questions_ << box->text();
        const QMessageBox::StandardButton wanted =
            answers_.empty() ? QMessageBox::No : answers_.front();
        if (!answers_.empty())
            answers_.pop_front();
        answer = box->button(wanted);
    } else {
        answer = box->button(QMessageBox::Ok);
    }
    if (answer)
        answer->click();
    else
        box->reject();
}

bool ProgramDriver::browseHeaderTo(const QByteArray& path) {
    return browse(control<DirectoryList>(header_.get(), "Dir1"), path.toStdString());
}

bool ProgramDriver::browseListTo(const QByteArray& path) {
    return browse(control<DirectoryList>(list_, "Dir2"), path.toStdString());
}

const std::vector<std::string>& ProgramDriver::headerFiles() const {
    return control<FileList>(header_.get(), "File1")->names();
}

const std::vector<std::string>& ProgramDriver::listFiles() const {
    return control<FileList>(list_, "File2")->names();
}

QString ProgramDriver::shownName(const QByteArray& name) const {
    auto* files = control<FileList>(header_.get(), "File1");
    const auto& names = files->names();
    const auto it = std::find(names.begin(), names.end(), name.toStdString());
    if (it == names.end())
        return {};
    return files->model()->index(int(it - names.begin()), 0).data().toString();
}

bool ProgramDriver::clickFile(const QByteArray& name) {
    return clickListedName(control<FileList>(header_.get(), "File1"), name.toStdString());
}

void ProgramDriver::typeTitle(const QString& title) {
    typeInto(control<QLineEdit>(header_.get(), "txtheader"), title);
}

bool ProgramDriver::pressEdit() {
    return pressIfEnabled(control<QPushButton>(header_.get(), "cmdEdit"));
}

bool ProgramDriver::pressRename() {
    return pressIfEnabled(control<QPushButton>(header_.get(), "cmdRen"));
}

void ProgramDriver::pressMakeList() {
    QTest::mouseClick(control<QPushButton>(list_, "cmdMake"), Qt::LeftButton);
}

QString ProgramDriver::shownText(const char* name) const {
    if (auto* label = header_->findChild<QLabel*>(QString::fromLatin1(name)))
        return label->text();
    return control<QLineEdit>(header_.get(), name)->text();
}

QStringList ProgramDriver::takeFailures() {
    const QStringList recent = failures_.mid(failuresTaken_);
    failuresTaken_ = failures_.size();
    return recent;
}

QString ProgramDriver::listStatus() const {
    return list_->statusText();
}

} // namespace kelvo::test
