// The CRM page's address: whatever the agent's values and the caller ID hold, the query has
// exactly its four parameters, each giving back its value.
#include <QUrl>
#include <QUrlQuery>

#include "FuzzCheck.h"
#include "integrations/CrmRules.h"
#include "platform/Blanks.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList v;
    for (const QByteArray& piece : fuzzPieces(data, size, '\0', 4))
        v << QString::fromUtf8(piece);
    while (v.size() < 4)
        v << QString();
    const QUrl url(crmPageAddress(QStringLiteral("crm.example.net:8080"), v[0], v[1], v[2], v[3]), QUrl::StrictMode);
    FUZZ_CHECK(url.isValid() && url.host() == QLatin1String("crm.example.net") && url.port() == 8080);
    FUZZ_CHECK(url.path() == QLatin1String(CrmPagePath) && !url.hasFragment());
    // Compared as bytes: Qt's own decoding turns noncharacters (U+FFFFF) into U+FFFD.
    const QList<QPair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyEncoded);
    FUZZ_CHECK(items.size() == 4);
    const QStringList keys{"u", "p", "w", "phone"};
    for (int i = 0; i < 4; ++i)
        FUZZ_CHECK(items[i].first == keys[i] &&
                   QByteArray::fromPercentEncoding(items[i].second.toLatin1()) == (i == 3 ? trimBlanks(v[3]) : v[i]).toUtf8());
    return 0;
}
