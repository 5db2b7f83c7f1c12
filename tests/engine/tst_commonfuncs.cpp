// Date-time texts: every text written in any locale Qt knows is clean and reads back to
// the same second, the time is left out at midnight, and the running-time text.

#include "engine/Commonfuncs.h"

#include <QtTest>

namespace
{
const char* const Locales[] = {"C", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "ru_RU"};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return EncodeDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

// The value truncated to its second, which is what a text can carry.
TDateTime ToSecond(TDateTime value)
{
    const QTime t = TimeOf(value);
    return EncodeDateTime(DateOf(value), QTime(t.hour(), t.minute(), t.second()));
}
} // namespace

class TestCommonFuncs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void roundTrip_data();
    void roundTrip();
    void everyLocale_data();
    void everyLocale();
    void timeOfDayWriterWritesQtsTexts();
    void texts_data();
    void texts();
    void rejectsOtherTexts_data();
    void rejectsOtherTexts();
    void runningTime_data();
    void runningTime();
    void currentDateTimeIsLocal();
};

void TestCommonFuncs::cleanup()
{
    QLocale::setDefault(QLocale::system());
}

void TestCommonFuncs::roundTrip_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<TDateTime>("value");

    const struct
    {
        const char* Name;
        TDateTime Value;
    } values[] = {
        {"afternoon with milliseconds", At(2026, 12, 10, 16, 5, 9, 750)},
        {"midnight", At(1999, 1, 2)},
        {"one second past midnight", At(2030, 7, 4, 0, 0, 1)},
        {"noon", At(2000, 2, 29, 12)},
        {"last second of the day", At(2026, 12, 31, 23, 59, 59, 999)},
        {"a year a two-digit form would misread", At(1926, 2, 1, 13, 0, 0)},
        {"the zero date-time", 0.0},
        {"before the zero date-time", -1.25},
        {"a summer-time gap in Europe", At(2026, 3, 29, 2, 30)},
    };
    for (const char* locale : Locales) {
        for (const auto& v : values)
            QTest::newRow(QByteArray(locale).append(", ").append(v.Name).constData()) << QString(locale) << v.Value;
    }
}

void TestCommonFuncs::roundTrip()
{
    QFETCH(QString, locale);
    QFETCH(TDateTime, value);
    if (QLocale(locale).name() != locale)
        QSKIP(qPrintable("Locale " + locale + " is not available to Qt here"));
    QLocale::setDefault(QLocale(locale));

    const std::string text = DateTimeToText(value);
    const std::optional<TDateTime> back = TextToDateTime(text);
    QVERIFY2(back.has_value(), text.c_str());
    QCOMPARE(DateTimeToText(*back), text);
    QCOMPARE(SecondsBetween(*back, ToSecond(value)), 0);
    QCOMPARE(DateOf(*back), DateOf(value));
}

void TestCommonFuncs::everyLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    for (const QLocale& locale : locales) {
        QTest::addRow("%s_%s_%s", qPrintable(QLocale::languageToCode(locale.language())),
                      qPrintable(QLocale::scriptToCode(locale.script())),
                      qPrintable(QLocale::territoryToCode(locale.territory())))
            << locale;
    }
}

void TestCommonFuncs::timeOfDayWriterWritesQtsTexts()
{
    // Where the writer takes a locale on, it writes what Qt writes, at any time of day;
    // the usual locales it does take on.
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    int usable = 0;
    for (const QLocale& locale : locales) {
        const TTimeOfDayWriter writer(locale);
        if (!writer.Usable())
            continue;
        ++usable;
        for (int hour = 0; hour < 24; ++hour) {
            for (const int minute : {0, 1, 9, 10, 30, 59}) {
                for (const int second : {0, 5, 59}) {
                    std::string text;
                    writer.Append(text, hour, minute, second);
                    const std::string qt = TimeOfDayToText(QTime(hour, minute, second), locale);
                    QVERIFY2(text == qt, qPrintable(locale.name() + QStringLiteral(": ") +
                                                   QString::fromStdString(text) + QStringLiteral(" / ") +
                                                   QString::fromStdString(qt)));
                }
            }
        }
    }
    for (const char* name : {"C", "en_US", "de_DE", "en_GB", "fr_FR"})
        QVERIFY2(TTimeOfDayWriter(QLocale(QLatin1String(name))).Usable(), name);
    qInfo("time-of-day writer usable for %d of %d locales", usable, static_cast<int>(locales.size()));
}

void TestCommonFuncs::everyLocale()
{
    QFETCH(QLocale, locale);
    // Morning and afternoon (locales that put AM/PM first read them differently), the
    // 12 o'clocks, both ends of a day, and dates whose day and month have one digit.
    const TDateTime values[] = {
        At(2026, 12, 10, 16, 5, 9),
        At(2026, 12, 10, 4, 5, 9),
        At(2000, 2, 29, 12, 30),
        At(1926, 2, 1, 0, 30),
        At(2030, 7, 4, 0, 0, 1),
        At(2026, 1, 2, 23, 59, 59),
        At(2026, 1, 2),
        -1.25,
    };
    const auto separator = [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Format || c == u',';
    };
    for (const TDateTime value : values) {
        const std::string text = DateTimeToText(value, locale);
        const QString shown = QString::fromStdString(text);
        // What stood around the zone goes with it.
        QVERIFY2(!shown.isEmpty() && !separator(shown.front()) && !separator(shown.back()), text.c_str());
        for (const char* trace : {"()", "[]", "( )", "[ ]", ", ,", "  "})
            QVERIFY2(!shown.contains(QLatin1String(trace)), text.c_str());
        const QString zone = QDateTime(DateOf(value), TimeOf(value)).timeZoneAbbreviation();
        QVERIFY2(zone.isEmpty() || !shown.contains(zone), text.c_str());

        const std::optional<TDateTime> back = TextToDateTime(text, locale);
        QVERIFY2(back.has_value(), text.c_str());
        QCOMPARE(SecondsBetween(*back, ToSecond(value)), 0);
        QCOMPARE(DateOf(*back), DateOf(value));
        QCOMPARE(DateTimeToText(*back, locale), text);
    }
}

