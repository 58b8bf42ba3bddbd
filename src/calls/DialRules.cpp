#include "calls/DialRules.h"

#include "calls/LineRules.h"

#include <iterator>

namespace corvid {
namespace {

const DialPadKey Keys[] = {
    {"BtnDialPad0", "0", QChar('0'), true, QChar('0')},     {"BtnDialPad1", "Corvid", QChar('2'), true, QChar('2')},
    {"BtnDialPad2", "2", QChar('2'), true, QChar('2')},     {"BtnDialPad3", "Barge In", QChar('3'), true, QChar('3')},
    {"BtnDialPad4", "4", QChar('4'), true, QChar('4')},     {"BtnDialPad5", "5", QChar('5'), true, QChar('5')},
    {"BtnDialPad6", "6", QChar('6'), true, QChar('6')},     {"BtnDialPad7", "7", QChar('7'), true, QChar('7')},
    {"BtnDialPad8", "8", QChar('8'), true, QChar('8')},     {"BtnDialPad9", "9", QChar('9'), true, QChar('9')},
    {"BtnDialPadStar", "*", QChar('*'), false, QChar('*')}, {"BtnDialPadNo", "#", QChar(), false, QChar('#')},
    {"abctxt", "ABC", QChar('2'), true, QChar('2')},        {"ctText1", "DEF", QChar('3'), true, QChar('3')},
    {"ctText2", "GHI", QChar('4'), true, QChar('4')},       {"ctText3", "JKL", QChar('5'), true, QChar('5')},
    {"ctText4", "MNO", QChar('6'), true, QChar('6')},       {"ctText5", "PQRS", QChar('7'), true, QChar('7')},
    {"ctText6", "TUV", QChar('8'), true, QChar('8')},       {"ctText7", "WXYZ", QChar('9'), true, QChar('9')},
    {"ctText8", "OPER", QChar('0'), true, QChar('0')},
};

} // namespace

QString appendDialPadDigit(const QString& field, QChar digit) {
    if (field.size() == dialpad::FullNumberLength) return field;
    return field + digit;
}

QString appendDialPadStar(const QString& field) {
    return field + QLatin1Char('*');
}

const DialPadKey* findDialPadKey(const QString& control) {
    for (const DialPadKey& key : Keys) {
        if (control == QLatin1String(key.control)) return &key;
    }
    return nullptr;
}

QString pressDialPadKey(const QString& field, const DialPadKey& key) {
    if (key.appended.isNull()) return field;
    return key.lengthRule ? appendDialPadDigit(field, key.appended) : field + key.appended;
}

std::optional<bool> forceInBandFromSetting(const QString& value) {
    if (value == QLatin1String("True")) return true;
    if (value == QLatin1String("False")) return false;
    return std::nullopt;
}

QString dialingCaption(const QString& number) {
    return QStringLiteral("Dialing - ") + number;
}

QString dialingStatusLogLine(int line, const QString& number) {
    return lineStatusLogLine(line, QStringLiteral(": Dialing - ") + number);
}

} // namespace corvid
