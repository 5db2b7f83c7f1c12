// The parts of the TDS encoding whose faults an ordinary client would hide or turn
// into wrong values: date-time conversion at its edges, the password obfuscation,
// version negotiation, and packet framing in arbitrary chunks.

#include "sandbox/Tdsbuffer.h"
#include "sandbox/Tdslogin.h"
#include "sandbox/Tdspackets.h"
#include "sandbox/Tdsresultset.h"

#include <QtTest>

using namespace sandbox;

class TestTdsWire : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textConversions_data();
    void textConversions();
    void dateTime_data();
    void dateTime();
    void passwordObfuscation_data();
    void passwordObfuscation();
    void versionNegotiation_data();
    void versionNegotiation();
    void encryptionNegotiation_data();
    void encryptionNegotiation();
    void packetsInAnyChunking_data();
    void packetsInAnyChunking();
    void abandonedAndOversizedMessages();
};

void TestTdsWire::textConversions_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<QString>("ucs2");
    QTest::addColumn<QByteArray>("cp1252");
    QTest::newRow("ascii") << QByteArray("spid 51") << "spid 51" << QByteArray("spid 51");
    QTest::newRow("latin-1 and the 1252 extras")
        << QByteArray("caf\xc3\xa9 \xe2\x82\xac\xe2\x80\x94") << QStringLiteral("café €—")
        << QByteArray("caf\xe9 \x80\x97");
    QTest::newRow("outside the code page")
        << QByteArray("\xe6\xbc\xa2") << QStringLiteral("漢") << QByteArray("?");
    QTest::newRow("beyond the basic plane")
        << QByteArray("\xf0\x9f\x98\x80") << QStringLiteral("😀") << QByteArray("?");
    QTest::newRow("truncated sequence")
        << QByteArray("a\xe2\x82") << QStringLiteral("a\uFFFD\uFFFD") << QByteArray("a??");
    QTest::newRow("overlong encoding")
        << QByteArray("\xc0\xaf") << QStringLiteral("\uFFFD\uFFFD") << QByteArray("??");
    QTest::newRow("encoded surrogate")
        << QByteArray("\xed\xa0\x80") << QStringLiteral("\uFFFD\uFFFD\uFFFD") << QByteArray("???");
}

void TestTdsWire::textConversions()
{
    QFETCH(QByteArray, utf8);
    QFETCH(QString, ucs2);
    QFETCH(QByteArray, cp1252);
    const std::string text = utf8.toStdString();
    const Bytes wide = Utf8ToUcs2(text);
    QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(wide.data()), qsizetype(wide.size() / 2)),
             ucs2);
    QCOMPARE(Ucs2Length(text), std::size_t(ucs2.size()));
    QCOMPARE(QByteArray::fromStdString(Utf8ToCp1252(text)), cp1252);
    QCOMPARE(Cp1252Length(text), std::size_t(cp1252.size()));
    if (!ucs2.contains(QChar(0xFFFD)))
        QCOMPARE(QByteArray::fromStdString(Ucs2ToUtf8(wide)), utf8);
}

void TestTdsWire::dateTime_data()
{
    QTest::addColumn<double>("toolkitDays");
    QTest::addColumn<int>("days");
    QTest::addColumn<uint>("ticks");
    QTest::newRow("wire epoch 1900-01-01") << 2.0 << 0 << 0u;
    QTest::newRow("toolkit epoch 1899-12-30") << 0.0 << -2 << 0u;
    QTest::newRow("noon") << 46000.5 << 45998 << 12960000u;
    QTest::newRow("one tick after midnight") << 2.0 + 1.0 / 25920000 << 0 << 1u;
    QTest::newRow("rounds up into the next day") << 2.9999999999 << 1 << 0u;
    QTest::newRow("before day 0 keeps the time of day") << -1.25 << -3 << 6480000u;
}

void TestTdsWire::dateTime()
{
    QFETCH(double, toolkitDays);
    QFETCH(int, days);
    QFETCH(uint, ticks);
    const TTdsDateTime wire = ToTdsDateTime(toolkitDays);
    QCOMPARE(wire.days, days);
    QCOMPARE(wire.ticks, ticks);
}

void TestTdsWire::passwordObfuscation_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("ascii") << "torvane";
    QTest::newRow("empty") << "";
    QTest::newRow("non-latin") << QStringLiteral("пароль ☃ 密码");
}

void TestTdsWire::passwordObfuscation()
{
    QFETCH(QString, password);
    // What a client sends: each UCS-2 byte with its nibbles swapped, then XOR 0xA5.
    Bytes sent;
    for (const QChar c : password) {
        for (const quint8 b : {quint8(c.unicode() & 0xFF), quint8(c.unicode() >> 8)})
            sent.push_back(quint8(((b << 4) | (b >> 4)) ^ 0xA5));
    }
    QCOMPARE(QString::fromStdString(DecodeLoginPassword(sent)), password);
}

void TestTdsWire::versionNegotiation_data()
{
    QTest::addColumn<uint>("requested");
    QTest::addColumn<uint>("answered");
    QTest::newRow("7.0 gets the lowest supported") << 0x70000000u << TdsVersion::V7_1;
    QTest::newRow("7.1") << TdsVersion::V7_1 << TdsVersion::V7_1;
    QTest::newRow("7.1 as old clients spell it") << 0x07010000u << TdsVersion::V7_1;
    QTest::newRow("7.2") << TdsVersion::V7_2 << TdsVersion::V7_2;
    QTest::newRow("7.3A") << TdsVersion::V7_3A << TdsVersion::V7_3A;
    QTest::newRow("7.3B") << TdsVersion::V7_3B << TdsVersion::V7_3B;
    QTest::newRow("7.4") << TdsVersion::V7_4 << TdsVersion::V7_4;
    QTest::newRow("a later version capped at 7.4") << 0x75000005u << TdsVersion::V7_4;
}

