#include "windowkit/failure.h"

#include <QMessageBox>

namespace kelvo {

namespace {
// Names and titles come from untrusted files: never let a label read them as markup.
QMessageBox* makeBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                     const QString& details) {
    auto* box =
        new QMessageBox(icon, QString::fromUtf8(kProgramName), text, QMessageBox::NoButton, parent);
    box->setTextFormat(Qt::PlainText);
    box->setDetailedText(details); // always plain text
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}
} // namespace

void showFailure(QWidget* parent, const QString& message, const QString& details) {
    QMessageBox* box = makeBox(parent, QMessageBox::Critical, message, details);
    box->setStandardButtons(QMessageBox::Ok);
    box->exec();
}

void showInformation(QWidget* parent, const QString& message, const QString& details) {
    QMessageBox* box = makeBox(parent, QMessageBox::Information, message, details);
    box->setStandardButtons(QMessageBox::Ok);
    box->exec();
}

bool confirm(QWidget* parent, const QString& question, const QString& details) {
    QMessageBox* box = makeBox(parent, QMessageBox::Question, question, details);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

} // namespace kelvo
