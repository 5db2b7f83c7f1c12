// The record buffer: growth in steps, positional insert and removal, and a block that
// cannot grow.

#include "model/Allocatedbuffer.h"
#include "model/Entrytable.h"

#include <QtTest>

#include <cstdio>
#include <random>
#include <set>
#include <vector>

namespace {

struct TEntry
{
    int32_t Key;
    char Text[12];
};

TEntry Make(int32_t key)
{
    TEntry entry{};
    entry.Key = key;
    std::snprintf(entry.Text, sizeof entry.Text, "e%d", key);
    return entry;
}

std::vector<int32_t> Keys(const AllocatedBuffer<TEntry>& buffer)
{
    std::vector<int32_t> keys;
    for (const TEntry& entry : buffer)
        keys.push_back(entry.Key);
    return keys;
}

struct TKeyOrder
{
    static int32_t KeyOf(const TEntry& entry) { return entry.Key; }
    static int Compare(int32_t a, int32_t b) { return a < b ? -1 : a > b ? 1 : 0; }
    // Few hash values, so that new keys collide in the table's index.
    static std::size_t Hash(int32_t key) { return static_cast<std::size_t>(key % 7); }
};

} // namespace

class TestAllocatedBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void growsInStepsKeepingEntries_data();
    void growsInStepsKeepingEntries();
    void largeBlockGrowsKeepingEntries();
    void insertAndRemoveByPosition_data();
    void insertAndRemoveByPosition();
    void bufferThatCannotGrowKeepsItsEntries();
    void preparedRoomIsOnlyAHint();
    void roomMadeAheadIsTakenOnlyByAnEmptyBuffer();
    void bufferWithoutBlockTakesNothing();
    void tableMergesNewKeysAtTheirPlaces();
    void tableRemembersTheEntryOfARowHash();
    void tableKeepsOrderThroughManyRefreshes();
    void tableFullTakesNewEntriesWhileThereIsRoom();
};

void TestAllocatedBuffer::growsInStepsKeepingEntries_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("capacity");
    QTest::newRow("initial room") << 150 << 150;
    QTest::newRow("151st entry grows by one step") << 151 << 175;
    QTest::newRow("two steps") << 176 << 200;
}

void TestAllocatedBuffer::growsInStepsKeepingEntries()
{
    QFETCH(int, entries);
    QFETCH(int, capacity);
    AllocatedBuffer<TEntry> buffer;
    for (int i = 0; i < entries; ++i)
        buffer.Append(Make(i));
    QVERIFY(buffer.Valid());
    QCOMPARE(buffer.Capacity(), capacity);
    QCOMPARE(buffer.Count(), entries);
    for (int i = 0; i < entries; ++i) {
        QCOMPARE(buffer[i].Key, i);
        QCOMPARE(QString::fromLatin1(buffer[i].Text), QStringLiteral("e%1").arg(i));
    }
}

void TestAllocatedBuffer::largeBlockGrowsKeepingEntries()
{
    // Entries as large as a process entry, tens of megabytes of them: the block passes
    // from the heap to pages of its own and keeps growing there, through removals.
    struct TLargeEntry
    {
        int32_t Key;
        char Text[1200];
    };
    AllocatedBuffer<TLargeEntry> buffer;
    TLargeEntry entry{};
    for (int32_t i = 0; i < 30000; ++i) {
        entry.Key = i;
        std::snprintf(entry.Text, sizeof entry.Text, "e%d", i);
        entry.Text[sizeof entry.Text - 1] = static_cast<char>(i % 128);
        buffer.Append(entry);
        if (i == 20000)
            buffer.RemoveWhere([](const TLargeEntry& e) { return e.Key % 2 == 1; });
    }
    QVERIFY(buffer.Valid());
    QCOMPARE(buffer.Count(), 10001 + 9999);
    int32_t expected = 0;
    for (const TLargeEntry& e : buffer) {
        QCOMPARE(e.Key, expected);
        QCOMPARE(QString::fromLatin1(e.Text), QStringLiteral("e%1").arg(expected));
        QCOMPARE(e.Text[sizeof e.Text - 1], static_cast<char>(expected % 128));
        expected += expected < 20000 ? 2 : 1;
    }
}

