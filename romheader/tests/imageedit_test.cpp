// The build's header fix, trimming and padding in the core: the boot logo's
// bytes, the trim rule, and refusing or undoing what cannot be done whole.
#include "romheader/imageedit.h"
#include "romheader/tests/scratch_dir.h"
#include "romheader/tests/syscall_faults.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

using namespace kelvo;
using namespace kelvo::test;

// The CRC32 the core checks logos by, and the first and last bytes GBATEK prints.
TEST(BootLogo, IsTheConsolesLogo) {
    HeaderBytes header{};
    std::copy(kBootLogo.begin(), kBootLogo.end(), header.begin() + kLogoOffset);
    EXPECT_TRUE(bootLogoValid(header));
    const Bytes first = {0x24, 0xFF, 0xAE, 0x51, 0x69, 0x9A, 0xA2, 0x21,
                         0x3D, 0x84, 0x82, 0x0A, 0x84, 0xE4, 0x09, 0xAD};
    const Bytes last = {0x38, 0x0A, 0xAC, 0x72, 0x21, 0xD4, 0xF8, 0x07};
    EXPECT_TRUE(std::equal(first.begin(), first.end(), kBootLogo.begin()));
    EXPECT_TRUE(std::equal(last.begin(), last.end(), kBootLogo.end() - 8));
}

class Trim : public ScratchDirTest {};

// A file with data, a hole to its end, and the same bytes written out: the
// trim reads the hole as the zeros it is.
TEST_F(Trim, SparseAndDenseAgree) {
    writeFile(path("sparse.gba"), sampleImage(5001));
    ASSERT_EQ(::truncate(path("sparse.gba").c_str(), 1 << 20), 0);
    Bytes dense = sampleImage(5001);
    dense.resize(1 << 20, 0);
    writeFile(path("dense.gba"), dense);
    for (const char* name : {"sparse.gba", "dense.gba"}) {
        const TrimPlan plan = planTrim(path(name));
        EXPECT_EQ(plan.sizeAfter, 5004u) << name;
        trimImage(path(name), plan);
        EXPECT_EQ(readFile(path(name)).size(), 5004u) << name;
    }
}

// Plans, lets `meanwhile` change the file, then applies the plan.
using PlanThenApply = std::function<void(const std::string&, const std::function<void()>&)>;

struct ChangedRow {
    const char* name;
    PlanThenApply operation;
};

class ChangedMeanwhile : public ScratchDirTest, public ::testing::WithParamInterface<ChangedRow> {};

// Another byte, the same size: the plan is refused and the changed file left alone.
TEST_P(ChangedMeanwhile, RefusedAndLeftAlone) {
    const std::string image = path("a.gba");
    Bytes bytes = sampleImage(10000);
    bytes.resize(12000, 0xFF);
    writeFile(image, bytes);
    bytes[0x20] ^= 1;
    try {
        GetParam().operation(image, [&] {
            ::usleep(2000); // a later modification time even on a coarse clock
            writeFile(image, bytes);
        });
        FAIL() << "a plan for another file was applied";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::Changed) << error.what();
    }
    EXPECT_EQ(readFile(image), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ChangedMeanwhile,
    ::testing::Values(ChangedRow{"fix",
                                 [](const std::string& p, const auto& meanwhile) {
                                     const FixPlan plan = planFix(p, {}, true);
                                     meanwhile();
                                     applyFix(p, plan);
                                 }},
                      ChangedRow{"pad",
                                 [](const std::string& p, const auto& meanwhile) {
                                     const PadPlan plan = planPad(p);
                                     meanwhile();
                                     appendBytes(p, plan.count, plan.value, plan.state);
                                 }},
                      ChangedRow{"trim",
                                 [](const std::string& p, const auto& meanwhile) {
                                     const TrimPlan plan = planTrim(p);
                                     meanwhile();
                                     trimImage(p, plan);
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// A write whose fsync fails is taken back: the padding cut away, the header
// bytes written back.
struct FailedRow {
    const char* name;
    std::function<void(const std::string&)> operation;
};

class FailedWrite : public ScratchDirTest, public ::testing::WithParamInterface<FailedRow> {};

TEST_P(FailedWrite, LeavesTheFileAsItWas) {
    const std::string image = path("a.gba");
    const Bytes bytes = sampleImage(10000);
    writeFile(image, bytes);
    {
        const SyscallFault fault("fsync", EIO);
        EXPECT_THROW(GetParam().operation(image), FileError);
        EXPECT_GT(fault.hits(), 0);
    }
    EXPECT_EQ(readFile(image), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FailedWrite,
    ::testing::Values(
        FailedRow{"fix_header", [](const std::string& p) { applyFix(p, planFix(p, {}, false)); }},
        FailedRow{"fix_padded", [](const std::string& p) { applyFix(p, planFix(p, {}, true)); }},
        FailedRow{"append", [](const std::string& p) { appendBytes(p, 100, 0x00, fileState(p)); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
