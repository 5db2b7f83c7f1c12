// Cell texts and cutting texts to their buffers.

#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "tests/support/Modelfixture.h"

#include <QtTest>

class TestCellText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cutsAtCharacterBoundary_data();
    void cutsAtCharacterBoundary();
    void counterCells_data();
    void counterCells();
    void ntLoginName_data();
    void ntLoginName();
};

void TestCellText::cutsAtCharacterBoundary_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored"); // in a char[6]: five bytes at most
    QTest::newRow("fits") << "abcde"
                          << "abcde";
    QTest::newRow("ascii cut") << "abcdefg"
                               << "abcde";
    QTest::newRow("two-byte char straddles") << QString::fromUtf8("abcd\xC3\xA9") << "abcd";
    QTest::newRow("two-byte char fits")
        << QString::fromUtf8("abc\xC3\xA9z") << QString::fromUtf8("abc\xC3\xA9");
    QTest::newRow("three-byte char straddles")
        << QString::fromUtf8("ab\xE2\x82\xAC\xE2\x82\xAC") << QString::fromUtf8("ab\xE2\x82\xAC");
    QTest::newRow("four-byte char straddles")
        << QString::fromUtf8("a\xF0\x9F\x98\x80xyz") << QString::fromUtf8("a\xF0\x9F\x98\x80");
    QTest::newRow("four-byte char cut") << QString::fromUtf8("ab\xF0\x9F\x98\x80") << "ab";
}

void TestCellText::cutsAtCharacterBoundary()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    const QByteArray utf8 = text.toUtf8();
    char field[6];
    std::memset(field, 'X', sizeof field);
    CopyFixedText(field, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    QCOMPARE(Q(FixedText(field)), stored);
}

void TestCellText::counterCells_data()
{
    QTest::addColumn<qlonglong>("value");
    QTest::addColumn<qlonglong>("change");
    QTest::addColumn<QString>("cell");
    QTest::newRow("grew") << 123LL << 5LL << "123 (5)";
    QTest::newRow("fell") << 40LL << -12LL << "40 (-12)";
    QTest::newRow("zero") << 0LL << 0LL << "0 (0)";
    QTest::newRow("extremes") << std::numeric_limits<qlonglong>::min()
                              << std::numeric_limits<qlonglong>::max()
                              << "-9223372036854775808 (9223372036854775807)";
}

void TestCellText::counterCells()
{
    QFETCH(qlonglong, value);
    QFETCH(qlonglong, change);
    QFETCH(QString, cell);
    QCOMPARE(Q(TCellText::Counter(value, change)), cell);
}

void TestCellText::ntLoginName_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("name");
    QTest::newRow("both") << "CORP"
                          << "alice"
                          << "CORP\\alice";
    QTest::newRow("user alone") << ""
                                << "alice"
                                << "alice";
    QTest::newRow("domain alone") << "CORP"
                                  << ""
                                  << "CORP\\";
    QTest::newRow("neither") << ""
                             << ""
                             << "";
}

void TestCellText::ntLoginName()
{
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, name);
    QCOMPARE(Q(TNtLoginName(domain.toStdString(), user.toStdString())), name);
}

QTEST_APPLESS_MAIN(TestCellText)
#include "tst_celltext.moc"