void TestAllocatedBuffer::insertAndRemoveByPosition_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("position");
    QTest::addColumn<std::vector<int32_t>>("expected");
    QTest::newRow("insert at count appends") << "insert" << 3 << std::vector<int32_t>{1, 2, 3, 99};
    QTest::newRow("insert at 0 shifts all") << "insert" << 0 << std::vector<int32_t>{99, 1, 2, 3};
    QTest::newRow("insert in the middle") << "insert" << 2 << std::vector<int32_t>{1, 2, 99, 3};
    QTest::newRow("insert past count ignored") << "insert" << 4 << std::vector<int32_t>{1, 2, 3};
    QTest::newRow("remove first") << "remove" << 0 << std::vector<int32_t>{2, 3};
    QTest::newRow("remove last") << "remove" << 2 << std::vector<int32_t>{1, 2};
    QTest::newRow("remove at count ignored") << "remove" << 3 << std::vector<int32_t>{1, 2, 3};
    QTest::newRow("remove negative ignored") << "remove" << -1 << std::vector<int32_t>{1, 2, 3};
}

void TestAllocatedBuffer::insertAndRemoveByPosition()
{
    QFETCH(QString, operation);
    QFETCH(int, position);
    QFETCH(std::vector<int32_t>, expected);
    AllocatedBuffer<TEntry> buffer;
    for (int key : {1, 2, 3})
        buffer.Append(Make(key));
    if (operation == QLatin1String("insert"))
        buffer.InsertAt(Make(99), position);
    else
        buffer.RemoveAt(position);
    QCOMPARE(Keys(buffer), expected);
}

void TestAllocatedBuffer::bufferThatCannotGrowKeepsItsEntries()
{
    AllocatedBuffer<TEntry> buffer(160); // the step to 175 fails
    for (int i = 0; i < 150; ++i)
        buffer.Append(Make(i));
    buffer.Append(Make(150));
    QVERIFY(!buffer.Valid());
    QCOMPARE(buffer.Count(), 150);
    QCOMPARE(buffer.Capacity(), 150);
    QCOMPARE(buffer[149].Key, 149);
    QCOMPARE(QString::fromLatin1(buffer[0].Text), QStringLiteral("e0"));

    // Entries can still go, but no new entry comes in even with room to spare: a
    // refresh's sweep must be able to finish.
    buffer.RemoveAt(0);
    buffer.RemoveWhere([](const TEntry& e) { return e.Key % 2 == 0; });
    QCOMPARE(buffer.Count(), 75);
    QCOMPARE(buffer[0].Key, 1);
    buffer.Append(Make(500));
    QCOMPARE(buffer.Count(), 75);
}

void TestAllocatedBuffer::preparedRoomIsOnlyAHint()
{
    // Room made at once, entries kept, and nothing moves while it lasts.
    AllocatedBuffer<TEntry> buffer;
    for (int i = 0; i < 10; ++i)
        buffer.Append(Make(i));
    buffer.Prepare(100000);
    QCOMPARE(buffer.Capacity(), 100000);
    const TEntry* const first = &buffer[0];
    for (int i = 10; i < 100000; ++i)
        buffer.Append(Make(i));
    QCOMPARE(&buffer[0], first);
    QCOMPARE(buffer[99999].Key, 99999);
    QCOMPARE(QString::fromLatin1(buffer[5].Text), QStringLiteral("e5"));
    buffer.Prepare(50); // never shrinks
    QCOMPARE(buffer.Capacity(), 100000);

    // Beyond the capacity limit: held at the limit, and the buffer stays valid.
    AllocatedBuffer<TEntry> limited(160);
    limited.Prepare(1000);
    QVERIFY(limited.Valid());
    QCOMPARE(limited.Capacity(), 160);
    for (int i = 0; i < 160; ++i)
        limited.Append(Make(i));
    QCOMPARE(limited.Count(), 160);
}

