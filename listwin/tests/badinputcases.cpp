#include "badinputcases.h"

#include "faultinjection.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <tuple>

namespace kelvo::test {

namespace {

const QString kTyped = QStringLiteral("EDITED");

// Windows-1252 at 0x80..0x9F (Microsoft's table); its five unassigned bytes
// stand for the C1 controls of the same value.
constexpr char16_t kWindows1252At80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QChar windows1252(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? QChar(kWindows1252At80[byte - 0x80]) : QChar(byte);
}

bool isControl(QChar ch) {
    return ch.unicode() < 0x20 || (ch.unicode() >= 0x7F && ch.unicode() <= 0x9F);
}

QString decodeTitle(const QByteArray& bytes) {
    QString text;
    for (const char byte : upToNul(bytes))
        text += windows1252(static_cast<unsigned char>(byte));
    return text;
}

// A title as Edit Header rewrites it from the box (blank-padded), listed as
// one cell: control characters become blanks.
QByteArray rewrittenCell(const QByteArray& bytes) {
    QString cell = decodeTitle(bytes).leftJustified(12, QLatin1Char(' '));
    for (QChar& ch : cell)
        if (isControl(ch))
            ch = QLatin1Char(' ');
    return cell.toUtf8();
}

// Why a shown title cannot name a copy, as the program says it; empty when it can.
QString nameRefusal(const QString& title) {
    if (title.isEmpty())
        return QStringLiteral("The title is empty");
    for (const QChar ch : title)
        if (isControl(ch) || QStringLiteral("/\\:*?\"<>|").contains(ch))
            return QStringLiteral("A file name cannot contain");
    return {};
}

QByteArray unreadableRow(const QByteArray& name) {
    return name + "\t\t\t\t\t\r\n";
}

void require(bool done, const char* what) {
    if (!done)
        throw std::runtime_error(std::string("cannot make ") + what + ": " + std::strerror(errno));
}

QString removeEntry(const Paths&, const QByteArray& file) {
    require(::unlink(file.constData()) == 0, "the vanished file");
    return {};
}

BadInput entry(const QByteArray& row, const QByteArray& name, When when = When::FromTheStart) {
    BadInput c;
    c.row = row;
    c.name = name;
    c.when = when;
    return c;
}

std::vector<BadInput> namedCases() {
    using S = Shown;
    const auto image = [](ImageSpec shape) {
        return [shape](const Paths&, const QByteArray& file) { return makeImage(file, shape); };
    };
    const auto swapped = [](auto make) {
        return [make](const Paths& paths, const QByteArray& file) {
            removeEntry(paths, file);
            return make(paths, file);
        };
    };
    const auto directory = [](const Paths&, const QByteArray& file) {
        require(::mkdir(file.constData(), 0755) == 0, "the directory");
        return QString();
    };
    const auto fifo = [](const Paths&, const QByteArray& file) {
        require(::mkfifo(file.constData(), 0644) == 0, "the FIFO");
        return QString();
    };
    const auto dangling = [](const Paths& paths, const QByteArray& file) {
        // Its target lies in the watched tree, so a write through it would show.
        require(::symlink((paths.root + "/missing-target.gba").constData(), file.constData()) == 0,
                "the dangling link");
        return QString();
    };
    const auto devZero = [](const Paths&, const QByteArray& file) {
        require(::symlink("/dev/zero", file.constData()) == 0, "the link to /dev/zero");
        return QString();
    };
    const auto withMode = [](ImageSpec shape, mode_t mode) {
        return [shape, mode](const Paths&, const QByteArray& file) {
            makeImage(file, shape);
            require(::chmod(file.constData(), mode) == 0, "the file's mode");
            return QString();
        };
    };
    const auto immutable = [](ImageSpec shape) {
        return [shape](const Paths&, const QByteArray& file) {
            makeImage(file, shape);
            if (const int code = setImmutable(file, true))
                return QStringLiteral("cannot make a file immutable here (%1); it needs "
                                      "CAP_LINUX_IMMUTABLE and a file system with the attribute")
                    .arg(QString::fromLocal8Bit(std::strerror(code)));
            return QString();
        };
    };
    const auto title = [](std::string bytes) { return bytes.append(12 - bytes.size(), '\0'); };
    const auto titleCase = [&](const char* row, const char* name, std::string bytes,
                               const char* renameFails) {
        const QByteArray titleBytes = QByteArray::fromStdString(title(bytes));
        BadInput c = entry(row, name);
        c.make = image({.title = titleBytes.toStdString()});
        c.shown = S{decodeTitle(titleBytes), "32Mbit", "4MB", "Check OK"};
        c.title = titleBytes;
        c.renameFails = QString::fromLatin1(renameFails);
        c.listRow = sampleRow(name, rewrittenCell(titleBytes));
        return c;
    };

    std::vector<BadInput> cases;
    BadInput c;

    c = entry("zero-byte .gba", "empty.gba");
    c.make = [](const Paths&, const QByteArray& file) { return makeImage(file, {.size = 0}); };
    c.shown = S{"", "0Mbit", "0MB", "Check bad"};
    c.typed = kTyped;
    c.editFails = "Only 0 bytes long";
    cases.push_back(c);

    c = entry("100-byte .bin", "short100.bin");
    c.make = image({.size = 100});
    c.shown = S{"", "0Mbit", "0MB", "Check bad"};
    c.typed = kTyped;
    c.editFails = "Only 100 bytes long";
    c.listRow = "short100.bin\t\t\t100\t0Mbit\t\r\n";
    cases.push_back(c);

    c = entry("191-byte .bin", "short191.bin");
    c.make = image({.title = "SHORT", .size = 191});
    c.shown = S{"SHORT", "0Mbit", "0MB", "Check OK"};
    c.typed = kTyped;
    c.editFails = "Only 191 bytes long";
    c.listRow = sampleRow("short191.bin", "SHORT", 191, "0Mbit");
    cases.push_back(c);

    c = entry("exactly 192 bytes", "exact.bin");
    c.make = image({.title = "EXACT", .size = 192});
    c.shown = S{"EXACT", "0Mbit", "0MB", "Check OK"};
    c.typed = kTyped;
    c.listRow = sampleRow("exact.bin", padded("EDITED"), 192, "0Mbit");
    cases.push_back(c);

    c = entry("3 GiB sparse .bin", "big.bin");
    c.make = image({.title = "BIG", .size = qint64(3) << 30});
    c.shown = S{"BIG", "24576Mbit", "3072MB", "Check OK"};
    c.typed = kTyped;
    c.listRow = sampleRow("big.bin", padded("EDITED"), qint64(3) << 30, "24576Mbit");
    cases.push_back(c);

    c = entry("name not valid UTF-8", "bad\xff\xfe.bin");
    c.make = image({.title = "BAD NAME"});
    c.shown = S{"BAD NAME", "32Mbit", "4MB", "Check OK"};
    c.typed = kTyped;
    c.listRow = sampleRow("bad\xef\xbf\xbd\xef\xbf\xbd.bin", padded("EDITED"));
    cases.push_back(c);

    // Never listed: only regular files and links to them are images.
    for (const auto& [row, name, make] :
         {std::tuple<const char*, const char*,
                     std::function<QString(const Paths&, const QByteArray&)>>{"directory x.gba",
                                                                              "x.gba", directory},
          {"FIFO y.gba", "y.gba", fifo},
          {"dangling link z.gba", "z.gba", dangling},
          {"link to /dev/zero", "zero.bin", devZero}}) {
        c = entry(row, name);
        c.make = make;
        c.listed = false;
        cases.push_back(c);
    }

    // The same entries put in place of an image the windows already list.
    for (const auto& [row, name, make, reason] :
         {std::tuple<const char*, const char*,
                     std::function<QString(const Paths&, const QByteArray&)>, const char*>{
              "directory swapped in after listing", "x.bin", directory,
              "Not a regular file but a directory"},
          {"FIFO swapped in after listing", "y.bin", fifo, "Not a regular file but a FIFO"},
          {"dangling link swapped in after listing", "z.bin", dangling,
           "No such file or directory"},
          {"link to /dev/zero swapped in after listing", "zero.bin", devZero,
           "Not a regular file but a character device"}}) {
        c = entry(row, name, When::AfterListing);
        c.make = swapped(make);
        c.clickFails = c.listFails = reason;
        c.typed = kTyped;
        c.listRow = unreadableRow(name);
        cases.push_back(c);
    }

    c = entry("file vanished between listing and clicking", "gone.bin", When::AfterListing);
    c.make = removeEntry;
    c.clickFails = c.listFails = "No such file or directory";
    c.typed = kTyped;
    c.listRow = unreadableRow("gone.bin");
    cases.push_back(c);

    c = entry("directory vanished while shown", "inside.bin", When::AfterListing);
    c.make = [](const Paths& paths, const QByteArray&) {
        require(QDir(QFile::decodeName(paths.roms)).removeRecursively(), "the vanished directory");
        return QString();
    };
    c.clickFails = c.listFails = "No such file or directory";
    c.typed = kTyped;
    c.listRow = unreadableRow("inside.bin");
    cases.push_back(c);

    c = entry("unreadable file (mode 000)", "locked.bin");
    c.make = withMode({.title = "LOCKED"}, 0);
    c.clickFails = c.listFails = "Permission denied";
    c.typed = kTyped;
    c.listRow = unreadableRow("locked.bin");
    c.needsModes = true;
    cases.push_back(c);

    c = entry("read-only file (mode 444)", "readonly.bin");
    c.make = withMode({.title = "READ ONLY"}, 0444);
    c.shown = S{"READ ONLY", "32Mbit", "4MB", "Check OK"};
    c.typed = kTyped;
    c.editFails = "Permission denied";
    c.listRow = sampleRow("readonly.bin", "READ ONLY");
    c.needsModes = true;
    cases.push_back(c);

    c = entry("immutable file", "immutable.bin");
    c.make = immutable({.title = "IMMUTABLE"});
    c.shown = S{"IMMUTABLE", "32Mbit", "4MB", "Check OK"};
    c.typed = kTyped;
    c.editFails = "Operation not permitted";
    c.listRow = sampleRow("immutable.bin", "IMMUTABLE");
    cases.push_back(c);

    cases.push_back(titleCase("title climbing with ../", "slash.bin", "../ESCAPE",
                              "A file name cannot contain '/'"));
    // The copy "...gba" would be hidden from the file list.
    cases.push_back(titleCase("title '..'", "dots.bin", "..", "would make a hidden file"));
    cases.push_back(titleCase("title with backslashes", "backslash.bin", "A\\B\\C",
                              "A file name cannot contain '\\'"));
    cases.push_back(titleCase("title with control characters", "controls.bin",
                              "TAB\tLF\nESC\x1b\x7f", "A file name cannot contain U+0009"));
    cases.push_back(titleCase("title with a NUL inside", "nul.bin", std::string("AB\0CD", 5), ""));
    return cases;
}

// 22 images whose titles hold the bytes 0x01..0xFF and then 0x00, twelve each.
std::vector<BadInput> titleByteCases() {
    std::vector<BadInput> cases;
    for (int image = 0; image < 22; ++image) {
        QByteArray bytes(12, '\0');
        for (int i = 0; i < 12; ++i) {
            const int value = image * 12 + i + 1;
            bytes[i] = value < 256 ? char(value) : '\0';
        }
        const QByteArray name =
            QStringLiteral("title%1.bin").arg(image, 2, 10, QLatin1Char('0')).toLatin1();
        BadInput c;
        c.row = QStringLiteral("title bytes %1..%2")
                    .arg(image * 12 + 1, 2, 16, QLatin1Char('0'))
                    .arg(std::min(image * 12 + 12, 256) & 0xFF, 2, 16, QLatin1Char('0'))
                    .toLatin1();
        c.name = name;
        c.make = [bytes](const Paths&, const QByteArray& file) {
            return makeImage(file, {.title = bytes.toStdString(), .size = 131072});
        };
        c.shown = Shown{decodeTitle(bytes), "1Mbit", "0.125MB", "Check OK"};
        c.title = bytes;
        c.renameFails = nameRefusal(decodeTitle(bytes));
        c.listRow = name + '\t' + rewrittenCell(bytes) + "\tXY\t131072\t1Mbit\t01 - Nintendo\r\n";
        cases.push_back(c);
    }
    return cases;
}

} // namespace

QByteArray upToNul(const QByteArray& bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

QByteArray padded(const QByteArray& visible) {
    return visible.leftJustified(12, ' ', true);
}

// The header check byte over bytes 0xA0..0xBC, for header bytes 0xA0..0xBD.
bool checkValid(const QByteArray& header) {
    unsigned sum = 0x19;
    for (qsizetype i = 0; i < 29 && i < header.size(); ++i)
        sum += static_cast<unsigned char>(header[i]);
    return header.size() == 30 && static_cast<unsigned char>(header[29]) == ((0u - sum) & 0xFFu);
}

QByteArray sampleRow(const QByteArray& name, const QByteArray& titleCellText, qint64 size,
                     const QByteArray& mbit) {
    return name + '\t' + titleCellText + "\tXY\t" + QByteArray::number(size) + '\t' + mbit +
           "\t01 - Nintendo\r\n";
}

// Images are made at a plain name and renamed, so names need not be UTF-8.
QString makeImage(const QByteArray& file, const ImageSpec& shape) {
    const QByteArray made = file.left(file.lastIndexOf('/')) + "/.making";
    writeImage(QFile::decodeName(made), shape);
    if (::rename(made.constData(), file.constData()) != 0)
        throw std::runtime_error("cannot name the image " + file.toStdString());
    return {};
}

const std::vector<BadInput>& namedBadInputs() {
    static const std::vector<BadInput> cases = namedCases();
    return cases;
}

const std::vector<BadInput>& titleByteInputs() {
    static const std::vector<BadInput> cases = titleByteCases();
    return cases;
}

} // namespace kelvo::test
