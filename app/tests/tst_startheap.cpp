// Once the start's heap is prepared, what the window's start allocates comes
// from pages already faulted in: small blocks, and blocks above glibc's usual
// mapping threshold (a backing store).
#include "app/startheap.h"

#include <QtTest>

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstring>
#include <vector>

class StartHeapTest : public QObject {
    Q_OBJECT

private slots:
    void allocationsAfterItTakeNoFaults_data() {
        QTest::addColumn<int>("blockBytes");
        QTest::newRow("small blocks") << 256;
        QTest::newRow("600 KiB blocks") << 600 * 1024;
    }

    void allocationsAfterItTakeNoFaults() {
        QFETCH(int, blockBytes);
        std::vector<char> probe(8192);
        if (::madvise(probe.data() + 4096 - (std::uintptr_t(probe.data()) & 4095), 4096,
                      MADV_POPULATE_WRITE) != 0)
            QSKIP("this kernel cannot populate memory at once (MADV_POPULATE_WRITE, Linux 5.14)");
        constexpr std::size_t kPrepared = std::size_t(2) << 20;
        kelvo::prepareStartHeap(kPrepared);

        // Three quarters of it, written: unprepared, a fault for each of 384 pages.
        const auto faults = [] {
            rusage use{};
            ::getrusage(RUSAGE_THREAD, &use);
            return use.ru_minflt;
        };
        std::vector<void*> blocks;
        blocks.reserve(kPrepared / std::size_t(blockBytes));
        const long before = faults();
        for (std::size_t used = 0; used + std::size_t(blockBytes) <= kPrepared * 3 / 4;
             used += std::size_t(blockBytes))
            blocks.push_back(
                std::memset(std::malloc(std::size_t(blockBytes)), 1, std::size_t(blockBytes)));
        const long taken = faults() - before;
        for (void* block : blocks)
            std::free(block);
        QVERIFY2(taken < 16, qPrintable(QStringLiteral("%1 page faults").arg(taken)));
    }
};

QTEST_APPLESS_MAIN(StartHeapTest)
#include "tst_startheap.moc"
