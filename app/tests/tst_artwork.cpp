// The pictures compiled into the program: they come from a static library,
// whose resources are easily left out by the linker.
#include "app/artwork.h"

#include <QtTest>

class ArtworkTest : public QObject {
    Q_OBJECT

private slots:
    void bannerIsTheBlueStrip() {
        const QPixmap banner = kelvo::bannerPixmap();
        QVERIFY2(!banner.isNull(), "the banner resource is missing from the program");
        QCOMPARE(banner.size(), QSize(316, 40));
        const QColor ground = banner.toImage().pixelColor(300, 20);
        QVERIFY2(ground.blue() > 2 * ground.red(), "the banner's ground is not blue");
    }

    void windowIconHasEverySize_data() {
        QTest::addColumn<int>("size");
        for (const int size : {16, 32, 48, 128, 256})
            QTest::addRow("%dx%d", size, size) << size;
    }

    void windowIconHasEverySize() {
        QFETCH(int, size);
        const QIcon icon = kelvo::windowIcon();
        QVERIFY2(icon.availableSizes().contains(QSize(size, size)), "size missing from the icon");
        QCOMPARE(icon.pixmap(size, size).size(), QSize(size, size));
        QVERIFY2(!icon.pixmap(size, size).toImage().isNull(), "the icon file did not load");
    }
};

QTEST_MAIN(ArtworkTest)
#include "tst_artwork.moc"
