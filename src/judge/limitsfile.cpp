#include "judge/limitsfile.h"

#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QFile>
#include <QLocale>
#include <QStringBuilder>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <limits>

// Debian's libtomlplusplus is built with exceptions; keldro has none, so toml++ is
// compiled into this one file, header-only and without exceptions (see CMakeLists.txt).
#include <toml++/toml.h>

namespace {

constexpr std::array<const char *, 8> Tables{"cells", "pack",       "current",    "temperature",
                                             "soc",   "protection", "hysteresis", "health"};

// The largest value of each unit the board can report: the limit beyond is never crossed
// and is a typo.
constexpr std::array<qint64, LimitUnitCount> UnitMaximum{65535, std::numeric_limits<qint32>::max(),
                                                         0, 100};

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString typeName(toml::node_type type)
{
    switch (type) {
    case toml::node_type::table:
        return QStringLiteral("a table");
    case toml::node_type::array:
        return QStringLiteral("an array");
    case toml::node_type::string:
        return QStringLiteral("a string");
    case toml::node_type::integer:
        return QStringLiteral("an integer");
    case toml::node_type::floating_point:
        return QStringLiteral("a float");
    case toml::node_type::boolean:
        return QStringLiteral("a boolean");
    case toml::node_type::date:
        return QStringLiteral("a date");
    case toml::node_type::time:
        return QStringLiteral("a time");
    case toml::node_type::date_time:
        return QStringLiteral("a date-time");
    case toml::node_type::none:
        break;
    }
    return QStringLiteral("nothing");
}

QString joined(const QVector<const char *> &names)
{
    QString text;
    for (const char *name : names) {
        if (!text.isEmpty())
            text += QLatin1String(", ");
        text += QLatin1String(name);
    }
    return text;
}

struct Entry
{
    QString key;
    const toml::node *node;
    int line;
};

// toml++ keeps a table's keys sorted by name; a person reads the file top down, and the
// first error in the file is the one to report.
QVector<Entry> entriesInFileOrder(const toml::table &table)
{
    QVector<Entry> entries;
    for (auto &&[key, node] : table)
        entries.append({fromView(key.str()), &node, int(key.source().begin.line)});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return a.line < b.line; });
    return entries;
}

class LimitsParser
{
public:
    explicit LimitsParser(const QString &fileName) : fileName(fileName) {}

    bool parse(const toml::table &root, Limits *limits);
    QString error;

private:
    bool fail(int line, const QString &keyPath, const QString &message);
    bool readLimitTable(const QString &table, const Entry &entry, Limits *limits);
    bool readProtection(const Entry &entry, Limits *limits);
    bool readHysteresis(const Entry &entry, Limits *limits);
    bool readHealth(const Entry &entry, Limits *limits);
    bool readNumber(const QString &keyPath, const Entry &entry, LimitUnit unit, bool whole,
                    double *value);
    bool checkOrder(const Limits &limits, Limit minimum, Limit maximum);

    QString fileName;
    std::array<int, LimitCount> lines{};
};

bool LimitsParser::fail(int line, const QString &keyPath, const QString &message)
{
    error = fileName % QLatin1Char(':') % QString::number(line) % QLatin1String(": ") % keyPath %
            QLatin1String(": ") % message;
    return false;
}

bool LimitsParser::parse(const toml::table &root, Limits *limits)
{
    for (const Entry &entry : entriesInFileOrder(root)) {
        const QByteArray name = entry.key.toUtf8();
        const auto known = std::find_if(Tables.begin(), Tables.end(),
                                        [&](const char *table) { return name == table; });
        if (known == Tables.end()) {
            const QString what = entry.node->is_table() ? QStringLiteral("unknown table")
                                                        : QStringLiteral("unknown key");
            return fail(entry.line, entry.key,
                        what % QLatin1String("; the tables are ") %
                            joined(QVector<const char *>(Tables.begin(), Tables.end())));
        }
        if (!entry.node->is_table())
            return fail(entry.line, entry.key,
                        QLatin1String("expected a table, found ") % typeName(entry.node->type()));
        const bool ok = name == "protection"   ? readProtection(entry, limits)
                        : name == "hysteresis" ? readHysteresis(entry, limits)
                        : name == "health"     ? readHealth(entry, limits)
                                               : readLimitTable(entry.key, entry, limits);
        if (!ok)
            return false;
    }
    return checkOrder(*limits, Limit::CellMin, Limit::CellMax) &&
           checkOrder(*limits, Limit::PackMin, Limit::PackMax) &&
           checkOrder(*limits, Limit::TemperatureMin, Limit::TemperatureMax);
}

