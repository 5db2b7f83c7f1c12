#pragma once
// What the user made of the list of every process on top of the model's own order
// (ascending SPID): a filter text and a sorted column. A process passes the filter when
// its login, host, program, database, command or SPID contains the text. A heading
// clicked once sorts by its column, numbers as numbers and date-times as date-times,
// ascending; again, descending; a third time, back to the model's order. Equal values
// keep ascending SPID order.

#include "model/Datetimetextcache.h"
#include "model/Textfilter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ProcessEntry;

class TProcessListView
{
public:
    // parse reads the login and last batch texts back for their column's order.
    explicit TProcessListView(TDateTimeTextParser parse = {});

    void SetFilter(std::string_view text) { Filter.SetText(text); }
    const std::string& FilterText() const { return Filter.Text(); }
    bool Matches(const ProcessEntry& entry) const;

    // A column of the list of every process (state, "SPID", "Login", ... "Host
    // Process"); -1 for the model's order.
    int SortColumn() const { return Column; }
    bool Descending() const { return FDescending; }
    void SortBy(int column, bool descending);
    // The next step of the heading's cycle: ascending, descending, the model's order.
    void HeadingClicked(int column);

    // Nothing to do beyond the model's own list.
    bool Plain() const { return Filter.Empty() && Column < 0; }

    // Called by the fill once per list: the positions of the passing entries, in the
    // model's order on entry and in the chosen order on return. CPU and physical IO
    // sort by the values shown (since the reset when showSinceReset).
    void Order(std::vector<int32_t>& positions, const ProcessEntry* entries, bool showSinceReset);
    // The vector the fill collects positions in, kept to be reused.
    std::vector<int32_t>& Positions() { return FPositions; }
    void NextRefresh();

private:
    struct TKey
    {
        int64_t Major;    // the value, or a text's first eight folded bytes
        int32_t Text;     // the folded text's offset in Folded; -1 for values
        int32_t Position; // ascending SPID among equals
    };

    TTextFilter Filter;
    int Column = -1;
    bool FDescending = false;
    TDateTimeTextCache Dates;
    std::vector<int32_t> FPositions;
    std::vector<TKey> Keys;
    std::string Folded;
    TNameFolder Folds;
};
