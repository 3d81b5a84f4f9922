// The whole-file pass fed chunk by chunk: CRC32 (zlib), MD5, SHA-1 and
// SHA-256 (OpenSSL's EVP), the save-type scan and the padding count. In
// parallel, MD5 (about as slow as the other five together) runs on a worker
// thread over a ring of chunk buffers while the caller fills the next one
// and computes the rest; each buffer is reused once MD5 is done with it.
#include "romheader/imageinfo.h"
#include "romheader/imagescan.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace kelvo {

namespace {

struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// One OpenSSL digest fed chunk by chunk; a copy goes on from the same state.
// Failures come back as false: the hasher knows the path to name.
class Digest {
public:
    explicit Digest(const EVP_MD* type) : context_(EVP_MD_CTX_new()) {
        ok_ = context_ && EVP_DigestInit_ex(context_.get(), type, nullptr) == 1;
    }
    Digest(const Digest& other) : context_(EVP_MD_CTX_new()) {
        ok_ =
            other.ok_ && context_ && EVP_MD_CTX_copy_ex(context_.get(), other.context_.get()) == 1;
    }
    Digest& operator=(const Digest&) = delete;

    void update(std::span<const std::uint8_t> bytes) {
        ok_ = ok_ && EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) == 1;
    }
    template <std::size_t N> void finish(std::array<std::uint8_t, N>& digest) {
        unsigned length = 0;
        ok_ = ok_ && EVP_MD_CTX_get_size(context_.get()) == int(N) &&
              EVP_DigestFinal_ex(context_.get(), digest.data(), &length) == 1 && length == N;
    }
    [[nodiscard]] bool ok() const { return ok_; }

private:
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> context_;
    bool ok_ = false;
};

// The run of identical bytes that ends what was fed so far.
void trackTrailingRun(std::span<const std::uint8_t> bytes, ImageScan& scan) {
    if (bytes.empty())
        return;
    const std::uint8_t last = bytes.back();
    // Eight bytes at a time: padding is often half the image.
    const std::uint64_t eight = 0x0101010101010101u * last;
    std::size_t end = bytes.size();
    for (std::uint64_t word; end >= 8; end -= 8) {
        std::memcpy(&word, bytes.data() + end - 8, sizeof word);
        if (word != eight)
            break;
    }
    while (end > 0 && bytes[end - 1] == last)
        --end;
    const auto run = static_cast<std::uint64_t>(bytes.size() - end);
    const bool continues = run == bytes.size() && scan.size > 0 && scan.lastByte == last;
    scan.trailingRun = continues ? scan.trailingRun + run : run;
    scan.lastByte = last;
}

// Everything but MD5, on the feeding thread.
struct MainLane {
    Digest sha1{EVP_sha1()};
    Digest sha256{EVP_sha256()};
    uLong crc = ::crc32(0L, Z_NULL, 0);
    ImageScan scan;
    // Bytes from an aligned file offset that a save-type ID may still
    // continue from: at most 12 (see findSaveIds), plus a stitch's 16.
    static constexpr std::size_t kStitch = 16;
    std::array<std::uint8_t, 32> carry{};
    std::size_t carried = 0;

    void update(std::span<const std::uint8_t> chunk) {
        if (scan.size < kHeaderLength)
            std::copy_n(chunk.begin(),
                        std::min(chunk.size(), kHeaderLength - std::size_t(scan.size)),
                        scan.header.begin() + long(scan.size));
        crc = ::crc32_z(crc, chunk.data(), chunk.size());
        sha1.update(chunk);
        sha256.update(chunk);
        findIds(chunk);
        trackTrailingRun(chunk, scan);
        scan.size += chunk.size();
    }

    // The save-type scan over chunks of any length. The carried bytes and the
    // chunk's first few are scanned together first (past the carry, since an
    // aligned ID needs 13 bytes after its start at most); the chunk then goes
    // on from the first aligned offset not yet examined, in place.
    void findIds(std::span<const std::uint8_t> chunk) {
        std::span<const std::uint8_t> rest = chunk;
        if (carried > 0 || chunk.size() <= kStitch) {
            const std::size_t taken = std::min(chunk.size(), kStitch);
            std::copy_n(chunk.begin(), taken, carry.begin() + long(carried));
            const std::span<const std::uint8_t> stitch(carry.data(), carried + taken);
            const std::size_t examined = findSaveIds(stitch, false, scan.saveIds);
            if (taken == chunk.size()) {
                carried = stitch.size() - examined;
                std::memmove(carry.data(), carry.data() + examined, carried);
                return;
            }
            rest = chunk.subspan(examined - carried);
        }
        const std::size_t examined = findSaveIds(rest, false, scan.saveIds);
        carried = rest.size() - examined;
        std::copy(rest.begin() + long(examined), rest.end(), carry.begin());
    }
};

constexpr std::size_t kRingSlots = 4;

} // namespace

struct ImageHasher::Impl {
    Impl(HashThreads threadsUsed, std::string pathNamed)
        : threads(threadsUsed), path(std::move(pathNamed)),
          slots(threads == HashThreads::Parallel ? kRingSlots : 1),
          ring(new std::uint8_t[slots * kScanChunk]) {}
    Impl(const Impl& other)
        : threads(other.threads), path(other.path), md5(other.md5), main(other.main),
          slots(other.slots), ring(new std::uint8_t[slots * kScanChunk]) {}
    Impl& operator=(const Impl&) = delete;
    ~Impl() { stopWorker(); }

