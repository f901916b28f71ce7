#pragma once
// The settings file beside the executable, read the way the platform's INI
// reader reads it: sections and keys without regard to letter case, values
// trimmed and freed of one pair of enclosing quotes.

#include <QString>

// The executable's path with its extension replaced by ".ini" (added when it has none).
QString SettingsFileFor(const QString& executablePath);

// The value of key in section, or defaultValue when the file, the section or
// the key is missing. An empty value is a value.
QString ReadIniString(const QString& fileName, const QString& section, const QString& key, const QString& defaultValue);

// Whole-number text as the platform reads it: leading blanks, then an optional
// sign and decimal digits, or one of the prefixes "$", "x", "X", "0x", "0X" and
// hexadecimal digits. Anything else, or a number outside 32 bits, gives defaultValue.
int ParseIniInteger(const QString& text, int defaultValue);

struct FontSettings {
    QString Name;  // empty: keep the window's own font name
    int Size = 9;
};

// Section "FONT": "NAME" (default "Arial", cut to 31 characters) and "SIZE" (default 9).
FontSettings ReadFontSettings(const QString& iniFileName);
