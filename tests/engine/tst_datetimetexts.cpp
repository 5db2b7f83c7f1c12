// The snapshot's date-times carried as whole seconds and made texts once per value: the
// text of a value's second is the text of the value itself, in every locale.

#include "engine/Datetimetexts.h"

#include <QtTest>

class TestDateTimeTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textOfTheSecondIsTheTextOfTheValue_data();
    void textOfTheSecondIsTheTextOfTheValue();
    void textsOutliveTheRefreshAfterTheirLastUse();
    void placesGiveTheTextOfTheirCurrentValue();
    void secondOfTheDriversParts_data();
    void secondOfTheDriversParts();
};

void TestDateTimeTexts::textOfTheSecondIsTheTextOfTheValue_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");

    const double millisecond = 1.0 / 86400000.0;
    const double oneAfternoon = 45000 + 15.0 / 24 + 4.0 / 1440 + 5.0 / 86400; // 15:04:05
    for (const char* locale : {"en_US", "de_DE", "sq_AL", "fa_IR", "C"}) {
        const auto row = [&](const char* name, double value) {
            QTest::addRow("%s, %s", locale, name) << QString::fromLatin1(locale) << value;
        };
        row("afternoon", oneAfternoon);
        row("its last millisecond", oneAfternoon + 999 * millisecond);
        row("half a millisecond before the next second", oneAfternoon + 999.6 * millisecond);
        row("midnight: the date alone", 45001);
        row("a hair before midnight", 45001 - 0.4 * millisecond);
        row("the base date's afternoon", 0.75);
        row("a day before the base date", -1.25);
        row("first day of the value's range", -693593 + 0.5);
        row("outside the value's range", 3e6);
    }
}

void TestDateTimeTexts::textOfTheSecondIsTheTextOfTheValue()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    const QLocale previous;
    QLocale::setDefault(QLocale(locale));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });
    TDateTimeTexts texts;
    texts.NextRefresh();
    const TDateTimeSeconds seconds = SecondsOf(value);
    const std::string text(texts.Text(seconds));
    QCOMPARE(QString::fromStdString(text), QString::fromStdString(DateTimeToText(value)));
    // The value the summaries compare a snapshot's time by is the one its text parses to.
    if (!text.empty())
        QCOMPARE(std::optional<TDateTime>(ValueOfSeconds(seconds)), TextToDateTime(text));
}

void TestDateTimeTexts::textsOutliveTheRefreshAfterTheirLastUse()
{
    // A text is kept while the last refresh used it; a text no refresh used for a whole
    // refresh is made afresh (in the locale of the moment).
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    TDateTimeTexts texts;
    const TDateTimeSeconds second = SecondsOf(45000.5);
    texts.NextRefresh();
    const std::string_view first = texts.Text(second);
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    texts.NextRefresh();
    QCOMPARE(texts.Text(second).data(), first.data());
    texts.NextRefresh();
    texts.NextRefresh();
    QCOMPARE(QString::fromStdString(std::string(texts.Text(second))),
             QString::fromStdString(DateTimeToText(45000.5)));
    QLocale::setDefault(QLocale::c());
}

void TestDateTimeTexts::placesGiveTheTextOfTheirCurrentValue()
{
    // A place keeps its text while its value stays and takes the new value's text when
    // it changes; places outside the remembered range, and texts too long to keep
    // there, come from the table.
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    TDateTimeTexts texts;
    const TDateTimeSeconds morning = SecondsOf(45000.25), evening = SecondsOf(45000.75);
    const auto text = [](TDateTimeSeconds seconds) { return DateTimeToText(seconds / 86400.0); };
    for (const std::int32_t place : {0, 1, 65535, 65536, -1}) {
        for (const TDateTimeSeconds value : {morning, morning, evening, NoDateTime, morning}) {
            texts.NextRefresh();
            QCOMPARE(std::string(texts.Text(value, place)),
                     value == NoDateTime ? std::string() : text(value));
        }
    }
}

void TestDateTimeTexts::secondOfTheDriversParts_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<uint>("fraction"); // nanoseconds
    QTest::addColumn<bool>("exists");
    const QTime afternoon(15, 4, 5);
    QTest::newRow("afternoon") << QDate(2026, 12, 10) << afternoon << 0u << true;
    QTest::newRow("a server's 1/300 s") << QDate(2026, 12, 10) << afternoon << 996666667u << true;
    QTest::newRow("rounds to the next second") << QDate(2026, 12, 10) << afternoon << 999600000u << true;
    QTest::newRow("rounds to the next day") << QDate(2026, 12, 31) << QTime(23, 59, 59) << 999700000u << true;
    QTest::newRow("a system process's login") << QDate(1900, 1, 1) << QTime(0, 0) << 0u << true;
    QTest::newRow("leap day") << QDate(2024, 2, 29) << afternoon << 0u << true;
    QTest::newRow("leap day of a century") << QDate(2000, 2, 29) << QTime(0, 0, 1) << 0u << true;
    QTest::newRow("the base date") << QDate(1899, 12, 30) << QTime(0, 0) << 0u << true;
    QTest::newRow("the second before it") << QDate(1899, 12, 29) << QTime(23, 59, 59) << 0u << true;
    QTest::newRow("first day of the range") << QDate(1, 1, 1) << QTime(12, 0) << 0u << true;
    QTest::newRow("last day of the range") << QDate(9999, 12, 31) << QTime(23, 59, 59) << 0u << true;
    QTest::newRow("no 29 February") << QDate() << QTime(0, 0) << 0u << false;
}

void TestDateTimeTexts::secondOfTheDriversParts()
{
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QFETCH(uint, fraction);
    QFETCH(bool, exists);
    if (!exists) {
        QCOMPARE(SecondsOf(2023, 2, 29, 0, 0, 0, 0), NoDateTime);
        QCOMPARE(SecondsOf(2023, 13, 1, 0, 0, 0, 0), NoDateTime);
        QCOMPARE(SecondsOf(2023, 1, 1, 24, 0, 0, 0), NoDateTime);
        return;
    }
    const TDateTimeSeconds seconds =
        SecondsOf(date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), fraction);
    // The calendar's own count, the fraction rounded to the millisecond first.
    const QDateTime exact = QDateTime(date, time).addMSecs((fraction + 500000) / 1000000);
    QCOMPARE(seconds,
             QDate(1899, 12, 30).daysTo(exact.date()) * 86400 + exact.time().msecsSinceStartOfDay() / 1000);
    // From the base date on, the second of the value the driver's parts make, as before.
    if (date >= QDate(1899, 12, 30))
        QCOMPARE(seconds, SecondsOf(EncodeDateTime(date, time) + (fraction / 1e9) / 86400));
}

QTEST_GUILESS_MAIN(TestDateTimeTexts)
#include "tst_datetimetexts.moc"