void TestTdsWire::versionNegotiation()
{
    QFETCH(uint, requested);
    QFETCH(uint, answered);
    QCOMPARE(NegotiateTdsVersion(requested), answered);
}

void TestTdsWire::encryptionNegotiation_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<int>("client");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("channel");
    using E = ETdsEncryption;
    using C = ETdsChannel;
    const auto row = [](const char* name, E server, std::uint8_t client, std::uint8_t answer, C channel) {
        QTest::newRow(name) << int(server) << int(client) << int(answer) << int(channel);
    };
    row("no certificate, client can", E::NotSupported, TdsEncrypt::Off, TdsEncrypt::NotSupported, C::Plain);
    row("no certificate, client requires", E::NotSupported, TdsEncrypt::Required, TdsEncrypt::NotSupported,
        C::Plain);
    row("offered, client can: login only", E::Offered, TdsEncrypt::Off, TdsEncrypt::Off, C::LoginOnly);
    row("offered, client asks", E::Offered, TdsEncrypt::On, TdsEncrypt::On, C::Whole);
    row("offered, client requires", E::Offered, TdsEncrypt::Required, TdsEncrypt::On, C::Whole);
    row("offered, client cannot", E::Offered, TdsEncrypt::NotSupported, TdsEncrypt::NotSupported, C::Plain);
    row("required, client can: everything", E::Required, TdsEncrypt::Off, TdsEncrypt::On, C::Whole);
    row("required, client asks", E::Required, TdsEncrypt::On, TdsEncrypt::On, C::Whole);
    row("required, client cannot: refused", E::Required, TdsEncrypt::NotSupported, TdsEncrypt::Required,
        C::Refused);
}

void TestTdsWire::encryptionNegotiation()
{
    QFETCH(int, server);
    QFETCH(int, client);
    QFETCH(int, answer);
    QFETCH(int, channel);
    // The client's value as its PRELOGIN carries it, with the client-certificate bit.
    const Bytes request = {0x01, 0x00, 0x06, 0x00, 0x01, 0xFF, std::uint8_t(client | 0x80)};
    const std::uint8_t offered = PreloginClientEncryption(request);
    QCOMPARE(int(offered), client);
    const TTdsEncryptionAgreement agreement = NegotiateEncryption(ETdsEncryption(server), offered);
    QCOMPARE(int(agreement.answer), answer);
    QCOMPARE(int(agreement.channel), channel);
    // The answer carries the value in its encryption option (the second, after VERSION).
    const Bytes response = BuildPreloginResponse(request, {}, agreement.answer);
    const std::size_t offset = std::size_t(response[6]) << 8 | response[7];
    QCOMPARE(int(response[offset]), answer);
}

void TestTdsWire::packetsInAnyChunking_data()
{
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<int>("chunk");
    QTest::newRow("empty message") << 0 << 512 << 3;
    QTest::newRow("exactly one packet") << 504 << 512 << 7;
    QTest::newRow("one byte into a second packet") << 505 << 512 << 1000;
    QTest::newRow("many packets byte by byte") << 5000 << 512 << 1;
    QTest::newRow("large packets") << 100000 << 32767 << 4096;
}

void TestTdsWire::packetsInAnyChunking()
{
    QFETCH(int, payloadSize);
    QFETCH(int, packetSize);
    QFETCH(int, chunk);
    Bytes payload(payloadSize);
    for (int i = 0; i < payloadSize; ++i)
        payload[i] = quint8(i * 7);
    const Bytes wire = EncodePackets(TdsPacketType::SqlBatch, payload, packetSize, 0);
    const int expectedPackets = std::max(1, (payloadSize + packetSize - 9) / (packetSize - 8));
    QCOMPARE(int(wire.size()), payloadSize + 8 * expectedPackets);

    TTdsMessageAssembler assembler(1 << 20);
    std::vector<TTdsMessage> messages;
    for (std::size_t at = 0; at < wire.size(); at += chunk) {
        assembler.Append(std::span(wire).subspan(at, std::min<std::size_t>(chunk, wire.size() - at)));
        while (auto message = assembler.Next())
            messages.push_back(*message);
    }
    QCOMPARE(messages.size(), 1u);
    QCOMPARE(messages[0].type, TdsPacketType::SqlBatch);
    QVERIFY(messages[0].payload == payload);
}

void TestTdsWire::abandonedAndOversizedMessages()
{
    // A client may abandon a message with the ignore bit on its last packet.
    const Bytes abandoned = {0x01, 0x03, 0x00, 0x0A, 0, 0, 1, 0, 'x', 0};
    const Bytes next = EncodePackets(TdsPacketType::Attention, {}, 512, 0);
    TTdsMessageAssembler assembler(16);
    assembler.Append(abandoned);
    assembler.Append(next);
    const auto message = assembler.Next();
    QVERIFY(message);
    QCOMPARE(message->type, TdsPacketType::Attention);
    QVERIFY(!assembler.Next());

    const Bytes big(17, 'y');
    assembler.Append(EncodePackets(TdsPacketType::SqlBatch, big, 512, 0));
    QVERIFY_THROWS_EXCEPTION(ETdsProtocolError, assembler.Next());

    TTdsMessageAssembler broken(16);
    broken.Append(Bytes{0x01, 0x01, 0x00, 0x04, 0, 0, 1, 0});
    QVERIFY_THROWS_EXCEPTION(ETdsProtocolError, broken.Next());
}

QTEST_GUILESS_MAIN(TestTdsWire)
#include "tst_tdswire.moc"
