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
    QCOMPARE(QString::fromStdString(std::string(texts.Text(SecondsOf(value)))),
             QString::fromStdString(DateTimeToText(value)));
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

QTEST_GUILESS_MAIN(TestDateTimeTexts)
#include "tst_datetimetexts.moc"
