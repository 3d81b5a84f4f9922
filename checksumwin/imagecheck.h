// Holds one image at a time against the loaded lists, off the window's
// thread: the header window's List row. Starting another check cancels the
// one running, and only the latest check's result is ever delivered. A check
// started while the lists are still being read waits for them.
#pragma once

#include "checksumwin/verification.h"
#include "checksumwin/workerthread.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kelvo {

class LoadedLists;

class ImageCheck : public QObject {
    Q_OBJECT
public:
    explicit ImageCheck(LoadedLists* lists, QObject* parent = nullptr);
    ~ImageCheck() override;

    // Checks the image at `path`; any earlier check is cancelled.
    void start(const std::string& path);
    // Cancels the check running or waiting; nothing is delivered for it.
    void cancel();
    // Whether a check was started and its result has not come yet.
    [[nodiscard]] bool busy() const { return busy_; }

signals:
    // The latest check's result, on the window's thread.
    void finished(const kelvo::ImageVerdict& verdict);
    // The latest check could not read the image: `message` names it and why.
    void failed(const QString& message);

private:
    void runWaiting();

    QPointer<LoadedLists> lists_;
    std::string waiting_; // started while the lists were being read
    std::uint64_t generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    bool busy_ = false;
    WorkerThread worker_; // last: it stops before what its jobs use goes
};

} // namespace kelvo