void TestCommonFuncs::texts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<TDateTime>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("en_US") << "en_US" << At(2026, 1, 2, 16, 5, 9) << "1/2/2026 4:05:09 PM";
    QTest::newRow("en_US midnight") << "en_US" << At(2026, 1, 2) << "1/2/2026";
    QTest::newRow("en_GB") << "en_GB" << At(2026, 1, 2, 16, 5, 9) << "02/01/2026 16:05:09";
    QTest::newRow("de_DE") << "de_DE" << At(2026, 1, 2, 6, 5, 9) << "02.01.2026 06:05:09";
    QTest::newRow("de_DE midnight, milliseconds dropped") << "de_DE" << At(2026, 1, 2, 0, 0, 0, 400)
                                                          << "02.01.2026";
    QTest::newRow("C") << "C" << At(2026, 1, 2, 16, 5, 9) << "2 Jan 2026 16:05:09";
    // Locales whose long time holds the zone between other fields' separators or brackets.
    QTest::newRow("sq_AL, after a comma")
        << "sq_AL" << At(2026, 1, 2, 16, 5, 9) << "2.1.2026 4:05:09 E PASDITES";
    QTest::newRow("eu_ES, in brackets") << "eu_ES" << At(2026, 1, 2, 16, 5, 9) << "2026/1/2 16:05:09";
    QTest::newRow("bg_BG, after a quoted word")
        << "bg_BG" << At(2026, 1, 2, 16, 5, 9) << "2.01.2026 г. 16:05:09 ч.";
    QTest::newRow("zh_CN, first") << "zh_CN" << At(2026, 1, 2, 16, 5, 9) << "2026/1/2 16:05:09";
}

void TestCommonFuncs::texts()
{
    QFETCH(QString, locale);
    QFETCH(TDateTime, value);
    QFETCH(QString, text);
    if (QLocale(locale).name() != locale)
        QSKIP(qPrintable("Locale " + locale + " is not available to Qt here"));

    // Newer locale data puts a narrow no-break space before AM and PM.
    const auto plain = [](const std::string& s) { return QString::fromStdString(s).replace(u'\u202f', u' '); };
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(plain(DateTimeToText(value)), text);
    QCOMPARE(plain(DateTimeToText(value, QLocale(locale))), text);
}

void TestCommonFuncs::rejectsOtherTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("words") << "yesterday at noon";
    QTest::newRow("no such day") << "31.02.2026 10:00:00";
    QTest::newRow("no such hour") << "02.01.2026 25:00:00";
    QTest::newRow("time alone") << "10:00:00";
}

void TestCommonFuncs::rejectsOtherTexts()
{
    QFETCH(QString, text);
    QCOMPARE(TextToDateTime(text.toStdString(), QLocale(QLocale::German, QLocale::Germany)), std::nullopt);
}

void TestCommonFuncs::runningTime_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("one of each") << qint64(90061) << "Running for 1 days, 1 hours, 1 minutes and 1 seconds";
    QTest::newRow("nothing yet") << qint64(0) << "Running for 0 days, 0 hours, 0 minutes and 0 seconds";
    QTest::newRow("an hour less a second") << qint64(3599)
                                           << "Running for 0 days, 0 hours, 59 minutes and 59 seconds";
    QTest::newRow("exactly an hour") << qint64(3600) << "Running for 0 days, 1 hours, 0 minutes and 0 seconds";
    QTest::newRow("exactly a day") << qint64(86400) << "Running for 1 days, 0 hours, 0 minutes and 0 seconds";
    QTest::newRow("server clock behind the start") << qint64(-90061)
                                                   << "Running for 1 days, 1 hours, 1 minutes and 1 seconds";
    QTest::newRow("years") << qint64(1000LL * 86400 + 23 * 3600 + 59)
                           << "Running for 1000 days, 23 hours, 0 minutes and 59 seconds";
}

void TestCommonFuncs::runningTime()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    // A start time whose fraction is not a whole second count in binary.
    const TDateTime start = At(2026, 3, 7, 8, 13, 27);
    const TDateTime now = start + static_cast<double>(seconds) / 86400.0;
    QCOMPARE(QString::fromStdString(RunningTimeText(now, start)), text);
}

void TestCommonFuncs::currentDateTimeIsLocal()
{
    // A zone of its own, half an hour off the whole hours, so neither UTC nor the
    // machine's zone can pass for it.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "TVN-5:30");
    tzset();
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const TDateTime now = CurrentDateTime();
    const QDateTime expected = utc.addSecs(5 * 3600 + 30 * 60);
    const double differenceSeconds =
        (now - EncodeDateTime(expected.date(), expected.time())) * 86400.0;
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
    QVERIFY2(differenceSeconds >= -0.001 && differenceSeconds < 2, QByteArray::number(differenceSeconds).constData());
}

QTEST_GUILESS_MAIN(TestCommonFuncs)
#include "tst_commonfuncs.moc"
