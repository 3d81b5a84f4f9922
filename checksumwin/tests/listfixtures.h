// Checksum lists for the window tests, in clrmamepro text, naming images the
// tests make with writeImage (game code AXYJ, maker 01, nothing past the
// header). Every figure comes from Python's zlib and hashlib over those
// bytes, never from the program.
#pragma once

#include <QFile>
#include <QString>

namespace kelvo::test {

// writeImage({.title = ..., .size = 65536}) for VERIFIED, GOOD, BADDUMP,
// SEVERAL and RENAMED; TRIMMED is 40,000 bytes, listed as padded with 0xFF
// to 65,536. UNLISTED (65,536 bytes) is in neither list.
inline constexpr char kTestList[] = R"list(clrmamepro (
	name "Test List"
	description "What the window tests make"
	version "2026.08.01"
)
game (
	name "Verified Game (World)"
	rom ( name "Verified Game (World).gba" size 65536 crc 62b82acf md5 da4e83a1e37b9fdeb54a38d99dc8f872 sha1 19d2c2fa8ccd04a7cb29111e088c8044f82bbddf flags verified )
)
game (
	name "Good Game (World)"
	rom ( name "Good Game (World).gba" size 65536 crc ef485861 md5 35ca9244946e80695771a130cf682cdf sha1 456758498e039892ffda99a1cce47386b7229744 )
)
game (
	name "Bad Game (World)"
	rom ( name "Bad Game (World).gba" size 65536 crc a4702a9e md5 b487a8209806436825be10d09d0b14a6 sha1 7901ae89696de402f05d601bdafe09cd13c1b9f9 flags baddump )
)
game (
	name "Trimmed Game (World)"
	rom ( name "Trimmed Game (World).gba" size 65536 crc 54dcee57 md5 45b1f25a9872bda0ffed81bef17868c6 sha1 fc8f871c6dc424aa7fe097193f3a5bc77785b483 flags verified )
)
game (
	name "Several (Europe)"
	rom ( name "Several (Europe).gba" size 65536 crc b49b5e4d md5 1959755fb5103aaddaf499e0593ead1c sha1 dee1210a69838c1c9badc26bd088bcd30bb66363 )
)
game (
	name "Renamed Game (World)"
	rom ( name "Renamed Game (World).gba" size 65536 crc 79b3cbfe md5 7b7b5518963223ac42ef4ec065b54030 sha1 5e23ee3693b386d7b06f1dc9ed973b4e90fa41cc )
)
)list";

// The same dump as SEVERAL under another name, verified.
inline constexpr char kOtherList[] = R"list(clrmamepro ( name "Other List" version "1.0" )
game ( name "Several (USA)" rom ( name "Several (USA).gba" size 65536 crc b49b5e4d sha1 dee1210a69838c1c9badc26bd088bcd30bb66363 flags verified ) )
)list";

// Stops at line 3: a rom whose size is no number.
inline constexpr char kMalformedList[] = "clrmamepro ( name \"Broken\" )\n"
                                         "game ( name \"A\"\n"
                                         "rom ( name \"A.gba\" size twelve ) )\n";

inline void writeText(const QString& path, const char* text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) < 0)
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace kelvo::test