bool LimitsParser::readLimitTable(const QString &table, const Entry &tableEntry, Limits *limits)
{
    const QByteArray tableName = table.toUtf8();
    QVector<const char *> keys;
    for (int i = 0; i < LimitCount; ++i)
        if (tableName == limitInfo(Limit(i)).table)
            keys.append(limitInfo(Limit(i)).key);
    for (const Entry &entry : entriesInFileOrder(*tableEntry.node->as_table())) {
        const QString keyPath = table % QLatin1Char('.') % entry.key;
        int found = -1;
        for (int i = 0; i < LimitCount; ++i)
            if (tableName == limitInfo(Limit(i)).table &&
                entry.key == QLatin1String(limitInfo(Limit(i)).key))
                found = i;
        if (found < 0)
            return fail(entry.line, keyPath,
                        QLatin1String("unknown key; the keys of [") % table %
                            QLatin1String("] are ") % joined(keys));
        const LimitInfo &info = limitInfo(Limit(found));
        double value = 0;
        if (!readNumber(keyPath, entry, info.unit, info.isWholeValue, &value))
            return false;
        limits->set(Limit(found), value);
        lines[found] = entry.line;
    }
    return true;
}

bool LimitsParser::readNumber(const QString &keyPath, const Entry &entry, LimitUnit unit,
                              bool whole, double *value)
{
    const toml::node &node = *entry.node;
    const QString unitText = QString::fromUtf8(limitUnitSymbol(unit));
    if (whole) {
        if (!node.is_integer())
            return fail(entry.line, keyPath,
                        QLatin1String("expected an integer (") % unitText %
                            QLatin1String("), found ") % typeName(node.type()));
        const qint64 number = node.as_integer()->get();
        if (number < 0)
            return fail(entry.line, keyPath,
                        QString::number(number) % QLatin1String(" is negative"));
        if (number > UnitMaximum[int(unit)])
            return fail(entry.line, keyPath,
                        QString::number(number) %
                            QLatin1String(" is beyond anything the board reports (") %
                            QString::number(UnitMaximum[int(unit)]) % QLatin1Char(' ') % unitText %
                            QLatin1Char(')'));
        *value = double(number);
        return true;
    }
    if (node.is_integer())
        *value = double(node.as_integer()->get());
    else if (node.is_floating_point())
        *value = node.as_floating_point()->get();
    else
        return fail(entry.line, keyPath,
                    QLatin1String("expected a number (") % unitText % QLatin1String("), found ") %
                        typeName(node.type()));
    if (!std::isfinite(*value))
        return fail(entry.line, keyPath,
                    numberText(*value) % QLatin1String(" is not a temperature"));
    return true;
}

bool LimitsParser::readProtection(const Entry &tableEntry, Limits *limits)
{
    QVector<const char *> flags;
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        flags.append(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit]);
    for (const Entry &entry : entriesInFileOrder(*tableEntry.node->as_table())) {
        const QString keyPath = QLatin1String("protection.") % entry.key;
        if (entry.key != QLatin1String("fail_on"))
            return fail(entry.line, keyPath,
                        QStringLiteral("unknown key; the keys of [protection] are fail_on"));
        const toml::array *names = entry.node->as_array();
        if (!names)
            return fail(entry.line, keyPath,
                        QLatin1String("expected an array of flag names, found ") %
                            typeName(entry.node->type()));
        quint8 failOn = 0;
        for (const toml::node &name : *names) {
            const int line = int(name.source().begin.line);
            if (!name.is_string())
                return fail(line, keyPath,
                            QLatin1String("expected a flag name, found ") % typeName(name.type()));
            const QByteArray text = QByteArray::fromStdString(name.as_string()->get());
            const auto bit = std::find_if(flags.begin(), flags.end(),
                                          [&](const char *flag) { return text == flag; });
            if (bit == flags.end())
                return fail(line, keyPath,
                            QLatin1Char('"') % QString::fromUtf8(text) %
                                QLatin1String("\" is not a protection flag; the flags are ") %
                                joined(flags));
            failOn |= quint8(1u << (bit - flags.begin()));
        }
        limits->failOn = failOn;
    }
    return true;
}

