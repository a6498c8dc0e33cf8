#include "hex_codec.h"

#include <QTest>

class TestHexCodec : public QObject
{
    Q_OBJECT
private slots:
    void encode_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("digits");
        QTest::newRow("self-test") << 31111 << QByteArray("7987");
        QTest::newRow("zero") << 0 << QByteArray("0000");
        QTest::newRow("top of the field") << 32000 << QByteArray("7D00");
        QTest::newRow("1000") << 1000 << QByteArray("03E8");
        QTest::newRow("four digits full") << 65535 << QByteArray("FFFF");
        QTest::newRow("bits above 15 ignored") << 0x12345 << QByteArray("2345");
        QTest::newRow("negative keeps low bits") << -1 << QByteArray("FFFF");
    }
    void encode()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, digits);
        // A sentinel after the four characters shows no terminator is written.
        char out[5] = {'x', 'x', 'x', 'x', '#'};
        EncodeHex4(value, out);
        QCOMPARE(QByteArray(out, 4), digits);
        QCOMPARE(out[4], '#');
        QCOMPARE(QByteArray(out, 4), QByteArray::number(value & 0xFFFF, 16).toUpper().rightJustified(4, '0'));
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("digits");
        QTest::addColumn<int>("value");
        QTest::newRow("7987") << QByteArray("7987") << 31111;
        QTest::newRow("7D00") << QByteArray("7D00") << 32000;
        QTest::newRow("03E8") << QByteArray("03E8") << 1000;
        QTest::newRow("FFFF") << QByteArray("FFFF") << 65535;
        QTest::newRow("lower-case d counts as 0") << QByteArray("7d00") << 28672;
        QTest::newRow("lower-case ffff") << QByteArray("ffff") << 0;
        QTest::newRow("letters past F") << QByteArray("ZZZZ") << 0;
        QTest::newRow("four colons") << QByteArray("::::") << 13107;
        QTest::newRow("space subtracts") << QByteArray(" 123") << -65245;
        QTest::newRow("question mark is 8") << QByteArray("7?00") << 30720;
        QTest::newRow("NUL bytes") << QByteArray(4, '\0') << -48 * 0x1111;
        QTest::newRow("high bytes") << QByteArray("\xFF\xB0\xAF\x80", 4) << -49 * 4096 - 128 * 256;
    }
    void decode()
    {
        QFETCH(QByteArray, digits);
        QFETCH(int, value);
        QCOMPARE(DecodeHex4(digits.constData()), value);
    }

    // Every byte value against the rule it must follow.
    void nibbleOfEveryByte()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const char ch = char(byte);
            int expected = 0; // "G" .. 0xAF, lower case included
            if (byte <= '9')
                expected = byte - '0'; // below "0": negative
            else if (byte <= 0x40)
                expected = byte - 0x3A + 3; // ":" .. "@" give 3 .. 9
            else if (byte <= 'F')
                expected = byte - 'A' + 10;
            else if (byte >= 0xB0)
                expected = byte - 0xB0 - 128; // -128 .. -49
            QVERIFY2(HexCharToNibble(ch) == expected, qPrintable(QString::number(byte, 16)));
        }
    }

    void nibbleToChar()
    {
        const char *digits = "0123456789ABCDEF";
        for (int v = -64; v < 64; ++v)
            QCOMPARE(NibbleToHexChar(v), digits[v & 0xF]);
    }
};

QTEST_APPLESS_MAIN(TestHexCodec)
#include "tst_hex_codec.moc"
