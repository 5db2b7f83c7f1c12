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
    void sameFixedText_data();
    void sameFixedText();
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

void TestCellText::sameFixedText_data()
{
    // Two arrays of 20 bytes filled with different leftovers ('x' and 'y'), then the
    // texts copied in with their terminators; no terminator fills the whole width.
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("short, alike") << QByteArray("sa") << QByteArray("sa") << true;
    QTest::newRow("both empty") << QByteArray("") << QByteArray("") << true;
    QTest::newRow("empty and not") << QByteArray("") << QByteArray("a") << false;
    QTest::newRow("one a prefix of the other") << QByteArray("abc") << QByteArray("abcd") << false;
    QTest::newRow("seven bytes, end in the first word") << QByteArray("abcdefg") << QByteArray("abcdefg") << true;
    QTest::newRow("eight bytes, end in the next word") << QByteArray("abcdefgh") << QByteArray("abcdefgh") << true;
    QTest::newRow("differ in the second word") << QByteArray("abcdefghij") << QByteArray("abcdefghik") << false;
    QTest::newRow("alike past two words") << QByteArray("abcdefghijklmnopq") << QByteArray("abcdefghijklmnopq")
                                          << true;
    QTest::newRow("whole width, alike") << QByteArray(20, 'z') << QByteArray(20, 'z') << true;
    QTest::newRow("whole width, last byte differs") << QByteArray(19, 'z') + "1" << QByteArray(19, 'z') + "2"
                                                    << false;
    QTest::newRow("non-ASCII byte differs") << QByteArray("m\xC3\xBCller") << QByteArray("m\xC3\xA9ller") << false;
}

void TestCellText::sameFixedText()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, same);
    char left[20], right[20];
    std::memset(left, 'x', sizeof left);
    std::memset(right, 'y', sizeof right);
    std::memcpy(left, a.constData(), std::min<std::size_t>(sizeof left, static_cast<std::size_t>(a.size()) + 1));
    std::memcpy(right, b.constData(), std::min<std::size_t>(sizeof right, static_cast<std::size_t>(b.size()) + 1));
    QCOMPARE(SameFixedText(left, right), same);
    QCOMPARE(SameFixedText(right, left), same);
    // A text a row gives as a view, with other texts right behind it, against the array
    // an entry keeps (texts that fit it, as rows give them).
    if (a.size() < qsizetype(sizeof left) && b.size() < qsizetype(sizeof right)) {
        const QByteArray packed = b + a + "tail";
        const std::string_view view(packed.constData(), static_cast<std::size_t>(b.size()));
        QCOMPARE(SameFixedText(left, view), same);
    }
    // Alike texts have alike heads, whatever lies behind them (shortcuts compare and
    // hash the heads).
    if (same) {
        std::uint64_t leftHead[2], rightHead[2];
        const QByteArray behind =
            QByteArray(FixedText(right).data(), qsizetype(FixedText(right).size())) + "behind";
        const std::string_view rightView(behind.constData(), FixedText(right).size());
        QCOMPARE(TextHeadWords(FixedText(left), leftHead), TextHeadWords(rightView, rightHead));
        QCOMPARE(leftHead[0], rightHead[0]);
        QCOMPARE(leftHead[1], rightHead[1]);
        QCOMPARE(HashWords(leftHead, 2), HashWords(rightHead, 2));
    }
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
