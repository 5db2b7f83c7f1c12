// The exact texts of the per-process command batches, and the quoting of their text
// arguments.

#include "engine/Processcommands.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

// Joins lines with CR LF, without a line break at the end, as the batches are sent.
std::string Lines(std::initializer_list<const char*> lines)
{
    std::string text;
    for (const char* line : lines) {
        if (!text.empty())
            text += "\r\n";
        text += line;
    }
    return text;
}

const std::string KillCursorOpening = Lines({
    "declare @spid int",
    "declare @sql varchar(16)",
    "declare @nsql nvarchar(16)",
    "declare getspid cursor for",
    "select distinct spid from sysprocesses",
    "where spid <> @@spid",
    "and login_time > (select min(login_time) from sysprocesses where spid < 10)",
}) + "\r\n";

const std::string KillCursorClosing = Lines({
    "open getspid",
    "fetch getspid into @spid",
    "while @@fetch_status = 0",
    "begin",
    "    set @nsql = cast('kill ' + cast(@spid as varchar(10)) as nvarchar(16))",
    "    execute sp_executesql @nsql",
    "    fetch getspid into @spid",
    "end",
    "close getspid",
    "deallocate getspid",
    "select 1 as aaa",
});

// The variables a piece of T-SQL names, lower-cased, each with the spellings used.
QHash<QString, QSet<QString>> VariableSpellings(const QString& sql)
{
    QHash<QString, QSet<QString>> spellings;
    static const QRegularExpression variable(QStringLiteral("(?<!@)@[A-Za-z_][A-Za-z0-9_]*"));
    for (const auto& match : variable.globalMatch(sql))
        spellings[match.captured().toLower()].insert(match.captured());
    return spellings;
}

// Splits a batch into its own code and the text of its string literals (where the
// inner batch it builds lives), with doubled quotes undone.
std::pair<QString, QString> CodeAndLiterals(const std::string& batch)
{
    QString code;
    QString literals;
    bool inLiteral = false;
    const QString text = QString::fromStdString(batch);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\'') {
            if (inLiteral && i + 1 < text.size() && text.at(i + 1) == u'\'') {
                literals += c;
                ++i;
                continue;
            }
            inLiteral = !inLiteral;
            (inLiteral ? literals : code) += u' ';
            continue;
        }
        (inLiteral ? literals : code) += c;
    }
    return {code, literals};
}

} // namespace

class TestProcessCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sqlUnicodeLiteral_data();
    void sqlUnicodeLiteral();
    void killProcessBatch_data();
    void killProcessBatch();
    void killShownProcessBatch();
    void killDatabaseProcessesBatch_data();
    void killDatabaseProcessesBatch();
    void killUserProcessesBatch_data();
    void killUserProcessesBatch();
    void inputBufferBatch_data();
    void inputBufferBatch();
    void statementTextBatchLayout_data();
    void statementTextBatchLayout();
    void statementTextBatchSpellsEachVariableOneWay();
    void statementDescription_data();
    void statementDescription();
};

void TestProcessCommands::sqlUnicodeLiteral_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Sales" << "N'Sales'";
    QTest::newRow("empty") << "" << "''";
    QTest::newRow("one quote") << "O'Brien" << "N'O''Brien'";
    QTest::newRow("quotes only") << "''" << "N''''''";
    QTest::newRow("closing the literal") << "x'); drop table t --" << "N'x''); drop table t --'";
    QTest::newRow("utf-8 kept") << "Bücher" << "N'Bücher'";
    QTest::newRow("outside the code page") << "Иван" << "N'Иван'";
}

void TestProcessCommands::sqlUnicodeLiteral()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(SqlUnicodeLiteral(text.toStdString())), expected);
}

// With the process shown, the batch kills only while the spid has its login time (to the
// second, written as the server reads it in any language) and login; the other lines
// are the plain kill's.
void TestProcessCommands::killShownProcessBatch()
{
    const TDateTime loggedOn = EncodeDateTime(QDate(2026, 12, 11), QTime(23, 59, 59, 700));
    const std::string batch = KillProcessBatch(57, TShownProcess{loggedOn, "O'Brien"});
    QCOMPARE(QString::fromStdString(batch), QString::fromStdString(Lines({
        "declare @returncode int",
        "declare @logintime datetime",
        "if @@spid = 57",
        "    set @returncode = -1",
        "else if (select top 1 case when login_time = (select min(login_time) from sysprocesses where spid < 10)",
        "                     then 'Y'",
        "                     else 'N'",
        "                end",
        "         from sysprocesses",
        "         where spid = 57) = 'Y'",
        "    set @returncode = -2",
        "else if exists(select 1 from sysprocesses where spid = 57)",
        "     and not exists(select 1 from sysprocesses where spid = 57",
        "                    and login_time >= '2026-12-11T23:59:59'",
        "                    and login_time < '2026-12-12T00:00:00'",
        "                    and loginame = N'O''Brien')",
        "begin",
        "    select @logintime = login_time from sysprocesses where spid = 57 and ecid = 0",
        "    set @returncode = -3",
        "end",
        "else",
        "begin",
        "    if exists(select 1 from sysprocesses where spid = 57)",
        "        kill 57",
        "    set @returncode = 1",
        "end",
        "select @returncode as returncode, @logintime as logintime",
    })));
    // Without a login, the login time alone.
    QVERIFY(!QString::fromStdString(KillProcessBatch(57, TShownProcess{loggedOn, ""})).contains("loginame"));
}

