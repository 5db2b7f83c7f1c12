// The values of date-time texts remembered across refreshes: a text is parsed once while
// refreshes keep asking for it, one left unasked is forgotten once the table has grown,
// and the texts that fail to parse are remembered as failing.

#include "model/Datetimetextcache.h"

#include <QtTest>

#include <map>
#include <string>

class TestDateTimeTextCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesEachTextOnceWhileItIsAsked();
    void forgetsTextsNoLongerAskedFor();
};

namespace {
// A parser that counts its calls per text: "n" parses to n, anything else fails.
struct TCountingParser
{
    std::map<std::string, int> Calls;
    TDateTimeTextParser Parser()
    {
        return [this](std::string_view text) -> std::optional<double> {
            ++Calls[std::string(text)];
            bool ok = false;
            const double value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toDouble(&ok);
            return ok ? std::optional<double>(value) : std::nullopt;
        };
    }
};
} // namespace

void TestDateTimeTextCache::parsesEachTextOnceWhileItIsAsked()
{
    TCountingParser counting;
    TDateTimeTextCache cache(counting.Parser());
    for (int refresh = 0; refresh < 5; ++refresh) {
        // Repeats in a row, a text coming back after another, and one that fails.
        for (const char* text : {"1", "1", "2", "1", "bad", "2", "bad"})
            QCOMPARE(cache.Value(text), std::string_view(text) == "bad"
                                            ? std::nullopt
                                            : std::optional<double>(std::stod(text)));
        // Thousands of others, so that sweeps happen, each asked for once only.
        for (int other = 0; other < 1000; ++other)
            cache.Value(std::to_string(1000 + refresh * 1000 + other));
        cache.NextRefresh();
    }
    QCOMPARE(counting.Calls["1"], 1);
    QCOMPARE(counting.Calls["2"], 1);
    QCOMPARE(counting.Calls["bad"], 1);
}

void TestDateTimeTextCache::forgetsTextsNoLongerAskedFor()
{
    TCountingParser counting;
    TDateTimeTextCache cache(counting.Parser());
    cache.Value("7");
    cache.NextRefresh();
    // Asked in the refresh after: still known.
    cache.Value("7");
    cache.NextRefresh();
    QCOMPARE(counting.Calls["7"], 1);
    // Two refreshes without it, with enough other texts for the table to be swept.
    for (int refresh = 0; refresh < 4; ++refresh) {
        for (int other = 0; other < 1000; ++other)
            cache.Value(std::to_string(10000 + refresh * 1000 + other));
        cache.NextRefresh();
    }
    QCOMPARE(cache.Value("7"), std::optional<double>(7));
    QCOMPARE(counting.Calls["7"], 2);
    // The others of the last refresh are still known, those of the first are not.
    cache.Value("13999");
    cache.Value("10000");
    QCOMPARE(counting.Calls["13999"], 1);
    QCOMPARE(counting.Calls["10000"], 2);
}

QTEST_GUILESS_MAIN(TestDateTimeTextCache)
#include "tst_datetimetextcache.moc"
