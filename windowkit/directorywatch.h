// Tells a list when its directory changes on disk. Reports are throttled,
// not debounced: the first change is reported after a short delay, and while
// changes go on at most one report per interval follows, so a directory that
// changes without pause is still shown current at a bounded cost.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <string>

namespace kelvo {

class DirectoryWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstDelayMs = 200;
    static constexpr int kIntervalMs = 500;

    explicit DirectoryWatch(QObject* parent);
    ~DirectoryWatch() override;

    // Watches `directory` instead of the one watched before.
    void watch(const std::string& directory);

signals:
    void changed();

private:
    void noteChange(const QString& directory);
    void report();

    QTimer timer_;
    QElapsedTimer sinceReport_;
    QString directory_;
};

} // namespace kelvo
