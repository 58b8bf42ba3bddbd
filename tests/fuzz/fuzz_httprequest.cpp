// The HTTP control's request reader: whatever bytes come, in pieces of any size, it never holds
// more than its bound, no request it completes has more than 64 KB of body, and what it refuses
// it refuses with one of its statuses.
#include "FuzzCheck.h"
#include "integrations/HttpRequestReader.h"

using namespace corvid::httpcontrol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype piece = size ? 1 + data[0] % 61 : 1; // the first byte chooses the read size
    HttpRequestReader reader;
    auto result = HttpRequestReader::Result::NeedMore;
    for (qsizetype at = 0; at < input.size() && result != HttpRequestReader::Result::Refused;) {
        const QByteArray bytes = input.mid(at, qMin(piece, reader.room()));
        if (bytes.isEmpty()) break;
        at += bytes.size();
        for (result = reader.append(bytes); result == HttpRequestReader::Result::Request; result = reader.next())
            FUZZ_CHECK(reader.request().body.size() <= MaxBodyBytes && !reader.request().method.isEmpty());
        FUZZ_CHECK(reader.room() >= 0 && reader.room() <= MaxHeaderBytes + MaxBodyBytes + MaxChunkFramingBytes + 1);
    }
    if (result == HttpRequestReader::Result::Refused)
        FUZZ_CHECK(QList<int>({400, 413, 431, 501, 505}).contains(reader.refusal().status));
    return 0;
}