    [[noreturn]] void fail(const char* what) const {
        throw FileError(FileError::Kind::System, "hash", path,
                        std::string("OpenSSL cannot compute ") + what);
    }

    [[nodiscard]] std::span<std::uint8_t> slot(std::uint64_t chunk) const {
        return {ring.get() + (chunk % slots) * kScanChunk, kScanChunk};
    }

    std::span<std::uint8_t> nextBuffer() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return posted - hashed < slots; });
        return slot(posted);
    }

    void post(std::size_t length) {
        const std::span<const std::uint8_t> chunk = slot(posted).first(length);
        if (!worker.joinable() && threads == HashThreads::Parallel && main.scan.size > 0)
            startWorker();
        if (worker.joinable()) {
            {
                const std::lock_guard lock(mutex);
                lengths[posted % slots] = length;
                ++posted;
            }
            changed.notify_all();
        } else {
            md5.update(chunk);
            ++posted;
            ++hashed;
        }
        main.update(chunk);
    }

    void startWorker() {
        try {
            worker = std::thread(&Impl::hashMd5, this);
        } catch (const std::system_error&) {
            threads = HashThreads::One; // no thread to be had: all on this one
        }
    }

    // The worker: MD5 over each posted chunk, in order.
    void hashMd5() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || hashed < posted; });
            if (stopping)
                return;
            const std::span<const std::uint8_t> chunk = slot(hashed).first(lengths[hashed % slots]);
            lock.unlock();
            md5.update(chunk);
            lock.lock();
            ++hashed;
            changed.notify_all();
        }
    }

    // Waits until MD5 has every chunk posted so far.
    void drain() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return hashed == posted; });
    }

    void stopWorker() {
        if (!worker.joinable())
            return;
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        worker.join();
        stopping = false;
    }

    HashThreads threads;
    std::string path;
    Digest md5{EVP_md5()}; // the worker's while it runs
    MainLane main;

    std::size_t slots;
    std::unique_ptr<std::uint8_t[]> ring;
    std::array<std::size_t, kRingSlots> lengths{};
    std::uint64_t posted = 0; // chunks handed over; the next one fills slot(posted)
    std::uint64_t hashed = 0; // chunks MD5 is done with
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::thread worker;
};

ImageHasher::ImageHasher(HashThreads threads, std::string path)
    : impl_(std::make_unique<Impl>(threads, std::move(path))) {
    if (!impl_->md5.ok() || !impl_->main.sha1.ok() || !impl_->main.sha256.ok())
        impl_->fail("its digests");
}

ImageHasher::~ImageHasher() = default;
ImageHasher::ImageHasher(ImageHasher&&) noexcept = default;
ImageHasher& ImageHasher::operator=(ImageHasher&&) noexcept = default;

std::span<std::uint8_t> ImageHasher::buffer() {
    return impl_->nextBuffer();
}

void ImageHasher::commit(std::size_t length) {
    if (length > kScanChunk)
        throw std::length_error("ImageHasher::commit: more than buffer() holds");
    if (length > 0)
        impl_->post(length);
}

void ImageHasher::feed(std::span<const std::uint8_t> bytes) {
    if (impl_->threads == HashThreads::One) {
        impl_->md5.update(bytes);
        impl_->main.update(bytes);
        return;
    }
    while (!bytes.empty()) {
        const std::span<std::uint8_t> into = buffer();
        const std::size_t length = std::min(bytes.size(), into.size());
        std::copy_n(bytes.begin(), length, into.begin());
        commit(length);
        bytes = bytes.subspan(length);
    }
}

void ImageHasher::feedRepeated(std::uint8_t byte, std::uint64_t count) {
    while (count > 0) {
        const std::span<std::uint8_t> into = buffer();
        const auto length = std::size_t(std::min<std::uint64_t>(count, into.size()));
        std::memset(into.data(), byte, length);
        commit(length);
        count -= length;
    }
}

std::uint64_t ImageHasher::size() const {
    return impl_->main.scan.size;
}

ImageHasher::ImageHasher(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ImageHasher ImageHasher::fork() {
    impl_->drain();
    auto copy = std::make_unique<Impl>(*impl_);
    if (!copy->md5.ok() || !copy->main.sha1.ok() || !copy->main.sha256.ok())
        copy->fail("a copy of its digests");
    return ImageHasher(std::move(copy));
}

ImageScan ImageHasher::finish() {
    Impl& impl = *impl_;
    impl.drain();
    impl.stopWorker();
    MainLane& main = impl.main;
    ImageScan& scan = main.scan;
    findSaveIds(std::span(main.carry).first(main.carried), true, scan.saveIds);
    scan.crc32 = static_cast<std::uint32_t>(main.crc);
    impl.md5.finish(scan.md5);
    main.sha1.finish(scan.sha1);
    main.sha256.finish(scan.sha256);
    if (!impl.md5.ok())
        impl.fail("MD5");
    if (!main.sha1.ok())
        impl.fail("SHA-1");
    if (!main.sha256.ok())
        impl.fail("SHA-256");
    return std::move(scan);
}

} // namespace kelvo
