// Expressions and queries of the statement runner: types, values, and SELECT over
// one table with WHERE, DISTINCT, TOP, ORDER BY and aggregates.

#include "sandbox/Sandboxstatements.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_set>

namespace sandbox {

namespace {

bool IsAggregate(const TExpr& expr)
{
    return expr.kind == TExpr::Kind::Function &&
           (expr.name == "count" || expr.name == "min" || expr.name == "max" || expr.name == "sum" ||
            expr.name == "avg");
}

void CollectAggregates(TExpr& expr, std::vector<TExpr*>& found)
{
    if (IsAggregate(expr)) {
        expr.aggregateSlot = static_cast<int>(found.size());
        found.push_back(&expr);
        return;
    }
    if (expr.kind == TExpr::Kind::Subquery || expr.kind == TExpr::Kind::Exists)
        return;
    for (auto& arg : expr.args)
        CollectAggregates(*arg, found);
}

const TExpr* BareColumn(const TExpr& expr)
{
    if (IsAggregate(expr) || expr.kind == TExpr::Kind::Subquery || expr.kind == TExpr::Kind::Exists)
        return nullptr;
    if (expr.kind == TExpr::Kind::Column)
        return &expr;
    for (const auto& arg : expr.args)
        if (const TExpr* column = BareColumn(*arg))
            return column;
    return nullptr;
}

Value Bool(bool value)
{
    return std::int64_t{value ? 1 : 0};
}

const TTypeInfo BoolType{VType::Int, 0, true};

std::int64_t CheckedArithmetic(char op, std::int64_t a, std::int64_t b, VType type)
{
    std::int64_t result = 0;
    bool overflow = false;
    switch (op) {
    case '+':
        overflow = __builtin_add_overflow(a, b, &result);
        break;
    case '-':
        overflow = __builtin_sub_overflow(a, b, &result);
        break;
    case '*':
        overflow = __builtin_mul_overflow(a, b, &result);
        break;
    case '/':
        if (b == 0)
            throw TSqlError(8134, "Divide by zero error encountered.");
        result = a / b;
        break;
    case '%':
        if (b == 0)
            throw TSqlError(8134, "Divide by zero error encountered.");
        result = a % b;
        break;
    case '&':
        result = a & b;
        break;
    case '|':
        result = a | b;
        break;
    case '^':
        result = a ^ b;
        break;
    default:
        break;
    }
    const bool narrow =
        type == VType::Int || type == VType::SmallInt || type == VType::TinyInt || type == VType::Bit;
    if (overflow || (narrow && (result > INT32_MAX || result < INT32_MIN)))
        throw TSqlError(8115, std::string("Arithmetic overflow error converting expression to data type ") +
                                  (type == VType::BigInt ? "bigint" : "int") + ".");
    return result;
}

} // namespace

bool TStatementRunner::Truth(TExpr& expr, const TRowContext& context)
{
    const Value value = Condition(expr, context);
    const auto* number = std::get_if<std::int64_t>(&value);
    return number && *number != 0;
}

Value TStatementRunner::Condition(TExpr& expr, const TRowContext& context)
{
    using Kind = TExpr::Kind;
    const Kind kind = expr.kind;
    if (kind != Kind::Compare && kind != Kind::Like && kind != Kind::IsNull && kind != Kind::In &&
        kind != Kind::And && kind != Kind::Or && kind != Kind::Not && kind != Kind::Exists)
        throw TSqlError(
            4145,
            "An expression of non-boolean type specified in a context where a condition is expected, near '" +
                expr.sourceText + "'.",
            15);
    return Eval(expr, context);
}

TStatementRunner::TQueryResult TStatementRunner::Query(const TSelect& constSelect)
{
    // The parse tree is private to this batch; resolving columns caches indexes in it.
    TSelect& select = const_cast<TSelect&>(constSelect);
    TTableData table;
    bool hasTable = false;
    if (select.hasFrom) {
        table = OpenTable(select.from);
        hasTable = true;
    } else {
        table.rows = 1;
    }
    TRowContext context;
    context.table = hasTable ? &table : nullptr;

    // SELECT * stands for every column of the table.
    std::vector<TExpr*> items;
    std::vector<std::string> names;
    std::vector<std::unique_ptr<TExpr>> starColumns;
    for (TSelectItem& item : select.items) {
        if (item.expr->kind == TExpr::Kind::Star) {
            if (!hasTable)
                throw TSqlError(263, "Must specify table to select from.");
            for (std::size_t c = 0; c < table.names.size(); ++c) {
                auto column = std::make_unique<TExpr>();
                column->kind = TExpr::Kind::Column;
                column->name = table.names[c];
                column->columnIndex = static_cast<int>(c);
                items.push_back(column.get());
                names.push_back(table.names[c]);
                starColumns.push_back(std::move(column));
            }
            continue;
        }
        items.push_back(item.expr.get());
        names.push_back(item.alias);
    }

    TQueryResult result;
    result.names = names;
    std::vector<TExpr*> aggregates;
    for (TExpr* item : items)
        CollectAggregates(*item, aggregates);

    std::vector<std::size_t> matching;
    matching.reserve(table.rows);
    for (std::size_t row = 0; row < table.rows; ++row) {
        context.row = row;
        if (!select.where || Truth(*select.where, context))
            matching.push_back(row);
    }

    if (!aggregates.empty()) {
        for (TExpr* item : items) {
            if (const TExpr* column = BareColumn(*item))
                throw TSqlError(8120, "Column '" + select.from.written + "." + column->sourceText +
                                          "' is invalid in the select list because it is not contained in "
                                          "either an aggregate function or the GROUP BY clause.");
        }
        std::vector<Value> values(aggregates.size());
        std::vector<TTypeInfo> types(aggregates.size());
        for (std::size_t a = 0; a < aggregates.size(); ++a) {
            TExpr& aggregate = *aggregates[a];
            types[a] = FunctionType(aggregate, context);
            const bool star = !aggregate.args.empty() && aggregate.args[0]->kind == TExpr::Kind::Star;
            std::int64_t count = 0;
            Value best;
            TTypeInfo argType =
                star || aggregate.args.empty() ? TTypeInfo{} : TypeOf(*aggregate.args[0], context);
            double floatSum = 0;
            std::int64_t intSum = 0;
            for (std::size_t row : matching) {
                context.row = row;
                if (star) {
                    ++count;
                    continue;
                }
                const Value value = Eval(*aggregate.args[0], context);
                if (IsNull(value))
                    continue;
                ++count;
                if (aggregate.name == "min" || aggregate.name == "max") {
                    const int order =
                        IsNull(best) ? 0 : Compare(value, argType, best, argType, CaseSensitive());
                    if (IsNull(best) || (aggregate.name == "min" ? order < 0 : order > 0))
                        best = value;
                } else if (aggregate.name == "sum" || aggregate.name == "avg") {
                    if (const auto* i = std::get_if<std::int64_t>(&value))
                        intSum += *i;
                    else if (const auto* f = std::get_if<double>(&value))
                        floatSum += *f;
                }
            }
            if (aggregate.name == "count")
                values[a] = count;
            else if (aggregate.name == "min" || aggregate.name == "max")
                values[a] = best;
            else if (count == 0)
                values[a] = Value{};
            else if (types[a].type == VType::Float)
                values[a] = aggregate.name == "avg"
                                ? (floatSum + static_cast<double>(intSum)) / static_cast<double>(count)
                                : floatSum + static_cast<double>(intSum);
            else
                values[a] = aggregate.name == "avg" ? intSum / count : intSum;
        }
        TRowContext once;
        once.aggregates = &values;
        once.aggregateTypes = &types;
        for (TExpr* item : items)
            result.types.push_back(TypeOf(*item, once));
        Row row;
        for (TExpr* item : items)
            row.push_back(Eval(*item, once));
        result.rows.push_back(std::move(row));
        for (TExpr* aggregate : aggregates)
            aggregate->aggregateSlot = -1;
        return result;
    }

    for (TExpr* item : items)
        result.types.push_back(TypeOf(*item, context));
    std::vector<std::pair<std::vector<Value>, Row>> sorted;
    result.rows.reserve(matching.size());
    for (std::size_t row : matching) {
        context.row = row;
        Row values;
        values.reserve(items.size());
        for (TExpr* item : items)
            values.push_back(Eval(*item, context));
        if (!select.orderBy.empty()) {
            std::vector<Value> keys;
            for (auto& key : select.orderBy)
                keys.push_back(Eval(*key, context));
            sorted.emplace_back(std::move(keys), std::move(values));
        } else {
            result.rows.push_back(std::move(values));
        }
    }
    if (!select.orderBy.empty()) {
        std::vector<TTypeInfo> keyTypes;
        for (auto& key : select.orderBy)
            keyTypes.push_back(TypeOf(*key, context));
        const bool caseSensitive = CaseSensitive();
        std::stable_sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
            for (std::size_t k = 0; k < keyTypes.size(); ++k) {
                const bool nullA = IsNull(a.first[k]);
                const bool nullB = IsNull(b.first[k]);
                int order = nullA || nullB
                                ? (nullA == nullB ? 0 : (nullA ? -1 : 1))
                                : Compare(a.first[k], keyTypes[k], b.first[k], keyTypes[k], caseSensitive);
                if (select.orderBy[k]->negate)
                    order = -order;
                if (order != 0)
                    return order < 0;
            }
            return false;
        });
        for (auto& entry : sorted)
            result.rows.push_back(std::move(entry.second));
    }
    if (select.distinct) {
        // Rows are equal when every column compares equal under the collation: the key
        // is each value as it compares (text without trailing blanks, folded when the
        // server ignores case).
        std::unordered_set<std::string> seen;
        std::vector<Row> unique;
        for (Row& row : result.rows) {
            std::string key;
            for (const Value& value : row) {
                if (const auto* text = std::get_if<std::string>(&value)) {
                    const std::string trimmed = RTrim(*text);
                    key += "s" + std::to_string(trimmed.size()) + ":" +
                           (CaseSensitive() ? trimmed : ToLower(trimmed));
                } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
                    key += "i" + std::to_string(*number) + ";";
                } else if (const auto* real = std::get_if<double>(&value)) {
                    key += "f" + std::to_string(*real) + ";";
                } else if (const auto* time = std::get_if<DateTimeValue>(&value)) {
                    key += "d" + std::to_string(time->days) + ";";
                } else {
                    key += "n;";
                }
            }
            if (seen.insert(key).second)
                unique.push_back(std::move(row));
        }
        result.rows = std::move(unique);
    }
    if (select.top) {
        const TRowContext none;
        const Value top =
            Convert(Eval(*select.top, none), TypeOf(*select.top, none), TTypeInfo{VType::BigInt, 0, true});
        const std::int64_t limit = IsNull(top) ? 0 : std::get<std::int64_t>(top);
        if (limit >= 0 && static_cast<std::size_t>(limit) < result.rows.size())
            result.rows.resize(static_cast<std::size_t>(limit));
    }
    return result;
}

