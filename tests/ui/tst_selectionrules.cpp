// How the process views keep the selection across a refill: the real model fills write
// the rows before and after a refresh, and the rules pick the row to select.

#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "tests/support/Modelfixture.h"
#include "ui/Selectionrules.h"

#include <QtTest>

#include <array>
#include <vector>

namespace {

constexpr std::array<int32_t, 12> Identity = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

// One snapshot row per name: "login@host" for users, a database name, or a SPID.
std::vector<TRow> Rows(const QString& kind, const QStringList& names)
{
    std::vector<TRow> rows;
    int32_t spid = 51;
    for (const QString& name : names) {
        if (kind == QLatin1String("users")) {
            const QStringList parts = name.split(QLatin1Char('@'));
            rows.push_back(TRow(spid++).Login(parts[0].toStdString()).Host(parts.value(1).toStdString()));
        } else if (kind == QLatin1String("databases")) {
            rows.push_back(TRow(spid++).Db(name.toStdString()));
        } else {
            rows.push_back(TRow(name.toInt()));
        }
    }
    return rows;
}

void Feed(TTorvaneProcessCategories& model, const std::vector<TRow>& rows)
{
    model.BeginRefresh();
    for (const TRow& row : rows)
        model.AddProcess(row);
    model.EndRefresh();
}

// The models of one server, each fill writing into the grid a view keeps.
struct TServer
{
    TTorvaneProcessUsers Users{ParseTestDateTime};
    TTorvaneProcessDatabases Databases{ParseTestDateTime};
    TTorvaneProcessUserProcesses Processes;

    void Refresh(const QString& kind, const QStringList& names)
    {
        const std::vector<TRow> rows = Rows(kind, names);
        Feed(Users, rows);
        Feed(Databases, rows);
        Feed(Processes, rows);
    }
    void Fill(const QString& kind, TStringGrid& grid) const
    {
        if (kind == QLatin1String("users"))
            Users.FillUserGrid(grid, Identity, false);
        else if (kind == QLatin1String("databases"))
            Databases.FillDatabaseGrid(grid, Identity, false);
        else
            Processes.FillProcessGrid(grid, false);
    }
};

} // namespace

class TestSelectionRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void selectionFollowsAcrossRefill_data();
    void selectionFollowsAcrossRefill();
    void spidOfRowWithoutProcess();
    void spidRowInAnyOrder_data();
    void spidRowInAnyOrder();
};

void TestSelectionRules::selectionFollowsAcrossRefill_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("selectedRow");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("otherServer");
    QTest::addColumn<int>("expectedRow");
    QTest::addColumn<QString>("expectedCell"); // column 1 of the row selected after

    const QString users = QStringLiteral("users");
    const QString databases = QStringLiteral("databases");
    const QString processes = QStringLiteral("processes");
    using L = QStringList;

    QTest::newRow("user stays on its row")
        << users << L{"ann@H1", "bob@H1"} << 2 << L{"ann@H1", "bob@H1"} << false << 2 << "bob";
    QTest::newRow("user logs off: the next user")
        << users << L{"ann@H1", "bob@H1", "cid@H1"} << 2 << L{"ann@H1", "cid@H1"} << false << 2 << "cid";
    QTest::newRow("new user sorts before: follows")
        << users << L{"bob@H1", "cid@H1"} << 2 << L{"ann@H1", "bob@H1", "cid@H1"} << false << 3 << "cid";
    QTest::newRow("last user gone: the new last row")
        << users << L{"ann@H1", "bob@H1", "cid@H1"} << 3 << L{"ann@H1", "bob@H1"} << false << 2 << "bob";
    QTest::newRow("same login on another host is another user")
        << users << L{"ann@H2", "bob@H1"} << 1 << L{"ann@H1", "ann@H2", "bob@H1"} << false << 2 << "ann";
    QTest::newRow("user written in another case on another server")
        << users << L{"adam@H1", "appuser@APP"} << 2 << L{"adam@H1", "APPUSER@APP", "zed@H1"} << true << 2
        << "APPUSER";
    QTest::newRow("database gone: its successor") << databases << L{"master", "Sales", "tempdb"} << 2
                                                  << L{"master", "tempdb"} << false << 2 << "tempdb";
    QTest::newRow("databases equal but for case keep their rows")
        << databases << L{"Reporting", "reporting", "Sales"} << 2 << L{"Reporting", "reporting", "Sales"}
        << false << 2 << "reporting";
    QTest::newRow("process stays") << processes << L{"51", "52", "53"} << 2 << L{"50", "51", "52", "53"}
                                   << false << 3 << "52";
    QTest::newRow("process ends: next higher SPID")
        << processes << L{"51", "52", "53"} << 2 << L{"51", "53"} << false << 2 << "53";
    QTest::newRow("highest SPID ends: the last row")
        << processes << L{"51", "52", "53"} << 3 << L{"51", "52"} << false << 2 << "52";
    QTest::newRow("nothing selected: the first process")
        << processes << L{"51", "52"} << 0 << L{"51", "52"} << false << 1 << "51";
    QTest::newRow("server switch keeps the SPID")
        << processes << L{"51", "55", "60"} << 2 << L{"52", "55", "70"} << true << 2 << "55";
    QTest::newRow("server switch without the SPID: next higher")
        << processes << L{"51", "55", "60"} << 2 << L{"52", "57"} << true << 2 << "57";
}

