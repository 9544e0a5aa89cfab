// SPDX-License-Identifier: MIT
#include "app/Graphix.h"
#include "stage/Roster.h"

#include <QFile>
#include <QImage>
#include <QTest>

// Every embedded picture has the size, format and transparency the window expects.
class TestPictures : public QObject
{
    Q_OBJECT

    static QByteArray bytes(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A single-image GIF89a with a global table of the given sizes and one transparent colour.
    static void checkGif(const QString &path, QSize size, QList<int> tableSizes)
    {
        const QByteArray gif = bytes(path);
        QVERIFY2(gif.startsWith("GIF89a"), qPrintable(path));
        const auto u8 = [&](int i) {
            return int(static_cast<unsigned char>(gif[i]));
        };
        QCOMPARE(QSize(u8(6) | u8(7) << 8, u8(8) | u8(9) << 8), size);
        QVERIFY(u8(10) & 0x80);
        QVERIFY2(tableSizes.contains(2 << (u8(10) & 7)), qPrintable(path));
        QCOMPARE(gif.count("\x21\xF9\x04"), 1);              // one graphic control block
        QVERIFY(u8(gif.indexOf("\x21\xF9\x04") + 3) & 0x01); // with a transparent colour
        QImage image(path);
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // the corner shows the stage behind
    }

    static void check24Bit(const QString &path, QSize size)
    {
        const QByteArray bmp = bytes(path);
        QVERIFY2(bmp.startsWith("BM"), qPrintable(path));
        QCOMPARE(int(bmp[28]), 24);
        const QImage image(path);
        QCOMPARE(image.size(), size);
        QVERIFY(!image.hasAlphaChannel());
    }

private slots:
    void sprites()
    {
        for (const AvatarRow &row : Roster::rows()) {
            for (const SpriteRef *sprite : {&row.right, &row.left})
                checkGif(Graphix::resourcePath(sprite->name), sprite->size, {4, 8});
        }
    }

    void spriteStore()
    {
        const Graphix store;
        QCOMPARE(store.sprite(u"JaxoLeft").size(), QSize(21, 27));
        QVERIFY(store.sprite(u"Jaxo").isNull());
        // The two sprites of an avatar are one figure facing both ways.
        const QImage right = store.sprite(u"GimboRight").toImage();
        QCOMPARE(right.mirrored(true, false), store.sprite(u"GimboLeft").toImage());
    }

    void selectionPictures()
    {
        const QList<QPair<QString, QSize>> sizes = {
            {QStringLiteral("Tavro"), {18, 30}}, {QStringLiteral("Gimbo"), {18, 30}},
            {QStringLiteral("Nubo"), {18, 30}},  {QStringLiteral("Sorra"), {18, 30}},
            {QStringLiteral("Veck"), {14, 34}},  {QStringLiteral("Jaxorin"), {21, 24}},
        };
        for (const auto &[name, size] : sizes)
            check24Bit(QStringLiteral(":/pictures/%1.bmp").arg(name), size);
    }

    void stagePictures()
    {
        check24Bit(QStringLiteral(":/pictures/post.bmp"), {16, 177});
        check24Bit(QStringLiteral(":/pictures/ground.bmp"), {386, 24});
        check24Bit(QStringLiteral(":/pictures/background.bmp"), {295, 182});
        checkGif(QStringLiteral(":/pictures/imgServer.gif"), {15, 27}, {2, 4, 8, 16});
        const QImage icon(QStringLiteral(":/pictures/icon.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(icon.colorCount() > 0 && icon.colorCount() <= 16);
    }
};

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
