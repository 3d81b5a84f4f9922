// Reading a checksum list made of arbitrary bytes, in one format: each input
// gives a list or one ListError, never a crash, a hang or another exception;
// a list holds each entry once, keeps its limits, and finds every entry it
// holds when an image with that entry's own figures is matched against it.
//
// Input: the list's bytes. Each target includes this with its format.
#pragma once

#include "checksumlists/match.h"
#include "fuzz/fuzz_support.h"

namespace kelvo::fuzz {

inline void checkList(const std::shared_ptr<const ChecksumList>& list) {
    const ListSet lists({list});
    for (std::size_t i = 0; i < list->roms.size(); ++i) {
        const ListRom& rom = list->roms[i];
        require(!rom.name.empty() && rom.name.size() <= kMaxListFieldLength &&
                    rom.game.size() <= kMaxListFieldLength,
                "an entry's name is empty or longer than the limit", rom.name);
        if (i >= 64)
            continue;
        for (std::size_t j = 0; j < i; ++j)
            require(!(rom == list->roms[j]), "an entry repeated", rom.name);
        if (!rom.matchable())
            continue;
        // An image with exactly the entry's figures matches it.
        const ImageHashes image{rom.size.value_or(0), rom.crc32.value_or(0), rom.md5, rom.sha1,
                                rom.sha256};
        bool found = false;
        for (const ListMatch& match : matchImage(lists, image, rom.name, {}))
            found = found || match.rom == &rom;
        require(found, "an entry is not found by its own figures", rom.name);
    }
}

inline int readList(const std::uint8_t* data, std::size_t size, ListFormat format) {
    static const std::string kPath = "/fuzz/list.dat";
    std::shared_ptr<const ChecksumList> list;
    try {
        list = parseChecksumList(std::span(data, size), kPath, format);
    } catch (const ListError& error) {
        const std::string_view message = error.what();
        require(message.starts_with("Cannot read the checksum list \"" + kPath + "\": ") &&
                    message.size() < 1024,
                "a refusal's message does not name the list or is overlong", message);
        return 0;
    }
    checkList(list);
    return 0;
}

} // namespace kelvo::fuzz
