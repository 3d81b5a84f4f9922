// Shared by the list widget tests: readable std::string comparisons and
// files made in a test's temporary directory.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QtTest>

#include <string>
#include <vector>

namespace QTest {
// QCOMPARE on native names and paths prints their bytes, escaped.
template <> inline char* toString(const std::string& text) {
    return toString(QByteArray::fromStdString(text));
}
} // namespace QTest

namespace kelvo::test {

inline void makeFiles(const QString& directory, const QStringList& names) {
    for (const QString& name : names) {
        QFile file(directory + '/' + name);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    }
}

inline QStringList toStringList(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

} // namespace kelvo::test
