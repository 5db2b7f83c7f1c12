// The .reg text form: what is written reads back to the same hive, files exported by
// the Windows registry editor (version 5.00 and REGEDIT4) read here, only value data
// continues over lines, and a text that does not parse is read up to its first error.

#include "settings/Regfile.h"

#include <QtTest>

namespace
{
const QString Root = QStringLiteral("HKEY_LOCAL_MACHINE");

QByteArray Utf16LeWithBom(const QString& text)
{
    QByteArray bytes("\xff\xfe");
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}
} // namespace

Q_DECLARE_METATYPE(TRegistryValue)

class TestRegFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void readsWindowsExport();
    void keepsTypesItDoesNotKnow();
    void readsRegedit4InWindows1252();
    void onlyValueDataContinues_data();
    void onlyValueDataContinues();
    void stopsAtTheFirstError_data();
    void stopsAtTheFirstError();
};

void TestRegFile::roundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<TRegistryValue>("value");
    QTest::addColumn<QString>("line");   // how the value stands in the file

    QTest::newRow("dword") << "SOFTWARE\\Velquin\\Torvane" << TRegistryValue::FromInteger("RefreshInterval", 30)
                           << "\"RefreshInterval\"=dword:0000001e";
    QTest::newRow("negative dword") << "SOFTWARE\\Velquin\\Torvane" << TRegistryValue::FromInteger("N", -2)
                                    << "\"N\"=dword:fffffffe";
    QTest::newRow("escapes") << "SOFTWARE\\Velquin\\Torvane\\Logging"
                             << TRegistryValue::FromString("LoggingDirectory", "C:\\Logs\\\"new\"\\")
                             << "\"LoggingDirectory\"=\"C:\\\\Logs\\\\\\\"new\\\"\\\\\"";
    QTest::newRow("name with escapes") << "K" << TRegistryValue::FromString("a\\\"b", "")
                                       << "\"a\\\\\\\"b\"=\"\"";
    QTest::newRow("non-ASCII text") << "K" << TRegistryValue::FromString("Größe", "naïve €")
                                    << "\"Größe\"=\"naïve €\"";
    QTest::newRow("binary with zero bytes") << "Software\\Velquin\\Servers\\HOST\\INST"
                                            << TRegistryValue::FromBinary("Password", QByteArray("p\0a\0", 4))
                                            << "\"Password\"=hex:70,00,61,00";
    QTest::newRow("empty binary") << "Software\\Velquin\\Servers\\HOST"
                                  << TRegistryValue::FromBinary("Password", QByteArray()) << "\"Password\"=hex:";
    QTest::newRow("default value") << "K" << TRegistryValue::FromString("", "x") << "@=\"x\"";
    // A line break cannot stand between quotes; the registry's hex form of a string can.
    QTest::newRow("text with a line break") << "K" << TRegistryValue::FromString("T", "a\nb")
                                            << "\"T\"=hex(1):61,00,0a,00,62,00,00,00";
    QTest::newRow("long binary wraps") << "K" << TRegistryValue::FromBinary("B", QByteArray(60, '\x7f'))
                                       << ",7f,\\\r\n  7f,";
}

void TestRegFile::roundTrip()
{
    QFETCH(QString, key);
    QFETCH(TRegistryValue, value);
    QFETCH(QString, line);

    TRegistryHive hive(Root);
    hive.SetValue(key, value);
    hive.SetValue(key, TRegistryValue::FromInteger("Other", 1));
    const QByteArray text = WriteRegFile(hive);
    QVERIFY2(text.startsWith("Windows Registry Editor Version 5.00\r\n\r\n"), text.constData());
    QVERIFY2(text.contains(("[HKEY_LOCAL_MACHINE\\" + key + "]\r\n").toUtf8()), text.constData());
    QVERIFY2(text.contains(line.toUtf8()), text.constData());

    const TRegFileContent read = ReadRegFile(text, Root);
    QCOMPARE(read.Error, QString());
    const TRegistryValue* back = read.Hive.FindValue(key, value.Name);
    QVERIFY(back);
    QCOMPARE(back->Type, value.Type);
    QCOMPARE(back->Data, value.Data);
    QCOMPARE(read.Hive.ValueNames(key), QStringList({value.Name, "Other"}));
    QCOMPARE(WriteRegFile(read.Hive), text);
}

