// A click-to-dial argument becomes ten digits + ".dia" or nothing; a plain argument (no link)
// gives exactly what the number rule gives.
#include "FuzzCheck.h"
#include "dialer/AutomationRules.h"

using namespace corvid::automation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString argument = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> name = dialFileNameForLink(argument);
    if (name) FUZZ_CHECK(name->endsWith(DialSuffix) && isTenDigits(name->chopped(DialSuffix.size())));
    if (!argument.contains(QLatin1Char(':')))
        FUZZ_CHECK(name.value_or(QString()) == (dialNumberRule(argument).isEmpty() ? QString() : dialNumberRule(argument) + DialSuffix));
    return 0;
}
