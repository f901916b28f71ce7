#include "app/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <limits>

namespace {

// The platform's font names hold at most 31 characters.
constexpr qsizetype kFontNameLength = 31;

QString withoutQuotes(const QString& value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

}  // namespace

QString SettingsFileFor(const QString& executablePath)
{
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString base = dot > 0 ? name.left(dot) : name;
    return info.dir().filePath(base + ".ini");
}

QString ReadIniString(const QString& fileName, const QString& section, const QString& key, const QString& defaultValue)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return defaultValue;
    // The file is in the local 8-bit encoding; its names are matched without case.
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split('\n');
    bool inSection = false;
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection) continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) continue;
        if (line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) != 0) continue;
        return withoutQuotes(line.mid(equals + 1).trimmed());
    }
    return defaultValue;
}

int ParseIniInteger(const QString& text, int defaultValue)
{
    qsizetype pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const QString rest = text.mid(pos);

    // Hexadecimal: a prefix, then at least one digit, nothing else, at most 32 bits.
    qsizetype prefix = 0;
    if (rest.startsWith("0x", Qt::CaseInsensitive))
        prefix = 2;
    else if (rest.startsWith('$') || rest.startsWith('x', Qt::CaseInsensitive))
        prefix = 1;
    if (prefix > 0) {
        const QString digits = rest.mid(prefix);
        if (digits.isEmpty()) return defaultValue;
        uint64_t value = 0;
        for (QChar c : digits) {
            const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
            if (digit < 0 || c.unicode() > 127) return defaultValue;
            value = value * 16 + uint64_t(digit);
            if (value > std::numeric_limits<uint32_t>::max()) return defaultValue;
        }
        return int(int32_t(uint32_t(value)));  // above $7FFFFFFF reads as negative
    }

    // Decimal: an optional sign, then at least one digit, within 32 bits.
    qsizetype i = 0;
    const bool negative = !rest.isEmpty() && rest[0] == '-';
    if (!rest.isEmpty() && (rest[0] == '-' || rest[0] == '+')) i = 1;
    if (i >= rest.size()) return defaultValue;
    int64_t value = 0;
    for (; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9') return defaultValue;
        value = value * 10 + (rest[i].unicode() - '0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) return defaultValue;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max()) return defaultValue;
    return int(value);
}

FontSettings ReadFontSettings(const QString& iniFileName)
{
    FontSettings font;
    font.Name = ReadIniString(iniFileName, "FONT", "NAME", "Arial").left(kFontNameLength);
    font.Size = ParseIniInteger(ReadIniString(iniFileName, "FONT", "SIZE", "9"), 9);
    return font;
}