bool LimitsParser::readHysteresis(const Entry &tableEntry, Limits *limits)
{
    QVector<const char *> keys;
    for (int unit = 0; unit < LimitUnitCount; ++unit)
        keys.append(hysteresisKey(LimitUnit(unit)));
    for (const Entry &entry : entriesInFileOrder(*tableEntry.node->as_table())) {
        const QString keyPath = QLatin1String("hysteresis.") % entry.key;
        const auto unit = std::find_if(keys.begin(), keys.end(), [&](const char *key) {
            return entry.key == QLatin1String(key);
        });
        if (unit == keys.end())
            return fail(entry.line, keyPath,
                        QLatin1String("unknown key; the keys of [hysteresis] are ") % joined(keys));
        const auto limitUnit = LimitUnit(unit - keys.begin());
        double value = 0;
        if (!readNumber(keyPath, entry, limitUnit, limitUnit != LimitUnit::Celsius, &value))
            return false;
        if (value < 0)
            return fail(entry.line, keyPath, numberText(value) % QLatin1String(" is negative"));
        limits->hysteresis[int(limitUnit)] = value;
    }
    return true;
}

bool LimitsParser::readHealth(const Entry &tableEntry, Limits *limits)
{
    HealthLimits &health = limits->health;
    // Each key, its unit for the messages, its least sensible value and where it goes.
    struct Key
    {
        const char *name;
        const char *unit;
        double least;
        std::optional<double> *value;
    };
    const std::array<Key, 3> keys{{
        {"max_resistance_mOhm", "mOhm", 0, &health.maxResistanceMilliohm},
        {"max_resistance_ratio", "times the cells' median", 1, &health.maxResistanceRatio},
        {"min_capacity_Ah", "Ah", 0, &health.minCapacityAh},
    }};
    for (const Entry &entry : entriesInFileOrder(*tableEntry.node->as_table())) {
        const QString keyPath = QLatin1String("health.") % entry.key;
        const auto key = std::find_if(keys.begin(), keys.end(), [&](const Key &k) {
            return entry.key == QLatin1String(k.name);
        });
        if (key == keys.end())
            return fail(entry.line, keyPath,
                        QStringLiteral("unknown key; the keys of [health] are "
                                       "max_resistance_mOhm, max_resistance_ratio, "
                                       "min_capacity_Ah"));
        const toml::node &node = *entry.node;
        double value = 0;
        if (node.is_integer())
            value = double(node.as_integer()->get());
        else if (node.is_floating_point())
            value = node.as_floating_point()->get();
        else
            return fail(entry.line, keyPath,
                        QLatin1String("expected a number (") % QLatin1String(key->unit) %
                            QLatin1String("), found ") % typeName(node.type()));
        // A ratio below 1 fails every pack on its median cell; a resistance or a capacity
        // of 0 or less is a typo.
        const bool sensible = key->least > 0 ? value >= key->least : value > 0;
        if (!std::isfinite(value) || !sensible)
            return fail(entry.line, keyPath,
                        numberText(value) %
                            (key->least > 0 ? QLatin1String(" is below ") % numberText(key->least)
                                            : QStringLiteral(" is not above 0")));
        *key->value = value;
    }
    return true;
}

bool LimitsParser::checkOrder(const Limits &limits, Limit minimum, Limit maximum)
{
    const auto low = limits.value(minimum);
    const auto high = limits.value(maximum);
    if (!low || !high || *low <= *high)
        return true;
    const QString unit = QString::fromUtf8(limitUnitSymbol(limitInfo(minimum).unit));
    return fail(lines[int(minimum)], QLatin1String(limitKeyPath(minimum)),
                numberText(*low) % QLatin1Char(' ') % unit % QLatin1String(" is above ") %
                    QLatin1String(limitKeyPath(maximum)) % QLatin1String(" (") % numberText(*high) %
                    QLatin1Char(' ') % unit % QLatin1Char(')'));
}

} // namespace

std::optional<Limits> parseLimits(const QByteArray &text, const QString &fileName,
                                  QString *errorMessage)
{
    const toml::parse_result result =
        toml::parse(std::string_view(text.constData(), size_t(text.size())));
    if (!result) {
        const toml::parse_error &error = result.error();
        *errorMessage = fileName % QLatin1Char(':') % QString::number(error.source().begin.line) %
                        QLatin1String(": ") % fromView(error.description());
        return std::nullopt;
    }
    LimitsParser parser(fileName);
    Limits limits;
    if (!parser.parse(result.table(), &limits)) {
        *errorMessage = parser.error;
        return std::nullopt;
    }
    return limits;
}

std::optional<Limits> readLimitsFile(const QString &path, QString *errorMessage)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *errorMessage = path % QLatin1String(": ") % file.errorString();
        return std::nullopt;
    }
    return parseLimits(file.readAll(), path, errorMessage);
}