Value TStatementRunner::Subquery(TExpr& expr)
{
    // The subqueries this server runs never refer to the outer row, so one
    // evaluation serves the whole statement.
    const auto cached = SubqueryCache.find(&expr);
    if (cached != SubqueryCache.end())
        return cached->second;
    TQueryResult result = Query(*expr.select);
    Value value;
    if (expr.kind == TExpr::Kind::Exists) {
        value = Bool(!result.rows.empty());
    } else {
        if (result.types.size() != 1)
            throw TSqlError(116, "Only one expression can be specified in the select list when the subquery "
                                 "is not introduced with EXISTS.");
        if (result.rows.size() > 1)
            throw TSqlError(512,
                            "Subquery returned more than 1 value. This is not permitted when the subquery "
                            "follows =, !=, <, <= , >, >= or when the subquery is used as an expression.");
        if (!result.rows.empty())
            value = result.rows[0][0];
    }
    SubqueryCache[&expr] = value;
    if (expr.kind == TExpr::Kind::Subquery) {
        TTypeInfo type = result.types[0];
        type.nullable = true;
        SubqueryTypes[&expr] = type;
    }
    return value;
}

TTypeInfo TStatementRunner::TypeOf(TExpr& expr, const TRowContext& context)
{
    if (!expr.type)
        expr.type = ComputeType(expr, context);
    return *expr.type;
}