void TestSelectionRules::selectionFollowsAcrossRefill()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, before);
    QFETCH(int, selectedRow);
    QFETCH(QStringList, after);
    QFETCH(bool, otherServer);
    QFETCH(int, expectedRow);
    QFETCH(QString, expectedCell);

    TServer first, second;
    TMemoryStringGrid grid(kind == QLatin1String("processes") ? 16 : 12, 1);
    first.Refresh(kind, before);
    first.Fill(kind, grid);

    // Remember, refill, restore: what a view does on every refresh.
    const TUserRowKey user = UserRowKey(grid, selectedRow);
    const std::string database = grid.Cell(1, selectedRow);
    const int32_t spid = RememberedSpid(grid, selectedRow);
    TServer& now = otherServer ? second : first;
    now.Refresh(kind, after);
    now.Fill(kind, grid);
    const int32_t row = kind == QLatin1String("users")       ? RestoreUserRow(grid, selectedRow, user)
                        : kind == QLatin1String("databases") ? RestoreDatabaseRow(grid, selectedRow, database)
                                                             : RestoreSpidRow(grid, spid);

    QCOMPARE(row, expectedRow);
    QCOMPARE(Q(grid.Cell(1, row)), expectedCell);
}

void TestSelectionRules::spidOfRowWithoutProcess()
{
    // A list without processes keeps one empty row: nothing to remember or to kill.
    TTorvaneProcessUserProcesses processes;
    TMemoryStringGrid grid(16, 1);
    processes.FillProcessGrid(grid, false);
    QCOMPARE(grid.RowCount(), 2);
    QVERIFY(!RowSpid(grid, 1));
    QCOMPARE(RememberedSpid(grid, 1), -1);
    QCOMPARE(RestoreSpidRow(grid, 57), 1);
}

void TestSelectionRules::spidRowInAnyOrder_data()
{
    QTest::addColumn<QStringList>("spids"); // the rows as a sorted or filtered list has them
    QTest::addColumn<int>("selectedSpid");
    QTest::addColumn<int>("expectedRow");

    QTest::newRow("the process itself, wherever the order put it")
        << QStringList{"70", "52", "61"} << 52 << 2;
    QTest::newRow("gone: the next higher SPID, not the next row") << QStringList{"70", "52", "61"} << 55 << 3;
    QTest::newRow("gone and highest: the last row") << QStringList{"52", "70", "61"} << 90 << 3;
    QTest::newRow("nothing remembered: the lowest SPID") << QStringList{"70", "52", "61"} << -1 << 2;
    QTest::newRow("no process: the empty row") << QStringList{""} << 52 << 1;
}

void TestSelectionRules::spidRowInAnyOrder()
{
    QFETCH(QStringList, spids);
    QFETCH(int, selectedSpid);
    QFETCH(int, expectedRow);
    TMemoryStringGrid grid(16, static_cast<int32_t>(spids.size()) + 1);
    for (int row = 1; row <= spids.size(); ++row)
        grid.SetCell(1, row, spids[row - 1].toStdString());
    QCOMPARE(RestoreSpidRowInAnyOrder(grid, selectedSpid), expectedRow);
}

QTEST_GUILESS_MAIN(TestSelectionRules)
#include "tst_selectionrules.moc"
