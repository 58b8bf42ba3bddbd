// The INI writer and reader: a value written is read back; every other line stays byte-exact; a
// second write of the same pair changes nothing; a section is never duplicated.
#include "FuzzCheck.h"
#include "settings/IniFile.h"

using namespace corvid::ini;

namespace {

// The lines of a text (ending at CR LF, LF or CR) that are neither empty nor an entry of key.
QList<QByteArray> otherLines(const QByteArray& text, const QByteArray& key, int* headers, const QByteArray& header) {
    QList<QByteArray> lines;
    for (const QByteArray& line : QByteArray(text).replace("\r\n", "\n").replace('\r', '\n').split('\n')) {
        if (line.toLower() == header.toLower()) ++*headers;
        if (!line.isEmpty() && !line.toLower().startsWith(key.toLower() + '=')) lines << line;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> in = fuzzPieces(data, size, '\0', 4);
    if (in.size() < 4) return 0;
    const QByteArray &text = in[0], &section = in[1], &key = in[2], &value = in[3];
    for (const QByteArray& name : {section, key, value})
        if (name.contains('\r') || name.contains('\n')) return 0;
    if (section.isEmpty() || key.isEmpty() || key.trimmed().startsWith('[')) return 0;

    const QByteArray out = writeKey(text, section, key, value);
    const QByteArray read = readKey(out, section, key);
    FUZZ_CHECK(!read.isNull() && read == value);
    FUZZ_CHECK(writeKey(out, section, key, value) == out);
    const QByteArray header = '[' + section + ']';
    int before = 0, after = 0;
    QList<QByteArray> kept = otherLines(text, key, &before, header);
    if (before == 0) kept << header;
    FUZZ_CHECK(otherLines(out, key, &after, header) == kept);
    FUZZ_CHECK(after == qMax(before, 1));
    return 0;
}
