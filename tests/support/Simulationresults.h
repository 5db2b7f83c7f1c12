#pragma once
// Reading a simulation's batch results in tests: the result sets, the messages, and
// one column of a result set by name.

#include "sandbox/Sandboxsimulation.h"

#include <optional>
#include <string>
#include <vector>

namespace simtest {

inline std::vector<sandbox::ResultSet> ResultSets(const sandbox::BatchResult& result)
{
    std::vector<sandbox::ResultSet> sets;
    for (const auto& item : result.items)
        if (const auto* set = std::get_if<sandbox::ResultSet>(&item))
            sets.push_back(*set);
    return sets;
}

inline std::vector<sandbox::Message> Errors(const sandbox::BatchResult& result)
{
    std::vector<sandbox::Message> errors;
    for (const auto& item : result.items)
        if (const auto* message = std::get_if<sandbox::Message>(&item); message && message->isError())
            errors.push_back(*message);
    return errors;
}

inline int ColumnIndex(const sandbox::ResultSet& set, const std::string& name)
{
    for (std::size_t i = 0; i < set.columns.size(); ++i)
        if (set.columns[i].name == name)
            return static_cast<int>(i);
    return -1;
}

// The value of a column in a row, or nullopt when the column is missing.
inline std::optional<sandbox::Value> Cell(const sandbox::ResultSet& set, std::size_t row,
                                          const std::string& name)
{
    const int index = ColumnIndex(set, name);
    if (index < 0 || row >= set.rows.size())
        return std::nullopt;
    return set.rows[row][static_cast<std::size_t>(index)];
}

inline std::string TextOf(const std::optional<sandbox::Value>& value)
{
    if (!value)
        return "<missing>";
    if (const auto* text = std::get_if<std::string>(&*value))
        return *text;
    if (const auto* number = std::get_if<std::int64_t>(&*value))
        return std::to_string(*number);
    return std::holds_alternative<std::monostate>(*value) ? "<NULL>" : "<other>";
}

inline std::int64_t IntOf(const std::optional<sandbox::Value>& value)
{
    const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr;
    return number ? *number : INT64_MIN;
}

// The rows of a result set whose `spid` column equals spid.
inline std::vector<std::size_t> RowsOfSpid(const sandbox::ResultSet& set, int spid)
{
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < set.rows.size(); ++row)
        if (IntOf(Cell(set, row, "spid")) == spid)
            rows.push_back(row);
    return rows;
}

} // namespace simtest
