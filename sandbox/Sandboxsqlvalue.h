#pragma once
// Typed SQL values as the simulated server computes with them: the type system of
// the statements it runs (precedence, implicit conversion, comparison under the
// server's collation) and the mapping to the column types of a result set.

#include "sandbox/Sandboxtypes.h"

#include <string>

namespace sandbox {

enum class VType
{
    Null, // the type of a bare NULL
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Float,
    Char,
    VarChar,
    NChar,
    NVarChar,
    Text,
    NText,
    DateTime,
    Binary,
};

struct TTypeInfo
{
    VType type = VType::Null;
    int length = 0; // characters or bytes for text and binary types
    bool nullable = true;
};

bool IsInteger(VType type);
bool IsText(VType type);
bool IsUnicode(VType type);
int Precedence(VType type); // higher wins an implicit conversion

// The type of `a op b` for + - * / and of CASE branches, by the server's precedence.
TTypeInfo CommonType(const TTypeInfo& a, const TTypeInfo& b, bool concatenation);

// Converts as CAST does; throws TSqlError 245/8114/241 when the value cannot be converted.
Value Convert(const Value& value, const TTypeInfo& from, const TTypeInfo& to);

bool IsNull(const Value& value);

// -1, 0, 1; both values not NULL. Text compares case-insensitively unless
// caseSensitive, ignoring trailing blanks, as the server's collation does.
int Compare(const Value& a, const TTypeInfo& ta, const Value& b, const TTypeInfo& tb, bool caseSensitive);

// LIKE with %, _ and [...] wildcards.
bool Like(const std::string& text, const std::string& pattern, bool caseSensitive);

// Parses a type name as written in DECLARE and CAST (varchar(10), int, binary(20), ...).
// Throws TSqlError 2715 for an unknown type.
TTypeInfo TypeFromName(const std::string& name, int length, bool lengthGiven);

// The result-set column for a value of this type; values are passed through ResultValue.
Column ResultColumn(const std::string& name, const TTypeInfo& type);
Value ResultValue(const Value& value, const TTypeInfo& type);

std::string RTrim(const std::string& text);
// A text's width as a char(n) or nchar(n) column counts it: UTF-16 units (a character
// outside the Basic Multilingual Plane takes two; every other character one).
std::size_t TextWidth(const std::string& text);
// The text cut to at most width units, never inside a character.
std::string CutToWidth(const std::string& text, std::size_t width);
std::string UpperAscii(std::string text);

} // namespace sandbox
