// The start's heap: once prepared, what the window's start allocates comes
// from pages already faulted in.
#include "app/startheap.h"

#include <QtTest>

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

long minorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

bool kernelPopulates() {
    void* page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const bool populates = page != MAP_FAILED && ::madvise(page, 4096, MADV_POPULATE_WRITE) == 0;
    if (page != MAP_FAILED)
        ::munmap(page, 4096);
    return populates;
}

} // namespace

class StartHeapTest : public QObject {
    Q_OBJECT

private slots:
    void allocationsAfterItTakeNoFaults_data() {
        QTest::addColumn<int>("blockBytes");
        QTest::newRow("widgets and text (small blocks)") << 256;
        QTest::newRow("backing stores (blocks above the usual mapping threshold)") << 600 * 1024;
    }

    void allocationsAfterItTakeNoFaults() {
        QFETCH(int, blockBytes);
        if (!kernelPopulates())
            QSKIP("this kernel cannot populate memory at once (MADV_POPULATE_WRITE, Linux 5.14)");
        constexpr std::size_t kPrepared = std::size_t(2) << 20;
        kelvo::prepareStartHeap(kPrepared);

        // Three quarters of it, written as a window's start writes its memory.
        std::vector<void*> blocks;
        const long before = minorFaults();
        for (std::size_t used = 0; used + std::size_t(blockBytes) <= kPrepared * 3 / 4;
             used += std::size_t(blockBytes)) {
            blocks.push_back(std::malloc(std::size_t(blockBytes)));
            std::memset(blocks.back(), 1, std::size_t(blockBytes));
        }
        const long faults = minorFaults() - before;
        for (void* block : blocks)
            std::free(block);
        // Unprepared, that is one fault for each of its 384 pages.
        QVERIFY2(faults < 16, qPrintable(QStringLiteral("%1 page faults").arg(faults)));
    }
};

QTEST_APPLESS_MAIN(StartHeapTest)
#include "tst_startheap.moc"
