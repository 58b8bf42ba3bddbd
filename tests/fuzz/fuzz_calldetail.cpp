// A call-detail record holding outside text is one line of valid JSON that gives the text back.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "FuzzCheck.h"
#include "dialer/CallDetailRules.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray json = jsonString(text);
    for (const char c : json)
        FUZZ_CHECK(uchar(c) >= 0x20 && c != 0x7f);
    QJsonParseError error;
    const QJsonDocument array = QJsonDocument::fromJson('[' + json + ']', &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError && array.array().at(0).toString() == text);

    CallDetail detail;
    detail.number = text;
    detail.quality.endReason = text;
    const QByteArray line = callDetailLine(detail);
    FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1);
    const QJsonObject record = QJsonDocument::fromJson(line, &error).object();
    FUZZ_CHECK(error.error == QJsonParseError::NoError && record.value(QLatin1String("number")).toString() == text &&
               record.value(QLatin1String("end_reason")).toString() == text);
    return 0;
}
