#pragma once
// A result set as COLMETADATA and ROW tokens, with each SqlType in the wire type a
// server uses for it: the nullable integer, bit, float and datetime types, the
// 8000-byte varchar/nvarchar with the server collation, and text/ntext with their
// table name and text pointers.

#include "sandbox/Sandboxtypes.h"
#include "sandbox/Tdsbuffer.h"

namespace sandbox {

// Throws ETdsEncodingError (Tdstokens.h) for a value its column cannot carry.
void WriteResultSet(TTdsWriter& out, const ResultSet& results, std::uint32_t tdsVersion);

// Days since 1899-12-30 (fraction = time of day) as the 8-byte datetime: days since
// 1900-01-01 and three-hundredths of a second since midnight.
struct TTdsDateTime
{
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
};
TTdsDateTime ToTdsDateTime(double toolkitDays);

} // namespace sandbox
