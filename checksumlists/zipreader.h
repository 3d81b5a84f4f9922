// The one list file a .zip archive holds. Private to the checksumlists library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

struct ZipMember {
    std::string name; // as the archive names it
    std::vector<std::uint8_t> bytes;
};

// The archive's one member named *.dat or *.xml (any case), inflated.
// Throws ListProblem (line 0) for an archive that is damaged, holds no such
// member or several, or whose member is encrypted or larger than
// kMaxListFileSize.
[[nodiscard]] ZipMember readListFromZip(std::span<const std::uint8_t> bytes);

} // namespace kelvo
