// List files: never more fields than the cap, and fields written between quotes come back exactly,
// whatever commas, blanks or bytes they hold and whatever trails a closing quote.
#include "FuzzCheck.h"
#include "settings/ListFile.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const int cap = size > 0 && data[0] % 2 ? TransferListMaxFields : AgentListMaxFields;
    FUZZ_CHECK(readListFields(raw, cap).size() <= cap);

    // The input as fields: one per line; the text after a tab trails the closing quote.
    QByteArray file;
    QStringList written;
    for (QByteArray field : fuzzPieces(data, size, '\n', 200)) {
        const qsizetype tab = field.indexOf('\t');
        QByteArray trail = tab < 0 ? QByteArray() : field.mid(tab + 1);
        field = field.left(tab < 0 ? field.size() : tab).replace('"', "").replace('\r', "").replace('\n', "");
        trail = trail.replace('"', "").replace('\r', "").replace('\n', "").replace(',', "");
        file += (file.isEmpty() ? "" : ",") + ('"' + field + '"' + trail);
        written << QString::fromLocal8Bit(field);
    }
    FUZZ_CHECK(readListFields(file + "\r\n", cap) == written.mid(0, cap));
    return 0;
}