void TestProcessCommands::killProcessBatch_data()
{
    QTest::addColumn<int>("spid");
    QTest::addColumn<QString>("spidText");
    QTest::newRow("57") << 57 << "57";
    QTest::newRow("1") << 1 << "1";
    QTest::newRow("largest") << 32767 << "32767";
}

void TestProcessCommands::killProcessBatch()
{
    QFETCH(int, spid);
    QFETCH(QString, spidText);
    const std::string for57 = Lines({
        "declare @returncode int",
        "if @@spid = 57",
        "    set @returncode = -1",
        "else if (select top 1 case when login_time = (select min(login_time) from sysprocesses where spid < 10)",
        "                     then 'Y'",
        "                     else 'N'",
        "                end",
        "         from sysprocesses",
        "         where spid = 57) = 'Y'",
        "    set @returncode = -2",
        "else",
        "begin",
        "    if exists(select 1 from sysprocesses where spid = 57)",
        "        kill 57",
        "    set @returncode = 1",
        "end",
        "select @returncode as returncode",
    });
    QCOMPARE(QString::fromStdString(KillProcessBatch(spid)),
             QString::fromStdString(for57).replace(QStringLiteral("57"), spidText));
}

void TestProcessCommands::killDatabaseProcessesBatch_data()
{
    QTest::addColumn<QString>("databaseName");
    QTest::addColumn<QString>("filter");
    QTest::newRow("Sales") << "Sales" << "and dbid = db_id(N'Sales')";
    QTest::newRow("quote doubled") << "O'Brien" << "and dbid = db_id(N'O''Brien')";
    QTest::newRow("cannot end the literal")
        << "x') kill 1 --" << "and dbid = db_id(N'x'') kill 1 --')";
    QTest::newRow("empty") << "" << "and dbid = db_id('')";
}

void TestProcessCommands::killDatabaseProcessesBatch()
{
    QFETCH(QString, databaseName);
    QFETCH(QString, filter);
    QCOMPARE(QString::fromStdString(KillDatabaseProcessesBatch(databaseName.toStdString())),
             QString::fromStdString(KillCursorOpening + filter.toStdString() + "\r\n"
                                    + KillCursorClosing));
}

void TestProcessCommands::killUserProcessesBatch_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("filters");
    QTest::newRow("server login on a host")
        << "appuser" << "" << "" << "WS01"
        << "and loginame = N'appuser'\r\n"
           "and isnull(nt_domain,'') = ''\r\n"
           "and isnull(nt_username,'') = ''\r\n"
           "and isnull(hostname,'') = N'WS01'\r\n";
    QTest::newRow("windows user, no host")
        << "CORP\\ann" << "CORP" << "ann" << ""
        << "and loginame = N'CORP\\ann'\r\n"
           "and isnull(nt_domain,'') = N'CORP'\r\n"
           "and isnull(nt_username, '') = N'ann'\r\n"
           "and isnull(hostname,'') = ''\r\n";
    QTest::newRow("quotes in every value")
        << "O'Brien" << "D'OM" << "o'b" << "pc'1"
        << "and loginame = N'O''Brien'\r\n"
           "and isnull(nt_domain,'') = N'D''OM'\r\n"
           "and isnull(nt_username, '') = N'o''b'\r\n"
           "and isnull(hostname,'') = N'pc''1'\r\n";
}

void TestProcessCommands::killUserProcessesBatch()
{
    QFETCH(QString, login);
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, host);
    QFETCH(QString, filters);
    QCOMPARE(QString::fromStdString(KillUserProcessesBatch(login.toStdString(), domain.toStdString(),
                                                           user.toStdString(), host.toStdString())),
             QString::fromStdString(KillCursorOpening + filters.toStdString() + KillCursorClosing));
}

void TestProcessCommands::inputBufferBatch_data()
{
    QTest::addColumn<int>("spid");
    QTest::addColumn<QString>("expected");
    QTest::newRow("53") << 53
                        << "DBCC INPUTBUFFER (53)\r\nIF @@RowCount = 0\r\n"
                           "SELECT 'NONE' EventType,0 Parameters,'<No SQL Found>' EventInfo";
    QTest::newRow("32767") << 32767
                           << "DBCC INPUTBUFFER (32767)\r\nIF @@RowCount = 0\r\n"
                              "SELECT 'NONE' EventType,0 Parameters,'<No SQL Found>' EventInfo";
}