void TestAllocatedBuffer::roomMadeAheadIsTakenOnlyByAnEmptyBuffer()
{
    // Entries of 1 KB, so that 8,000 make a mapped block and 1,000 do not.
    struct TWide
    {
        int32_t Key;
        char Text[1020];
    };
    using TBuffer = AllocatedBuffer<TWide>;
    const auto make = [](int32_t key) {
        TWide entry{};
        entry.Key = key;
        std::snprintf(entry.Text, sizeof entry.Text, "w%d", key);
        return entry;
    };

    // An empty buffer takes the room whole, and its entries then stay in place in it.
    TBuffer buffer;
    buffer.Prepare(TBuffer::Ready(8000));
    QVERIFY(buffer.Valid());
    QCOMPARE(buffer.Capacity(), 8000);
    for (int i = 0; i < 8000; ++i)
        buffer.Append(make(i));
    const TWide* const first = &buffer[0];
    QCOMPARE(buffer[7999].Key, 7999);
    QCOMPARE(QString::fromLatin1(buffer[123].Text), QStringLiteral("w123"));
    buffer.Append(make(8000)); // and it grows on from there
    QCOMPARE(&buffer[0], first);
    QCOMPARE(buffer[8000].Key, 8000);

    // Left alone: a buffer that holds entries, one whose limit the room passes; and a
    // room too small to be mapped is none.
    TBuffer holding;
    holding.Append(make(7));
    holding.Prepare(TBuffer::Ready(8000));
    QCOMPARE(holding.Capacity(), TBuffer::InitialCapacity);
    QCOMPARE(holding[0].Key, 7);
    TBuffer limited(1000);
    limited.Prepare(TBuffer::Ready(8000));
    QCOMPARE(limited.Capacity(), TBuffer::InitialCapacity);
    QVERIFY(limited.Valid());
    QVERIFY(TBuffer::Ready(1000).Empty());
    QVERIFY(!TBuffer::Ready(8000).Empty());
}

void TestAllocatedBuffer::bufferWithoutBlockTakesNothing()
{
    AllocatedBuffer<TEntry> buffer(100); // not even the first block
    QVERIFY(!buffer.Valid());
    QCOMPARE(buffer.Capacity(), 0);
    buffer.Append(Make(1));
    buffer.InsertAt(Make(2), 0);
    buffer.RemoveAt(0);
    QCOMPARE(buffer.Count(), 0);
}

void TestAllocatedBuffer::tableMergesNewKeysAtTheirPlaces()
{
    TEntryTable<TEntry, TKeyOrder> table(AllocatedBuffer<TEntry>::NoLimit);
    for (int key : {50, 10, 30})
        table.Add(Make(key));
    QVERIFY(table.Find(30) != nullptr); // found before it joins the table
    table.Sweep([](const TEntry&) { return false; });
    for (int key : {40, 5, 60, 20})
        table.Add(Make(key));
    table.Sweep([](const TEntry& e) { return e.Key == 30 || e.Key == 50; });
    QCOMPARE(Keys(table.Buffer()), (std::vector<int32_t>{5, 10, 20, 40, 60}));
    QVERIFY(table.Find(40) != nullptr);
    QVERIFY(table.Find(30) == nullptr);
}

