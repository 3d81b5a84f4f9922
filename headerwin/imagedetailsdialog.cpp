#include "headerwin/imagedetailsdialog.h"

#include "windowkit/windowkit.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvo {

namespace {

// Values wider than this many average characters (a deep path) scroll in
// their field and show whole in its tooltip.
constexpr int kWidestValueCharacters = 96;

QLineEdit* makeValueField(const QString& caption, const QString& value, QWidget* parent) {
    auto* field = new QLineEdit(value, parent);
    field->setObjectName(caption);
    field->setReadOnly(true);
    field->setAccessibleName(caption);
    field->setCursorPosition(0);
    // Read like a property page, not like boxes to type into.
    field->setFrame(false);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
    return field;
}

// Every field as wide as the widest value needs, so none is cut off.
void fitFields(const QList<QLineEdit*>& fields) {
    if (fields.isEmpty())
        return;
    const QFontMetrics metrics = fields.front()->fontMetrics();
    const int cap = metrics.averageCharWidth() * kWidestValueCharacters;
    int widest = 0;
    for (const QLineEdit* field : fields)
        widest = std::max(widest, metrics.horizontalAdvance(field->text()));
    // The line edit's own inner margins and the cursor's room, on both sides.
    const int margins = 2 * metrics.averageCharWidth();
    for (QLineEdit* field : fields) {
        field->setMinimumWidth(std::min(widest, cap) + margins);
        if (metrics.horizontalAdvance(field->text()) > cap)
            field->setToolTip(field->text());
    }
}

} // namespace

ImageDetailsDialog::ImageDetailsDialog(const QString& fileName, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("imageDetails"));
    setWindowTitle(QStringLiteral("Image Details"));

    form_ = new QFormLayout;
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form_->setLabelAlignment(Qt::AlignLeft);

    reading_ = makeNamed<QLabel>("reading", this, QStringLiteral("Reading %1...").arg(fileName));
    reading_->setTextFormat(Qt::PlainText);
    progress_ = makeNamed<QProgressBar>("progress", this);
    progress_->setRange(0, 1000);
    progress_->setMinimumWidth(progress_->fontMetrics().averageCharWidth() * 48);
    reading_->setBuddy(progress_);
    reading_->hide();
    progress_->hide();

    buttons_ = makeNamed<QDialogButtonBox>("buttons", this, QDialogButtonBox::Cancel);
    connect(buttons_, &QDialogButtonBox::rejected, this, &ImageDetailsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form_);
    layout->addWidget(reading_);
    layout->addWidget(progress_);
    layout->addWidget(buttons_);
}

void ImageDetailsDialog::showProgress(std::uint64_t done, std::uint64_t total) {
    reading_->show();
    progress_->show();
    progress_->setValue(total == 0 ? 1000 : int(done * 1000 / total));
}

void ImageDetailsDialog::setRows(const std::vector<DetailRow>& rows) {
    rows_ = rows;
    while (form_->rowCount() > 0)
        form_->removeRow(0);
    QList<QLineEdit*> fields;
    for (const DetailRow& row : rows) {
        const QString caption = fromUtf8(row.caption);
        fields.append(makeValueField(caption, fromUtf8(row.value), this));
        form_->addRow(caption + QLatin1Char(':'), fields.back());
    }
    fitFields(fields);
    reading_->hide();
    progress_->hide();
    buttons_->setStandardButtons(QDialogButtonBox::Close);
    buttons_->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("close"));
    QPushButton* copyAll =
        buttons_->addButton(QStringLiteral("Copy &All"), QDialogButtonBox::ActionRole);
    copyAll->setObjectName(QStringLiteral("copyAll"));
    connect(copyAll, &QPushButton::clicked, this, &ImageDetailsDialog::copyAll);
    cancelled_ = false;
    adjustSize();
}

QString ImageDetailsDialog::allRowsText() const {
    QString text;
    for (const DetailRow& row : rows_)
        text +=
            fromUtf8(row.caption) + QStringLiteral(": ") + fromUtf8(row.value) + QLatin1Char('\n');
    return text;
}

void ImageDetailsDialog::copyAll() {
    QApplication::clipboard()->setText(allRowsText());
    emit copied(int(rows_.size()));
}

void ImageDetailsDialog::reject() {
    // While the image is read, Cancel only asks the reading to stop; whoever
    // reads closes the dialog when it has.
    if (rows_.empty()) {
        cancelled_ = true;
        return;
    }
    QDialog::reject();
}

} // namespace kelvo