TTypeInfo TStatementRunner::ComputeType(TExpr& expr, const TRowContext& context)
{
    using Kind = TExpr::Kind;
    switch (expr.kind) {
    case Kind::Literal:
        return IsNull(expr.literal) ? TTypeInfo{VType::Null, 0, true} : expr.literalType;
    case Kind::Variable:
        return FindVariable(expr.name).type;
    case Kind::Global:
        return GlobalType(expr.name);
    case Kind::Column: {
        if (!context.table)
            throw TSqlError(207, "Invalid column name '" + expr.sourceText + "'.");
        if (expr.columnIndex < 0) {
            // A qualifier names the table as the query calls it: its alias when it has one.
            const std::string& known =
                context.table->alias.empty() ? context.table->name : context.table->alias;
            if (!expr.qualifier.empty() && expr.qualifier != known)
                throw TSqlError(4104, "The multi-part identifier \"" + expr.qualifier + "." +
                                          expr.sourceText + "\" could not be bound.");
            const auto& names = context.table->names;
            const auto it = std::find(names.begin(), names.end(), expr.name);
            if (it == names.end())
                throw TSqlError(207, "Invalid column name '" + expr.sourceText + "'.");
            expr.columnIndex = static_cast<int>(it - names.begin());
        }
        return context.table->types[static_cast<std::size_t>(expr.columnIndex)];
    }
    case Kind::Star:
        return TTypeInfo{VType::Int, 0, false};
    case Kind::Negate:
    case Kind::BitNot:
        return TypeOf(*expr.args[0], context);
    case Kind::Binary: {
        const TTypeInfo a = TypeOf(*expr.args[0], context);
        const TTypeInfo b = TypeOf(*expr.args[1], context);
        if (expr.name == "+")
            return CommonType(a, b, true);
        TTypeInfo common = CommonType(a, b, false);
        if (expr.name == "&" || expr.name == "|" || expr.name == "^") {
            if (!IsInteger(a.type) && a.type != VType::Null && a.type != VType::Binary)
                throw TSqlError(402, "The data types are incompatible in the '" + expr.name + "' operator.");
            if (common.type == VType::Binary)
                common.type = VType::Int;
        }
        if (IsText(common.type))
            throw TSqlError(402, "The data types varchar and varchar are incompatible in the '" + expr.name +
                                     "' operator.");
        return common;
    }
    case Kind::Compare:
    case Kind::Like:
    case Kind::IsNull:
    case Kind::In:
    case Kind::And:
    case Kind::Or:
    case Kind::Not:
    case Kind::Exists:
        for (auto& arg : expr.args)
            TypeOf(*arg, context);
        return BoolType;
    case Kind::Case: {
        std::size_t i = expr.simpleCase ? 1 : 0;
        if (expr.simpleCase)
            TypeOf(*expr.args[0], context);
        TTypeInfo result{VType::Null, 0, false};
        bool first = true;
        for (; i + 1 < expr.args.size(); i += 2) {
            TypeOf(*expr.args[i], context);
            const TTypeInfo branch = TypeOf(*expr.args[i + 1], context);
            result = first ? branch : CommonType(result, branch, false);
            result.nullable = result.nullable || branch.nullable;
            first = false;
        }
        if (expr.hasElse) {
            const TTypeInfo otherwise = TypeOf(*expr.args.back(), context);
            result = CommonType(result, otherwise, false);
            result.nullable = result.nullable || otherwise.nullable;
        } else {
            result.nullable = true;
        }
        if (result.type == VType::Char)
            result.type = VType::VarChar;
        return result;
    }
    case Kind::Function:
        if (expr.aggregateSlot >= 0 && context.aggregateTypes)
            return (*context.aggregateTypes)[static_cast<std::size_t>(expr.aggregateSlot)];
        return FunctionType(expr, context);
    case Kind::Cast: {
        TTypeInfo type = expr.castType;
        type.nullable = TypeOf(*expr.args[0], context).nullable;
        return type;
    }
    case Kind::Subquery: {
        // Typing needs the subquery's table: running it once fills both caches.
        if (SubqueryTypes.find(&expr) == SubqueryTypes.end())
            Subquery(expr);
        return SubqueryTypes[&expr];
    }
    }
    return {};
}