void TestProcessCommands::inputBufferBatch()
{
    QFETCH(int, spid);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(InputBufferBatch(spid)), expected);
}

void TestProcessCommands::statementTextBatchLayout_data()
{
    QTest::addColumn<int>("spid");
    QTest::newRow("2 digits") << 57;
    QTest::newRow("5 digits") << 32767;
}

void TestProcessCommands::statementTextBatchLayout()
{
    QFETCH(int, spid);
    const QString batch = QString::fromStdString(StatementTextBatch(spid));
    const QString id = QString::number(spid);
    QVERIFY(batch.startsWith(QStringLiteral("declare @sql varchar(1200)\r\n")));
    QVERIFY(batch.endsWith(QStringLiteral(
        "\r\nselect  0 as stmt_start, 0 as stmt_end, '<NONE>' as objectname, 'N' as encrypted, "
        "'<NONE>' as sqltext")));
    // The spid closes the outer lookup and the inner batch's literal, nowhere else.
    QCOMPARE(batch.count(QStringLiteral("from sysprocesses where spid = ") + id + QStringLiteral("  and ecid = 0\r\n")), 1);
    QCOMPARE(batch.count(QStringLiteral("'where spid = ") + id + QStringLiteral("' + char(13) + char(10) +\r\n")), 1);
    QCOMPARE(batch.count(id), 2);
    // Every line break is CR LF; a lone LF or CR would change what the server parses.
    QCOMPARE(batch.count(u'\n'), batch.count(QStringLiteral("\r\n")));
    QCOMPARE(batch.count(u'\r'), batch.count(QStringLiteral("\r\n")));
    QCOMPARE(batch.count(QStringLiteral("\r\n")), 58);
    // The database's name enters the built statement as an identifier, and the
    // statement's length counts its last character.
    QCOMPARE(batch.count(QStringLiteral(
                 "\r\nset @sql = @sql + 'use ' + quotename(@databasename) + char(13) + char(10)\r\n")),
             1);
    QCOMPARE(batch.count(QStringLiteral("@databasename")), 4);
    QCOMPARE(batch.count(QStringLiteral(
                 "\r\n'case when (@stmt_end - @stmt_start) < 1 then DATALENGTH(text) "
                 "else (@stmt_end - @stmt_start + 2) end' + char(13) + char(10) + \r\n")),
             1);
    // The client's text never holds the two colons of ::fn_get_sql.
    QVERIFY(!batch.contains(QStringLiteral("::")));
    QVERIFY(batch.contains(QStringLiteral("'FROM ' + char(58) + char(58) + 'fn_get_sql(")));
}

void TestProcessCommands::statementTextBatchSpellsEachVariableOneWay()
{
    // The outer batch and the batch it builds in its literals are separate scopes;
    // within each, a case-sensitive collation needs one spelling per variable.
    const auto [code, literals] = CodeAndLiterals(StatementTextBatch(57));
    for (const QString& scope : {code, literals}) {
        const auto spellings = VariableSpellings(scope);
        QVERIFY(spellings.size() >= 5);
        for (auto it = spellings.cbegin(); it != spellings.cend(); ++it)
            QVERIFY2(it.value().size() == 1,
                     qPrintable(QStringList(it.value().values()).join(QStringLiteral(", "))));
    }
    QVERIFY(VariableSpellings(code).contains(QStringLiteral("@databasename")));
    QVERIFY(VariableSpellings(literals).contains(QStringLiteral("@sql_handle")));
}

void TestProcessCommands::statementDescription_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("encrypted");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("expected");
    QTest::newRow("encrypted procedure") << "MyProc" << "Y" << 10 << 52 << "MyProc (Encrypted) [pos 10:52]";
    QTest::newRow("whole batch") << "<BATCH>" << "N" << 0 << 0 << "<BATCH>";
    QTest::newRow("flag is case-sensitive") << "p" << "y" << 0 << 0 << "p";
    QTest::newRow("unavailable") << "?" << "?" << 0 << 0 << "?";
    QTest::newRow("end -1") << "<BATCH>" << "N" << 5 << -1 << "<BATCH> [pos 5:-1]";
    QTest::newRow("sum not above 0") << "<BATCH>" << "N" << 1 << -1 << "<BATCH>";
}

void TestProcessCommands::statementDescription()
{
    QFETCH(QString, objectName);
    QFETCH(QString, encrypted);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(StatementDescription(objectName.toStdString(),
                                                         encrypted.toStdString(), start, end)),
             expected);
}

QTEST_GUILESS_MAIN(TestProcessCommands)
#include "tst_processcommands.moc"
