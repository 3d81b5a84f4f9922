// The bad inputs the window tests meet: how each entry is made, and what the
// user must see at each step. Expected texts come from small oracles written
// from the header format, not from the program's own functions.
#pragma once

#include "testsupport.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace kelvo::test {

struct Paths {
    QByteArray root;  // private parent of the two below; the working directory
    QByteArray roms;  // the case's directory
    QByteArray check; // holds good.bin, for proving the program still works
};

enum class When { FromTheStart, AfterListing };

struct Shown {
    QString title, mbit, mb, check;
};

// One case: how its entry is made and what the user must see at each step.
struct BadInput {
    QByteArray row;
    QByteArray name; // in the case directory; native bytes
    When when = When::FromTheStart;
    // Makes the entry at `file` (for AfterListing: replaces the listed
    // image); returns why it cannot be made here, to skip the case.
    std::function<QString(const Paths&, const QByteArray& file)> make;
    bool listed = true;         // a fresh listing in the header window shows it
    std::optional<Shown> shown; // nullopt: clicking it fails
    QString clickFails;
    QByteArray title;             // the 12 title bytes it was made with
    std::optional<QString> typed; // typed before Edit Header; nullopt leaves the box as read
    // After a failed click Edit Header and Rename stay disabled: these two
    // are for a header that was shown.
    QString editFails;       // empty: the title is written
    QString renameFails;     // empty: the copy is made
    QByteArray listRow;      // its row in Make List's block; empty when not listed
    QString listFails;       // the reason reported when its header cannot be read
    bool needsModes = false; // only meaningful where file modes bind
};

const QByteArray kCaptions = "Filename\tHeader\tCart ID\tSize (Bytes)\tSize (Mbit)\tPublisher\r\n";
const QByteArray kEarlierList = "an earlier list\r\n 7 \r\n";
constexpr const char* kValueLabels[] = {"txtheader",    "lblsizembit", "lblsizemb", "lbladv",
                                        "lblterritory", "lblid",       "lblman",    "lblcheck"};

// Sizes, file types, links, modes, names and titles, named after what they hold.
[[nodiscard]] const std::vector<BadInput>& namedBadInputs();
// 22 images whose titles hold the bytes 0x01..0xFF and then 0x00, twelve each.
[[nodiscard]] const std::vector<BadInput>& titleByteInputs();

// Writes an image at any native name (through a plain one and a rename).
QString makeImage(const QByteArray& file, const ImageSpec& shape);
[[nodiscard]] QByteArray upToNul(const QByteArray& bytes);
// Blank-padded to the 12 title bytes.
[[nodiscard]] QByteArray padded(const QByteArray& visible);
// Whether header bytes 0xA0..0xBD hold a right check byte.
[[nodiscard]] bool checkValid(const QByteArray& header);
// A list row of an image made with writeImage's defaults.
[[nodiscard]] QByteArray sampleRow(const QByteArray& name, const QByteArray& titleCellText,
                                   qint64 size = 4194304, const QByteArray& mbit = "32Mbit");

} // namespace kelvo::test
