// A grid taken out of the program: tab-separated rows for the clipboard and CSV for
// spreadsheets, with the texts clients send (commas, quotes, tabs, line breaks).

#include "tests/support/Modelfixture.h"
#include "model/Gridrows.h"
#include "model/Gridtext.h"
#include "model/Textfilter.h"

#include <QtTest>

namespace {

TMemoryStringGrid TwoRows(std::string_view program)
{
    TMemoryStringGrid grid(3, 3);
    grid.SetCell(0, 0, "SPID");
    grid.SetCell(1, 0, "Program");
    grid.SetCell(2, 0, "Login");
    grid.SetCell(0, 1, "51");
    grid.SetCell(1, 1, program);
    grid.SetCell(2, 1, "sa");
    grid.SetCell(0, 2, "52");
    grid.SetCell(1, 2, "plain");
    grid.SetCell(2, 2, "Müller");
    return grid;
}

} // namespace

class TestGridText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void csv_data();
    void csv();
    void tabSeparated();
    void keepMatchingRows();
};

void TestGridText::csv_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("field");

    QTest::newRow("plain") << QStringLiteral("app") << QStringLiteral("app");
    QTest::newRow("comma quoted") << QStringLiteral("a,b") << QStringLiteral("\"a,b\"");
    QTest::newRow("quote doubled") << QStringLiteral("say \"hi\"") << QStringLiteral("\"say \"\"hi\"\"\"");
    QTest::newRow("line break kept inside quotes") << QStringLiteral("a\r\nb") << QStringLiteral("\"a\r\nb\"");
    QTest::newRow("tab kept") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
}

void TestGridText::csv()
{
    QFETCH(QString, program);
    QFETCH(QString, field);
    const std::string csv = CsvGrid(TwoRows(program.toStdString()));
    QCOMPARE(Q(csv), QStringLiteral("SPID,Program,Login\r\n51,") + field +
                         QStringLiteral(",sa\r\n52,plain,Müller\r\n"));
}

void TestGridText::tabSeparated()
{
    const TMemoryStringGrid grid = TwoRows("tab\there\nand line");
    QCOMPARE(Q(TabSeparatedRows(grid, 2, 2)), QStringLiteral("SPID\tProgram\tLogin\n52\tplain\tMüller\n"));
    QCOMPARE(Q(TabSeparatedGrid(grid)),
             QStringLiteral("SPID\tProgram\tLogin\n51\ttab here and line\tsa\n52\tplain\tMüller\n"));
}

void TestGridText::keepMatchingRows()
{
    TMemoryStringGrid grid = TwoRows("app");
    TTextFilter filter;
    filter.SetText("MÜL");
    const int32_t columns[] = {2};
    QCOMPARE(KeepMatchingRows(grid, filter, columns), 1);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(Q(grid.RowText(1)), QStringLiteral("52\tplain\tMüller"));
    filter.SetText("nobody");
    QCOMPARE(KeepMatchingRows(grid, filter, columns), 1);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(Q(grid.RowText(1)), QStringLiteral("\t\t"));
}

QTEST_GUILESS_MAIN(TestGridText)
#include "tst_gridtext.moc"
