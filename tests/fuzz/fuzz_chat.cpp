// Chat: markup shows only what lies between its first ">" and the next "<", other text is shown
// as it came; whatever a sender and a text hold, a chat-log record is exactly one line.
#include "FuzzCheck.h"
#include "chat/ChatRules.h"
#include "dialer/LogRecords.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> pieces = fuzzPieces(data, size, '\0', 2);
    const QString text = QString::fromUtf8(pieces.last());
    const QString sender = pieces.size() > 1 ? QString::fromUtf8(pieces.first()) : QStringLiteral("ann");

    const QString type = sender.size() % 2 ? QStringLiteral("text/html") : QStringLiteral("text/plain");
    const QString shown = shownChatText(text, type);
    if (isChatMarkup(text, type) && text.contains(QLatin1Char('>')))
        FUZZ_CHECK(!shown.contains(QLatin1Char('<')) && text.mid(text.indexOf(QLatin1Char('>')) + 1).startsWith(shown));
    else
        FUZZ_CHECK(shown == text);

    const QString stamp = QStringLiteral("0603_9:5");
    for (const QByteArray& record : {printRecord(chatLineSent(chatLogText(text), stamp)),
                                     printRecord(chatLineReceived(chatLogText(sender), chatLogText(text), stamp))}) {
        FUZZ_CHECK(record.endsWith("\r\n"));
        FUZZ_CHECK(record.count('\r') == 1 && record.count('\n') == 1);
    }
    return 0;
}