void TestRegFile::readsWindowsExport()
{
    // As the registry editor exports: UTF-16LE with a byte order mark, CR LF, every
    // parent key listed, long hex data continued over lines.
    const QString exported = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Velquin]\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Velquin\\Servers]\r\n"
        "\"Default Server\"=\"HOST\\\\INST\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Velquin\\Servers\\HOST\\INST]\r\n"
        "\"UseWindowsNT\"=dword:00000000\r\n"
        "\"UserID\"=\"sa\"\r\n"
        "\"Password\"=hex:73,65,63,72,65,74,31,32,33,34,35,36,37,38,39,30,31,32,33,34,35,\\\r\n"
        "  36,37\r\n\r\n");
    const TRegFileContent read = ReadRegFile(Utf16LeWithBom(exported), "HKEY_CURRENT_USER");
    QCOMPARE(read.Error, QString());
    QCOMPARE(read.Hive.FindValue("\\Software\\Velquin\\Servers\\", "default server")->AsString(),
             std::optional<QString>("HOST\\INST"));
    QCOMPARE(read.Hive.SubKeyNames("software\\velquin\\servers\\host"), QStringList("INST"));
    const TRegistryValue* password = read.Hive.FindValue("Software\\Velquin\\Servers\\HOST\\INST", "Password");
    QVERIFY(password);
    QCOMPARE(password->AsBinary(), std::optional<QByteArray>("secret1234567890123456" "7"));
    QCOMPARE(read.Hive.FindValue("Software\\Velquin\\Servers\\HOST\\INST", "UseWindowsNT")->AsInteger(),
             std::optional<std::int32_t>(0));
}

void TestRegFile::keepsTypesItDoesNotKnow()
{
    const QByteArray text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\K]\r\n"
        "\"Path\"=hex(2):25,00,54,00,00,00\r\n"
        "\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n\r\n";
    const TRegFileContent read = ReadRegFile(text, Root);
    QCOMPARE(read.Error, QString());
    QCOMPARE(read.Hive.FindValue("K", "Path")->DataType(), TRegDataType::rdExpandString);
    QCOMPARE(read.Hive.FindValue("K", "Path")->AsString(), std::optional<QString>("%T"));
    QCOMPARE(read.Hive.FindValue("K", "Big")->DataType(), TRegDataType::rdUnknown);
    QCOMPARE(read.Hive.FindValue("K", "Big")->AsInteger(), std::nullopt);
    QCOMPARE(WriteRegFile(read.Hive), text);
}

void TestRegFile::readsRegedit4InWindows1252()
{
    // As the registry editor of Windows NT 4 exported: ANSI text, hex data of the string
    // types in ANSI too.
    const QByteArray text = "REGEDIT4\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velquin\\Torvane\\Logging]\r\n"
                            "\"LoggingDirectory\"=\"C:\\\\Gr\xf6\xdf"
                            "e \x80 \x9c\"\r\n"
                            "\"Path\"=hex(2):25,54,45,4d,50,25,5c,e9,00\r\n"
                            "\"RefreshCount\"=dword:00000003\r\n\r\n";
    const TRegFileContent read = ReadRegFile(text, Root);
    QCOMPARE(read.Error, QString());
    const QString key = "SOFTWARE\\Velquin\\Torvane\\Logging";
    QCOMPARE(read.Hive.FindValue(key, "LoggingDirectory")->AsString(),
             std::optional<QString>(QStringLiteral("C:\\Größe € œ")));
    QCOMPARE(read.Hive.FindValue(key, "Path")->DataType(), TRegDataType::rdExpandString);
    QCOMPARE(read.Hive.FindValue(key, "Path")->AsString(),
             std::optional<QString>(QStringLiteral("%TEMP%\\é")));
    QCOMPARE(read.Hive.FindValue(key, "RefreshCount")->AsInteger(), std::optional<std::int32_t>(3));

    // Saved again, it is a version 5.00 file in UTF-8 that reads back the same.
    const QByteArray saved = WriteRegFile(read.Hive);
    QVERIFY(saved.startsWith("Windows Registry Editor Version 5.00"));
    QCOMPARE(ReadRegFile(saved, Root).Hive.FindValue(key, "LoggingDirectory")->AsString(),
             std::optional<QString>(QStringLiteral("C:\\Größe € œ")));
}

