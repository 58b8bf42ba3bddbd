#include "calls/IncomingRules.h"

namespace corvid {

QString cleanCallerId(const QString& outside) {
    QString out;
    bool blank = false;
    for (const QChar c : outside) {
        const QChar::Category cat = c.category();
        if (c.isSpace()) {
            blank = !out.isEmpty();
            continue;
        }
        if (cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Other_Surrogate ||
            cat == QChar::Other_NotAssigned || cat == QChar::Other_PrivateUse)
            continue;
        if (blank) out += QLatin1Char(' ');
        blank = false;
        out += c;
        if (out.size() >= CallerIdMaxChars) break;
    }
    return out.left(CallerIdMaxChars);
}

QString incomingEntryText(const QString& number, const QString& name) {
    const QString shown = number.isEmpty() ? AnonymousCaller : number;
    return name.isEmpty() || name == shown ? shown : shown + QStringLiteral("  ") + name;
}

AutoAnswerMode autoAnswerMode(const QString& setting) {
    const QString s = setting.trimmed();
    if (s.compare(QLatin1String("PbxRequested"), Qt::CaseInsensitive) == 0) return AutoAnswerMode::PbxRequested;
    if (s.compare(QLatin1String("Always"), Qt::CaseInsensitive) == 0) return AutoAnswerMode::Always;
    return AutoAnswerMode::Off;
}

int rejectCode(const QString& setting) {
    return setting.trimmed() == QLatin1String("603") ? 603 : 486;
}

} // namespace corvid
