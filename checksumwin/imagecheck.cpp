#include "checksumwin/imagecheck.h"

#include "checksumwin/loadedlists.h"

#include <utility>

namespace kelvo {

ImageCheck::ImageCheck(LoadedLists* lists, QObject* parent) : QObject(parent), lists_(lists) {
    connect(lists_, &LoadedLists::changed, this, &ImageCheck::runWaiting);
}

ImageCheck::~ImageCheck() {
    if (cancelled_)
        cancelled_->store(true);
}

void ImageCheck::start(const std::string& path) {
    cancel();
    busy_ = true;
    waiting_ = path;
    runWaiting();
}

void ImageCheck::cancel() {
    ++generation_;
    if (cancelled_)
        cancelled_->store(true);
    cancelled_.reset();
    worker_.dropPending();
    waiting_.clear();
    busy_ = false;
}

void ImageCheck::runWaiting() {
    if (waiting_.empty() || !lists_ || lists_->loading())
        return;
    const std::string path = std::exchange(waiting_, {});
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    worker_.post([this, path, generation = generation_, cancelled = cancelled_,
                  lists = lists_->lists(), cache = lists_->cache()] {
        const Progress progress = [&cancelled](std::uint64_t, std::uint64_t) {
            return !cancelled->load();
        };
        ImageVerdict verdict;
        QString failure;
        try {
            verdict = verifyImage(path, lists, &cache->open(), progress);
        } catch (const FileError& error) {
            if (error.kind() == FileError::Kind::Cancelled)
                return;
            failure = QString::fromUtf8(error.what());
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
        if (cancelled->load())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, generation, verdict = std::move(verdict), failure] {
                if (generation != generation_)
                    return; // another check started since
                busy_ = false;
                if (lists_)
                    lists_->tellCacheProblem();
                if (failure.isEmpty())
                    emit finished(verdict);
                else
                    emit failed(failure);
            },
            Qt::QueuedConnection);
    });
}

} // namespace kelvo
