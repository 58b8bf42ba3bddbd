// What an INVITE's sender controls: its caller ID is shown clean and short, its auto-answer request
// is a delay in range or none, and its Via is judged without crashing.
#include "FuzzCheck.h"
#include "calls/IncomingRules.h"
#include "engine/linphone/EngineRules.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> p = fuzzPieces(data, size, '\n', 3);
    const QString a = QString::fromUtf8(p.value(0)), b = QString::fromUtf8(p.value(1)),
                  c = QString::fromUtf8(p.value(2));
    const QString shown = cleanCallerId(a);
    FUZZ_CHECK(shown.size() <= CallerIdMaxChars && shown == shown.trimmed() && cleanCallerId(shown) == shown);
    for (const QChar ch : shown)
        FUZZ_CHECK(ch.unicode() >= 0x20 && ch.unicode() != 0x7f);
    const int after = engine_rules::autoAnswerAfter(a, b);
    FUZZ_CHECK(after >= -1 && after <= engine_rules::kMaxAnswerAfter);
    engine_rules::viaFromServer(a, b, {c}, false);
    return 0;
}
