// The datalink order is a strict weak order (here even total), so sorting a listing neither
// crashes nor loops.
#include <algorithm>

#include "FuzzCheck.h"
#include "dialer/AutomationRules.h"

using corvid::automation::datalinkNameGreater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList names;
    for (const QByteArray& piece : fuzzPieces(data, size, '\n', 12))
        names << QString::fromUtf8(piece);
    for (const QString& a : names) {
        FUZZ_CHECK(!datalinkNameGreater(a, a));
        for (const QString& b : names) {
            FUZZ_CHECK(!(datalinkNameGreater(a, b) && datalinkNameGreater(b, a)));
            FUZZ_CHECK(datalinkNameGreater(a, b) || datalinkNameGreater(b, a) || a == b);
            for (const QString& c : names)
                if (datalinkNameGreater(a, b) && datalinkNameGreater(b, c)) FUZZ_CHECK(datalinkNameGreater(a, c));
        }
    }
    std::sort(names.begin(), names.end(), datalinkNameGreater);
    FUZZ_CHECK(std::is_sorted(names.begin(), names.end(), datalinkNameGreater));
    return 0;
}
