#include "dialer/AutomationRules.h"

#include <QUrl>

namespace corvid::automation {

namespace {
QString digitsOf(const QString& text) {
    QString digits;
    for (const QChar c : text)
        if (c.unicode() >= u'0' && c.unicode() <= u'9') digits += c;
    return digits;
}
bool tooManyDigits(const QString& digits) {
    return digits.size() > 11 || (digits.size() == 11 && !digits.startsWith(QLatin1Char('1')));
}
} // namespace

bool hasTooManyDigits(const QString& text) {
    return tooManyDigits(digitsOf(text));
}

QString dialNumberRule(const QString& text) {
    const QString digits = digitsOf(text);
    if (tooManyDigits(digits)) return QString();
    const QString number = digits.startsWith(QLatin1Char('1')) ? digits.mid(1, 10) : digits.left(10);
    return number.size() == 10 ? number : QString();
}

int leadingNumber(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && end < 9 && text.at(end).unicode() >= u'0' && text.at(end).unicode() <= u'9')
        ++end;
    return end == 0 ? 0 : text.left(end).toInt();
}

ClipboardRequest parseClipboardRequest(const QString& clipboardText, int swipeLength) {
    ClipboardRequest request;
    QString text = clipboardText.trimmed();
    if (text.isEmpty()) return request;
    if (text.size() > swipeLength) {
        request.tooLong = true;
        return request;
    }
    if (text.startsWith(QLatin1Char('|'))) {
        const qsizetype second = text.indexOf(QLatin1Char('|'), 1);
        text = second < 0 ? text.mid(1) : text.mid(1, second - 1);
    }
    request.command = text;
    if (text == EndWord || text == HangUpWord) {
        request.kind = ClipboardRequest::HangUp;
    } else if (text == MessageDropWord) {
        request.kind = ClipboardRequest::MessageDrop;
    } else if (text == AnswerWord || text == RejectWord) {
        request.kind = text == AnswerWord ? ClipboardRequest::Answer : ClipboardRequest::Reject;
    } else if (text == PauseRecordingWord) {
        request.kind = ClipboardRequest::PauseRecording;
    } else if (text == ResumeRecordingWord) {
        request.kind = ClipboardRequest::ResumeRecording;
    } else {
        request.number = dialNumberRule(text);
        request.tooManyDigits = hasTooManyDigits(text);
        if (!request.number.isEmpty()) request.kind = ClipboardRequest::Dial;
    }
    return request;
}

bool datalinkNameGreater(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded > 0 : QString::compare(a, b, Qt::CaseSensitive) > 0;
}

bool isDialFileName(const QString& name) {
    return name.endsWith(DialSuffix, Qt::CaseInsensitive);
}

bool isEndFileName(const QString& name) {
    return name.endsWith(EndSuffix, Qt::CaseInsensitive);
}

QString recordingCommandForFile(const QString& name) {
    if (name.endsWith(PauseSuffix, Qt::CaseInsensitive)) return PauseRecordingWord;
    if (name.endsWith(ResumeSuffix, Qt::CaseInsensitive)) return ResumeRecordingWord;
    return {};
}

QString journalField(const QString& text, int maxChars) {
    const bool cut = text.size() > maxChars;
    QString out;
    for (const QChar c : cut ? text.left(maxChars) : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format ||
            c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else
            out += c;
    }
    if (cut) out += QStringLiteral("... (%1 characters)").arg(text.size());
    return out;
}

QString dialLinkNumberText(const QString& argument) {
    QString text = argument.trimmed();
    static const char* const schemes[] = {"tel:", "sip:", "sips:", "callto:"};
    for (const char* scheme : schemes) {
        if (!text.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) continue;
        text = text.mid(qsizetype(qstrlen(scheme)));
        if (text.startsWith(QLatin1String("//"))) text = text.mid(2); // callto://number
        // The user part: up to the host, the parameters or the headers.
        for (const QChar stop : {QLatin1Char('@'), QLatin1Char(';'), QLatin1Char('?')}) {
            const qsizetype at = text.indexOf(stop);
            if (at >= 0) text.truncate(at);
        }
        text = QUrl::fromPercentEncoding(text.toUtf8());
        break;
    }
    return text;
}

std::optional<QString> dialFileNameForLink(const QString& argument) {
    const QString number = dialNumberRule(dialLinkNumberText(argument));
    if (number.isEmpty()) return std::nullopt;
    return number + DialSuffix;
}

} // namespace corvid::automation