Value TStatementRunner::Eval(TExpr& expr, const TRowContext& context)
{
    using Kind = TExpr::Kind;
    switch (expr.kind) {
    case Kind::Literal:
        return expr.literal;
    case Kind::Variable:
        return FindVariable(expr.name).value;
    case Kind::Global:
        return Global(expr.name);
    case Kind::Column:
        if (expr.columnIndex < 0)
            TypeOf(expr, context);
        return context.table->cell(context.row, expr.columnIndex);
    case Kind::Star:
        return std::int64_t{1};
    case Kind::Negate: {
        const Value value = Eval(*expr.args[0], context);
        if (const auto* i = std::get_if<std::int64_t>(&value))
            return -*i;
        if (const auto* f = std::get_if<double>(&value))
            return -*f;
        if (IsNull(value))
            return value;
        throw TSqlError(8117, "Operand data type varchar is invalid for minus operator.");
    }
    case Kind::BitNot: {
        const Value value = Eval(*expr.args[0], context);
        if (const auto* i = std::get_if<std::int64_t>(&value))
            return ~*i;
        return Value{};
    }
    case Kind::Binary: {
        const TTypeInfo a = TypeOf(*expr.args[0], context);
        const TTypeInfo b = TypeOf(*expr.args[1], context);
        const TTypeInfo type = TypeOf(expr, context);
        const Value left = Eval(*expr.args[0], context);
        const Value right = Eval(*expr.args[1], context);
        if (IsNull(left) || IsNull(right))
            return Value{};
        if (IsText(type.type))
            return Convert(std::get<std::string>(Convert(left, a, type)) +
                               std::get<std::string>(Convert(right, b, type)),
                           TTypeInfo{type.type, 0, false}, type);
        if (type.type == VType::Float) {
            const double x = std::get<double>(Convert(left, a, type));
            const double y = std::get<double>(Convert(right, b, type));
            switch (expr.name[0]) {
            case '+':
                return x + y;
            case '-':
                return x - y;
            case '*':
                return x * y;
            case '/':
                if (y == 0)
                    throw TSqlError(8134, "Divide by zero error encountered.");
                return x / y;
            default:
                throw TSqlError(402, "The data types float and float are incompatible in the '" + expr.name +
                                         "' operator.");
            }
        }
        if (type.type == VType::DateTime) {
            const double x = std::get<DateTimeValue>(Convert(left, a, type)).days;
            const double y = std::get<DateTimeValue>(Convert(right, b, type)).days;
            return DateTimeValue{expr.name == "-" ? x - y : x + y};
        }
        const TTypeInfo integer{type.type == VType::Binary ? VType::BigInt : type.type, 0, true};
        return CheckedArithmetic(expr.name[0], std::get<std::int64_t>(Convert(left, a, integer)),
                                 std::get<std::int64_t>(Convert(right, b, integer)), integer.type);
    }
    case Kind::Compare: {
        const Value left = Eval(*expr.args[0], context);
        const Value right = Eval(*expr.args[1], context);
        if (IsNull(left) || IsNull(right))
            return Value{};
        const int order = Compare(left, TypeOf(*expr.args[0], context), right, TypeOf(*expr.args[1], context),
                                  CaseSensitive());
        const std::string& op = expr.name;
        return Bool(op == "="    ? order == 0
                    : op == "<>" ? order != 0
                    : op == "<"  ? order < 0
                    : op == ">"  ? order > 0
                    : op == "<=" ? order <= 0
                                 : order >= 0);
    }
    case Kind::Like: {
        const TTypeInfo textType{VType::NVarChar, 8000, true};
        const Value text = Convert(Eval(*expr.args[0], context), TypeOf(*expr.args[0], context), textType);
        const Value pattern = Convert(Eval(*expr.args[1], context), TypeOf(*expr.args[1], context), textType);
        if (IsNull(text) || IsNull(pattern))
            return Value{};
        return Bool(Like(std::get<std::string>(text), std::get<std::string>(pattern), CaseSensitive()) !=
                    expr.negate);
    }
    case Kind::IsNull:
        return Bool(IsNull(Eval(*expr.args[0], context)) != expr.negate);
    case Kind::In: {
        const Value left = Eval(*expr.args[0], context);
        if (IsNull(left))
            return Value{};
        const TTypeInfo leftType = TypeOf(*expr.args[0], context);
        for (std::size_t i = 1; i < expr.args.size(); ++i) {
            const Value candidate = Eval(*expr.args[i], context);
            if (!IsNull(candidate) &&
                Compare(left, leftType, candidate, TypeOf(*expr.args[i], context), CaseSensitive()) == 0)
                return Bool(!expr.negate);
        }
        return Bool(expr.negate);
    }
    case Kind::And: {
        const Value a = Condition(*expr.args[0], context);
        if (!IsNull(a) && std::get<std::int64_t>(a) == 0)
            return Bool(false);
        const Value b = Condition(*expr.args[1], context);
        if (!IsNull(b) && std::get<std::int64_t>(b) == 0)
            return Bool(false);
        return IsNull(a) || IsNull(b) ? Value{} : Bool(true);
    }
    case Kind::Or: {
        const Value a = Condition(*expr.args[0], context);
        if (!IsNull(a) && std::get<std::int64_t>(a) != 0)
            return Bool(true);
        const Value b = Condition(*expr.args[1], context);
        if (!IsNull(b) && std::get<std::int64_t>(b) != 0)
            return Bool(true);
        return IsNull(a) || IsNull(b) ? Value{} : Bool(false);
    }
    case Kind::Not: {
        const Value a = Condition(*expr.args[0], context);
        return IsNull(a) ? a : Bool(std::get<std::int64_t>(a) == 0);
    }
    case Kind::Case: {
        const TTypeInfo type = TypeOf(expr, context);
        std::size_t i = 0;
        Value subject;
        TTypeInfo subjectType;
        if (expr.simpleCase) {
            subject = Eval(*expr.args[0], context);
            subjectType = TypeOf(*expr.args[0], context);
            i = 1;
        }
        for (; i + 1 < expr.args.size(); i += 2) {
            bool hit = false;
            if (expr.simpleCase) {
                const Value candidate = Eval(*expr.args[i], context);
                hit = !IsNull(subject) && !IsNull(candidate) &&
                      Compare(subject, subjectType, candidate, TypeOf(*expr.args[i], context),
                              CaseSensitive()) == 0;
            } else {
                hit = Truth(*expr.args[i], context);
            }
            if (hit)
                return Convert(Eval(*expr.args[i + 1], context), TypeOf(*expr.args[i + 1], context), type);
        }
        if (expr.hasElse)
            return Convert(Eval(*expr.args.back(), context), TypeOf(*expr.args.back(), context), type);
        return Value{};
    }
    case Kind::Function:
        if (expr.aggregateSlot >= 0 && context.aggregates)
            return (*context.aggregates)[static_cast<std::size_t>(expr.aggregateSlot)];
        return EvalFunction(expr, context);
    case Kind::Cast:
        return Convert(Eval(*expr.args[0], context), TypeOf(*expr.args[0], context), expr.castType);
    case Kind::Subquery:
    case Kind::Exists:
        return Subquery(expr);
    }
    return {};
}

} // namespace sandbox