void TestAllocatedBuffer::tableRemembersTheEntryOfARowHash()
{
    // A row hash with its bits mixed, as a hash of texts has them.
    const auto mixed = [](int32_t key) {
        return static_cast<std::size_t>(static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull >> 17);
    };
    // Rows of 3,000 keys (a large server's users), each three times in random order, in
    // refreshes whose guesses miss (the order changes every refresh): a row after the
    // first of its key finds its entry by its row hash, new or merged, however many keys
    // there are, and the searches stay right where hashes collide (a hash of 16 values)
    // and where an entry goes.
    TEntryTable<TEntry, TKeyOrder> table(AllocatedBuffer<TEntry>::NoLimit);
    std::mt19937 random(11);
    for (int refresh = 0; refresh < 6; ++refresh) {
        const bool colliding = refresh % 3 == 2;
        std::vector<int32_t> keys;
        for (int32_t key = 0; key < 3000; ++key)
            keys.insert(keys.end(), 3, key * 7 + refresh % 2); // half the keys change each refresh
        std::shuffle(keys.begin(), keys.end(), random);
        std::set<int32_t> seen;
        for (const int32_t key : keys) {
            const auto matches = [key](const TEntry& e) { return e.Key == key; };
            TEntry* found = table.FindLikely(matches, [&] { return colliding ? std::size_t(key % 16) : mixed(key); });
            if (!colliding)
                QCOMPARE(found != nullptr, seen.contains(key));
            if (!found)
                found = table.Find(key);
            if (found)
                QCOMPARE(found->Key, key);
            else
                table.Add(Make(key));
            seen.insert(key);
        }
        table.Sweep([&seen](const TEntry& e) { return !seen.contains(e.Key); });
        QCOMPARE(Keys(table.Buffer()), std::vector<int32_t>(seen.begin(), seen.end()));
    }
}

void TestAllocatedBuffer::tableKeepsOrderThroughManyRefreshes()
{
    // Keys arriving in any order (in every third refresh in key order), some new and
    // some gone each refresh: each row finds the entry of its key, also one its refresh
    // created, and the table holds exactly the keys of the last refresh, in order, each
    // entry with its own text.
    TEntryTable<TEntry, TKeyOrder> table(AllocatedBuffer<TEntry>::NoLimit);
    std::mt19937 random(7);
    std::set<int32_t> held;
    for (int refresh = 0; refresh < 20; ++refresh) {
        std::vector<int32_t> keys(refresh == 0 ? 3000 : 400);
        for (int32_t& key : keys)
            key = std::uniform_int_distribution<int32_t>(0, 5000)(random);
        if (refresh % 3 == 1)
            std::sort(keys.begin(), keys.end());
        std::set<int32_t> seen;
        for (const int32_t key : keys) {
            const TEntry* const found = table.Find(key);
            QCOMPARE(found != nullptr, seen.contains(key) || held.contains(key));
            if (found)
                QCOMPARE(found->Key, key);
            else
                table.Add(Make(key));
            seen.insert(key);
        }
        QVERIFY(table.Find(5001) == nullptr);
        table.Sweep([&seen](const TEntry& e) { return !seen.contains(e.Key); });
        QCOMPARE(Keys(table.Buffer()), std::vector<int32_t>(seen.begin(), seen.end()));
        for (const TEntry& entry : table.Buffer())
            QCOMPARE(QString::fromLatin1(entry.Text), QStringLiteral("e%1").arg(entry.Key));
        held = seen;
    }
}

void TestAllocatedBuffer::tableFullTakesNewEntriesWhileThereIsRoom()
{
    // As with an insert per row: new entries come in until the block cannot grow, and
    // from then on none.
    TEntryTable<TEntry, TKeyOrder> table(150);
    for (int key = 0; key < 148; ++key)
        table.Add(Make(key * 10));
    table.Sweep([](const TEntry&) { return false; });
    for (int key : {9999, 15, 5, 25})
        table.Add(Make(key));
    table.Sweep([](const TEntry&) { return false; });
    QCOMPARE(table.Buffer().Count(), 150);
    QVERIFY(!table.Buffer().Valid());
    QCOMPARE(table.Buffer()[1].Key, 10);
    QCOMPARE(table.Buffer()[2].Key, 15);
    QCOMPARE(table.Buffer()[149].Key, 9999);
    QVERIFY(table.Find(5) == nullptr);
    QVERIFY(table.Find(25) == nullptr);
}

QTEST_APPLESS_MAIN(TestAllocatedBuffer)
#include "tst_allocatedbuffer.moc"
