// "Image Details": every row the core found for an image, one caption and
// its selectable value each, with "Copy All" and "Close". While the image is
// read it shows a progress bar and "Cancel" instead.
#pragma once

#include "romheader/imageinfo.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QDialogButtonBox;
class QFormLayout;
class QLabel;
class QProgressBar;

namespace kelvo {

class ImageDetailsDialog : public QDialog {
    Q_OBJECT
public:
    // `fileName` names the image while it is read.
    explicit ImageDetailsDialog(const QString& fileName, QWidget* parent = nullptr);

    // The image is still being read: `done` of `total` bytes.
    void showProgress(std::uint64_t done, std::uint64_t total);
    // Whether the user pressed Cancel (or closed the dialog) while it was read.
    [[nodiscard]] bool cancelled() const { return cancelled_; }

    // The finished rows; replaces the progress bar.
    void setRows(const std::vector<DetailRow>& rows);
    // What "Copy All" puts on the clipboard: one "Caption: value" line per row.
    [[nodiscard]] QString allRowsText() const;

    void reject() override;

signals:
    // "Copy All" put `rows` rows on the clipboard.
    void copied(int rows);

private:
    void copyAll();

    QFormLayout* form_;
    QLabel* reading_;
    QProgressBar* progress_;
    QDialogButtonBox* buttons_;
    std::vector<DetailRow> rows_;
    bool cancelled_ = false;
};

} // namespace kelvo
