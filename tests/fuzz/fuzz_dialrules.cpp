// The number rule, pipe records and clipboard commands: a number is empty or ten digits (never cut
// from more), and a command word counts only in its exact case.
#include "FuzzCheck.h"
#include "dialer/AutomationRules.h"

using namespace corvid::automation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int swipe = data[0] % 64;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    const QString number = dialNumberRule(text);
    FUZZ_CHECK(number.isEmpty() || isTenDigits(number));
    FUZZ_CHECK(!hasTooManyDigits(text) || number.isEmpty()); // never cut to ten

    const ClipboardRequest r = parseClipboardRequest(text, swipe);
    FUZZ_CHECK(!r.tooLong || (r.kind == ClipboardRequest::Ignore && text.trimmed().size() > swipe));
    FUZZ_CHECK((r.kind == ClipboardRequest::HangUp) == (r.command == EndWord || r.command == HangUpWord));
    FUZZ_CHECK((r.kind == ClipboardRequest::MessageDrop) == (r.command == MessageDropWord));
    FUZZ_CHECK((r.kind == ClipboardRequest::Dial) == isTenDigits(r.number));
    if (r.kind == ClipboardRequest::Dial) FUZZ_CHECK(r.number == dialNumberRule(r.command));
    if (text.trimmed().startsWith(QLatin1Char('|'))) FUZZ_CHECK(!r.command.contains(QLatin1Char('|')));
    return 0;
}
