// The header decoded and checked, the licensee table, and the rows of the
// Image Details dialog.
#include "romheader/imageinfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kelvo {

namespace {

struct Maker {
    char code[3];
    const char* name;
};

// Two-character licensee codes as Pan Docs lists them for the newer header
// field, the same codes GBA images carry at 0xB0, restricted to the ones
// emulators' ROM information names alike.
constexpr Maker kMakers[] = {
    {"01", "Nintendo"},
    {"08", "Capcom"},
    {"13", "Electronic Arts Japan"},
    {"18", "Hudson Soft"},
    {"28", "Kemco"},
    {"29", "SETA"},
    {"41", "Ubisoft"},
    {"4F", "Eidos"},
    {"4Q", "Disney Interactive"},
    {"4Z", "Crave Entertainment"},
    {"51", "Acclaim"},
    {"52", "Activision"},
    {"5D", "Midway"},
    {"5G", "Majesco"},
    {"5H", "3DO"},
    {"60", "Titus"},
    {"64", "LucasArts"},
    {"69", "Electronic Arts"},
    {"6L", "BAM! Entertainment"},
    {"6S", "TDK Mediactive"},
    {"70", "Atari (Infogrames)"},
    {"71", "Interplay"},
    {"75", "SCi Games"},
    {"78", "THQ"},
    {"7D", "Vivendi Universal"},
    {"8P", "Sega"},
    {"91", "Chunsoft"},
    {"99", "Marvelous (Pack-In-Video)"},
    {"9B", "Tecmo"},
    {"A4", "Konami"},
    {"AF", "Namco"},
    {"B2", "Bandai"},
    {"BL", "MTO"},
    {"C0", "Taito"},
    {"C8", "Koei"},
    {"D9", "Banpresto"},
    {"E7", "Athena"},
    {"E9", "Natsume"},
    {"EB", "Atlus"},
    {"GD", "Square Enix"},
};

struct GameType {
    std::uint8_t letter;
    const char* meaning;
};

// The first letter of the game code, as GBATEK explains it: most games use A
// or B; the others mark hardware in the cartridge or a special series.
constexpr GameType kGameTypes[] = {
    {'A', "normal game"},
    {'B', "normal game"},
    {'C', "normal game"},
    {'F', "Classic NES Series"},
    {'K', "acceleration sensor"},
    {'P', "e-Reader"},
    {'R', "rumble and gyro sensor"},
    {'U', "real-time clock and solar sensor"},
    {'V', "rumble"},
};

std::string titleText(const TitleBytes& title) {
    std::string shown = decodeBytes(title);
    std::replace(shown.begin(), shown.end(), '\0', ' ');
    std::string hex;
    for (const std::uint8_t byte : title) {
        hex += hex.empty() ? "" : " ";
        hex += byteText(byte).substr(2);
    }
    return '"' + shown + "\" (" + hex + ')';
}

std::string gameCodeText(const std::array<std::uint8_t, 4>& code) {
    const std::string letters = codeText(code);
    if (letters.empty())
        return "none";
    std::vector<std::string> parts;
    if (code[0] != 0) {
        std::string type = "type " + decodeBytes(std::span(code).first<1>());
        for (const GameType& entry : kGameTypes) {
            if (entry.letter == code[0])
                type += std::string(" (") + entry.meaning + ')';
        }
        parts.push_back(type);
    }
    if (const std::string id = codeText(std::span(code).subspan<1, 2>()); !id.empty())
        parts.push_back("ID " + id);
    if (const std::string territory = decodeTerritory(code[3]); !territory.empty())
        parts.push_back("territory " + territory);
    std::string text = letters + ':';
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? " " : ", ") + parts[i];
    return text;
}

std::string entryPointText(const HeaderInfo& info) {
    if (!info.entryPoint)
        return "not a branch";
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned{*info.entryPoint});
    return text;
}

std::string sizeText(std::uint64_t size, const NumberStyle& style) {
    const std::int64_t mbit = megabitsFromBytes(static_cast<std::int64_t>(size));
    return style.grouped(size) + " bytes (" + megabitText(mbit) + ", " +
           megabyteText(mbit, style.decimalSeparator) + ')';
}

} // namespace

std::optional<std::uint32_t> armBranchTarget(std::uint32_t instruction, std::uint32_t address) {
    // Condition "always" (0xE) and the branch opcode 101 in bits 27..25; bit
    // 24 only says whether a return address is kept (BL).
    if ((instruction & 0xFE000000u) != 0xEA000000u)
        return std::nullopt;
    // A signed 24-bit count of words, from two instructions ahead.
    std::uint32_t offset = (instruction & 0x00FFFFFFu) << 2;
    if (offset & 0x02000000u)
        offset |= 0xFC000000u;
    return address + 8 + offset;
}

std::string makerText(const HeaderInfo& info) {
    const std::string code = codeText(info.makerCode);
    if (code.empty())
        return "none";
    return info.makerName.empty() ? code + " (unknown)" : code + " - " + info.makerName;
}

