// The order of names: case folded for all of Unicode, ASCII in its old order, folded
// names cut at a character boundary, the tie-break of names kept apart, and the folder
// that remembers folded names.

#include "model/Namecompare.h"

#include <QtTest>

#include <string>

namespace {

std::string_view View(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

class TestNameCompare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void comparesNames_data();
    void comparesNames();
    void foldedForm_data();
    void foldedForm();
    void distinctNamesBreakTiesBytewise_data();
    void distinctNamesBreakTiesBytewise();
    void folderFoldsAsFoldName();
};

void TestNameCompare::comparesNames_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("ASCII case") << QByteArray("Sales") << QByteArray("SALES") << 0;
    QTest::newRow("Latin-1 case") << QByteArray("MÜLLER") << QByteArray("müller") << 0;
    QTest::newRow("Cyrillic case") << QByteArray("ИВАН") << QByteArray("иван") << 0;
    QTest::newRow("final sigma") << QByteArray("ΟΔΟΣ") << QByteArray("οδος") << 0;
    QTest::newRow("full folding") << QByteArray("STRASSE") << QByteArray("straße") << 0;
    QTest::newRow("Kelvin sign is K") << QByteArray("\xE2\x84\xAA") << QByteArray("k") << 0;
    QTest::newRow("letters before case") << QByteArray("alpha") << QByteArray("Beta") << -1;
    QTest::newRow("prefix first") << QByteArray("Gam") << QByteArray("gamma") << -1;
    // ASCII letters fold to upper case, as the lists always sorted: "_" after them.
    QTest::newRow("underscore after letters") << QByteArray("a_b") << QByteArray("ab") << 1;
    QTest::newRow("other characters after ASCII") << QByteArray("Émile") << QByteArray("zed") << 1;
    QTest::newRow("code point order beyond ASCII") << QByteArray("Ärger") << QByteArray("émile") << -1;
    QTest::newRow("bytes that are not UTF-8 kept")
        << QByteArray("ab\xFF\xC3") << QByteArray("AB\xFF\xC3") << 0;
    QTest::newRow("bytes that are not UTF-8 compared")
        << QByteArray("\xC3\xA9\xFE") << QByteArray("\xC3\x89\xFF") << -1;
}

void TestNameCompare::comparesNames()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, sign);
    QCOMPARE(Sign(CompareNames(View(a), View(b))), sign);
    QCOMPARE(Sign(CompareNames(View(b), View(a))), -sign);
    QCOMPARE(SameName(View(a), View(b)), sign == 0);
    QCOMPARE(Sign(CompareFoldedNames(TFoldedName(View(a)).Folded(), TFoldedName(View(b)).Folded())), sign);
}

void TestNameCompare::foldedForm_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("folded");
    QTest::newRow("ASCII upper case") << QByteArray("sa_Admin") << QByteArray("SA_ADMIN");
    QTest::newRow("others folded") << QByteArray("Müller") << QByteArray("MüLLER");
    QTest::newRow("sharp s") << QByteArray("straße") << QByteArray("STRASSE");
    QTest::newRow("ASCII cut") << QByteArray(140, 'x') << QByteArray(131, 'X');
    QTest::newRow("cut where the ASCII ends") << QByteArray(131, 'x') + "é" << QByteArray(131, 'X');
    // Each İ (two bytes) folds to i and a combining dot above (three bytes): 43 of them
    // fill 129 bytes, the next i fits, its dot does not.
    QByteArray dotted;
    for (int i = 0; i < 43; ++i)
        dotted += "I\xCC\x87";
    QTest::newRow("cut at a character boundary") << QByteArray("İ").repeated(60) << dotted + "I";
}

void TestNameCompare::foldedForm()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, folded);
    char text[FoldedNameSize];
    const std::size_t length = FoldName(View(name), text);
    QCOMPARE(QByteArray(text, static_cast<qsizetype>(length)), folded);
    QCOMPARE(text[length], '\0');
    QCOMPARE(View(folded), TFoldedName(View(name)).Folded());
}

void TestNameCompare::distinctNamesBreakTiesBytewise_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("fold first") << QByteArray("alpha") << QByteArray("BETA") << -1;
    QTest::newRow("upper before lower") << QByteArray("SALES") << QByteArray("Sales") << -1;
    QTest::newRow("beyond ASCII") << QByteArray("MÜLLER") << QByteArray("Müller") << -1;
    QTest::newRow("same") << QByteArray("Müller") << QByteArray("Müller") << 0;
}

void TestNameCompare::distinctNamesBreakTiesBytewise()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, sign);
    QCOMPARE(Sign(CompareDistinctNames(View(a), View(b))), sign);
    QCOMPARE(Sign(CompareDistinctNames(View(b), View(a))), -sign);
}

void TestNameCompare::folderFoldsAsFoldName()
{
    // What the folder remembers is what FoldName gives, refresh after refresh, also for
    // names it has forgotten and for names that share a remembered one's start.
    const QByteArray names[] = {"sa",
                                "MÜLLER",
                                "müller",
                                "Müller-Lüdenscheidt",
                                "ИВАН",
                                "straße",
                                QByteArray("İ").repeated(60),
                                "ab\xFF\xC3"};
    TNameFolder folder;
    for (int refresh = 0; refresh < 4; ++refresh) {
        for (std::size_t i = 0; i < std::size(names); ++i) {
            if (refresh == 2 && i % 2 == 0)
                continue; // forgotten after the next refresh
            char expected[FoldedNameSize];
            char folded[FoldedNameSize];
            const std::size_t length = FoldName(View(names[i]), expected);
            QCOMPARE(folder.Fold(View(names[i]), folded), length);
            QCOMPARE(QByteArray(folded, static_cast<qsizetype>(length + 1)),
                     QByteArray(expected, static_cast<qsizetype>(length + 1)));
        }
        folder.NextRefresh();
    }
}

QTEST_APPLESS_MAIN(TestNameCompare)
#include "tst_namecompare.moc"
