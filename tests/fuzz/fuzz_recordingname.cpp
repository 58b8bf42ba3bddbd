// A recording's file name lands directly in messages/, whatever the number holds.
#include <QDir>

#include "FuzzCheck.h"
#include "media/RecordingFileName.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString number = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString folder = QStringLiteral("/root/CallDeck/messages");
    const QString path = RecordingFileName(folder, number, QDateTime(QDate(2026, 3, 6), QTime(14, 15, 2)));
    const QString name = path.mid(folder.size() + 1);
    FUZZ_CHECK(path.startsWith(folder + QLatin1Char('/')) && name.endsWith(QStringLiteral("_060326_141502.wav")));
    FUZZ_CHECK(QDir::cleanPath(path) == path && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')));
    for (const QChar c : name)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f && !QStringLiteral(":*?\"<>|").contains(c));
    return 0;
}