void TestRegFile::onlyValueDataContinues_data()
{
    QTest::addColumn<QByteArray>("body"); // after the header and [HKEY_LOCAL_MACHINE\K]
    QTest::addColumn<QStringList>("values");

    QTest::newRow("comment ending in a backslash")
        << QByteArray("; C:\\temp\\\n\"a\"=dword:00000001\n") << QStringList("a");
    QTest::newRow("comment then hex data")
        << QByteArray("; note \\\r\n\"a\"=hex:01,\\\r\n  02\r\n\"b\"=\"x\"\r\n") << QStringList({"a", "b"});
    QTest::newRow("text ending in an escaped backslash")
        << QByteArray("\"a\"=\"C:\\\\\"\n\"b\"=dword:00000002\n") << QStringList({"a", "b"});
}

void TestRegFile::onlyValueDataContinues()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, values);
    const TRegFileContent read =
        ReadRegFile("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n" + body, Root);
    QCOMPARE(read.Error, QString());
    QCOMPARE(read.Hive.ValueNames("K"), values);
}

void TestRegFile::stopsAtTheFirstError_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("errorLine");
    QTest::addColumn<QStringList>("valuesRead");   // of key K, in order

    const QByteArray head = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:00000001\n";
    QTest::newRow("no header") << QByteArray("[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:1\n") << 1 << QStringList();
    QTest::newRow("value before any key")
        << QByteArray("Windows Registry Editor Version 5.00\n\"a\"=dword:1\n") << 2 << QStringList();
    QTest::newRow("bad dword") << head + "\"b\"=dword:xyz\n\"c\"=dword:3\n" << 5 << QStringList("a");
    QTest::newRow("dword too long") << head + "\"b\"=dword:123456789\n" << 5 << QStringList("a");
    QTest::newRow("unterminated text") << head + "\"b\"=\"abc\n\"c\"=\"d\"\n" << 5 << QStringList("a");
    QTest::newRow("unknown escape") << head + "\"b\"=\"C:\\temp\"\n" << 5 << QStringList("a");
    QTest::newRow("bad hex byte") << head + "\"b\"=hex:1,zz\n" << 5 << QStringList("a");
    QTest::newRow("key of another root") << head + "[HKEY_CURRENT_USER\\K]\n\"b\"=dword:2\n" << 5 << QStringList("a");
    QTest::newRow("unclosed key") << head + "[HKEY_LOCAL_MACHINE\\K\n\"b\"=dword:2\n" << 5 << QStringList("a");
    QTest::newRow("garbage line") << head + "RefreshInterval=5\n" << 5 << QStringList("a");
    QTest::newRow("not UTF-8") << QByteArray("Windows Registry Editor Version 5.00\n\xff\xfe\xfd") << 0
                               << QStringList();
}

void TestRegFile::stopsAtTheFirstError()
{
    QFETCH(QByteArray, text);
    QFETCH(int, errorLine);
    QFETCH(QStringList, valuesRead);

    const TRegFileContent read = ReadRegFile(text, Root);
    QVERIFY(!read.Error.isEmpty());
    if (errorLine > 0)
        QVERIFY2(read.Error.startsWith(QStringLiteral("line %1:").arg(errorLine)), qPrintable(read.Error));
    QCOMPARE(read.Hive.ValueNames("K"), valuesRead);
}

QTEST_GUILESS_MAIN(TestRegFile)
#include "tst_regfile.moc"