std::string_view makerName(std::span<const std::uint8_t, kMakerWidth> makerCode) {
    for (const Maker& maker : kMakers) {
        if (std::memcmp(maker.code, makerCode.data(), kMakerWidth) == 0)
            return maker.name;
    }
    return {};
}

HeaderInfo decodeHeaderInfo(const HeaderBytes& bytes) {
    HeaderInfo info;
    const std::uint32_t first =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    info.entryPoint = armBranchTarget(first, kCartridgeBase);
    info.logoValid = bootLogoValid(bytes);
    info.fixedValue = bytes[kFixedValueOffset];
    info.unitCode = bytes[kUnitCodeOffset];
    info.deviceType = bytes[kDeviceTypeOffset];
    info.version = bytes[kVersionOffset];
    info.storedCheck = bytes[kCheckOffset];
    info.computedCheck = headerCheck(std::span(bytes).subspan<kTitleOffset, kCheckedLength>());
    std::copy_n(bytes.begin() + kTitleOffset, kTitleWidth, info.title.begin());
    std::copy_n(bytes.begin() + kGameTypeOffset, info.gameCode.size(), info.gameCode.begin());
    std::copy_n(bytes.begin() + kMakerOffset, kMakerWidth, info.makerCode.begin());
    info.makerName = makerName(info.makerCode);
    return info;
}

std::string byteText(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", unsigned{value});
    return text;
}

std::string hexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

bool isPadding(std::uint8_t lastByte, std::uint64_t run) {
    constexpr std::uint64_t kShortestPadding = 1024;
    return run >= kShortestPadding && (lastByte == 0xFF || lastByte == 0x00);
}

std::string paddingText(const ImageScan& scan, const NumberStyle& style) {
    if (scan.size == 0 || !isPadding(scan.lastByte, scan.trailingRun))
        return "none";
    return style.grouped(scan.trailingRun) + " bytes of " + byteText(scan.lastByte);
}

std::string saveTypeText(const std::vector<std::string>& saveIds) {
    if (saveIds.empty())
        return "none found (no save, or a homebrew image without an ID)";
    std::string text;
    for (const std::string& id : saveIds) {
        text += text.empty() ? "" : "; ";
        text += std::string(saveTypeOf(id)) + " (" + id + ')';
    }
    return text;
}

std::vector<DetailRow> headerDetails(std::string_view path, std::uint64_t size,
                                     const HeaderBytes& header, const NumberStyle& style) {
    const HeaderInfo info = decodeHeaderInfo(header);
    return {
        {"File", std::string(path)},
        {"Size", sizeText(size, style)},
        {"Title", titleText(info.title)},
        {"Game code", gameCodeText(info.gameCode)},
        {"Maker", makerText(info)},
        {"Entry point", entryPointText(info)},
        {"Logo", info.logoValid ? "valid" : "invalid: a real console refuses to boot this image"},
        {"Fixed value", byteText(info.fixedValue) +
                            (info.fixedValueValid() ? " (as required)"
                                                    : " (must be " + byteText(kFixedValue) + ')')},
        {"Unit code", byteText(info.unitCode) + (info.unitCode == 0 ? "" : " (0x00 expected)")},
        {"Device type", byteText(info.deviceType)},
        {"Version", std::to_string(info.version)},
        {"Check byte", "stored " + byteText(info.storedCheck) + ", computed " +
                           byteText(info.computedCheck) + (info.checkValid() ? ": OK" : ": bad")},
    };
}

std::vector<DetailRow> imageDetails(std::string_view path, const ImageScan& scan,
                                    const NumberStyle& style) {
    const std::string crc = hexText(
        std::array<std::uint8_t, 4>{std::uint8_t(scan.crc32 >> 24), std::uint8_t(scan.crc32 >> 16),
                                    std::uint8_t(scan.crc32 >> 8), std::uint8_t(scan.crc32)});
    // The NULs standing in for missing bytes are no header to decode.
    if (scan.size < kHeaderLength) {
        return {
            {"File", std::string(path)},
            {"Size", sizeText(scan.size, style)},
            {"Header", "none: the file is shorter than a header (" + std::to_string(kHeaderLength) +
                           " bytes)"},
            {"CRC32", crc},
            {"MD5", hexText(scan.md5)},
            {"SHA-1", hexText(scan.sha1)},
            {"SHA-256", hexText(scan.sha256)},
            {"Padding", paddingText(scan, style)},
        };
    }
    std::vector<DetailRow> rows = headerDetails(path, scan.size, scan.header, style);
    // What only a pass over the whole file tells.
    DetailRow whole[] = {
        {"Save type", saveTypeText(scan.saveIds)},
        {"CRC32", crc},
        {"MD5", hexText(scan.md5)},
        {"SHA-1", hexText(scan.sha1)},
        {"SHA-256", hexText(scan.sha256)},
        {"Padding", paddingText(scan, style)},
    };
    rows.insert(rows.end(), std::make_move_iterator(std::begin(whole)),
                std::make_move_iterator(std::end(whole)));
    return rows;
}

} // namespace kelvo
