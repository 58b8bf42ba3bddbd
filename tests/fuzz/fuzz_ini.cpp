// The INI writer and reader: a value written is read back; every other line stays byte-exact; a
// second write of the same pair changes nothing; a section is never duplicated, however its header
// is written (blanks, capitals, a byte-order mark before the first line).
#include "FuzzCheck.h"
#include "settings/IniFile.h"

using namespace corvid::ini;

namespace {

bool sameName(const QByteArray& a, const QByteArray& b) {
    return QString::fromLocal8Bit(a.trimmed()).compare(QString::fromLocal8Bit(b.trimmed()), Qt::CaseInsensitive) == 0;
}

// The lines of a text (ending at CR LF, LF or CR) that are neither empty nor an entry of key; headers
// of section are counted.
QList<QByteArray> otherLines(const QByteArray& text, const QByteArray& key, int* headers, const QByteArray& section) {
    QList<QByteArray> lines;
    QByteArray t = QByteArray(text).replace("\r\n", "\n").replace('\r', '\n');
    // The mark before the first line (the writer drops blank lines before it, so it may stand later).
    qsizetype first = 0;
    while (first < t.size() && t.at(first) == '\n')
        ++first;
    if (t.mid(first).startsWith("\xEF\xBB\xBF")) t.remove(first, 3);
    for (const QByteArray& line : t.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const qsizetype close = trimmed.lastIndexOf(']');
        if (trimmed.startsWith('[') && sameName(trimmed.mid(1, close > 0 ? close - 1 : -1), section)) ++*headers;
        const qsizetype eq = trimmed.indexOf('=');
        const bool entry = !trimmed.startsWith('[') && sameName(eq < 0 ? trimmed : trimmed.left(eq), key);
        if (!line.isEmpty() && !entry) lines << line;
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
    // A name is what stands between the blanks, and a key holds no "=".
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty() || key.trimmed().startsWith('[') || key.contains('='))
        return 0;

    const QByteArray out = writeKey(text, section, key, value);
    const QByteArray read = readKey(out, section, key);
    FUZZ_CHECK(!read.isNull() && read == value);
    FUZZ_CHECK(writeKey(out, section, key, value) == out);
    const QByteArray header = '[' + section + ']';
    int before = 0, after = 0;
    QList<QByteArray> kept = otherLines(text, key, &before, section);
    if (before == 0) kept << header;
    FUZZ_CHECK(otherLines(out, key, &after, section) == kept);
    FUZZ_CHECK(after == qMax(before, 1));
    return 0;
}
