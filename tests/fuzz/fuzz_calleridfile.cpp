// The caller-ID hand-over file: the caller ID + ".txt", directly inside datalink/, or no file.
#include <QDir>

#include "FuzzCheck.h"
#include "integrations/CrmRules.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString callerId = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = callerIdFileName(callerId);
    if (name.isEmpty()) return 0;
    FUZZ_CHECK(name == callerId + QStringLiteral(".txt") && name.toUtf8().size() <= 255);
    const QString folder = QStringLiteral("/root/CallDeck/datalink");
    const QString path = QDir::cleanPath(folder + QLatin1Char('/') + name);
    FUZZ_CHECK(path == folder + QLatin1Char('/') + name && !name.contains(QLatin1Char('\\')));
    for (const QChar c : name)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    return 0;
}
