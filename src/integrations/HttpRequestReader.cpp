#include "integrations/HttpRequestReader.h"

#include <utility>

namespace corvid::httpcontrol {

namespace {

// A request holds at most its head, its body and the framing of a chunked body; the first byte
// past that bound shows that the request is refused, so one more is let in.
constexpr qsizetype BufferBound = MaxHeaderBytes + MaxBodyBytes + MaxChunkFramingBytes + 1;
constexpr qsizetype MaxChunkLineBytes = 1024;

bool isToken(const QByteArray& text) {
    if (text.isEmpty()) return false;
    for (const char c : text)
        if (uchar(c) <= 32 || uchar(c) >= 127 || QByteArrayView("()<>@,;:\\\"/[]?={}").contains(c)) return false;
    return true;
}

bool allDigits(const QByteArray& text) {
    if (text.isEmpty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray& name) const {
    for (const auto& h : headers)
        if (h.first == name) return h.second;
    return {};
}

QByteArray HttpRequest::queryItem(const QByteArray& name) const {
    for (const QByteArray& item : query.split('&')) {
        const qsizetype eq = item.indexOf('=');
        if (item.left(eq < 0 ? item.size() : eq) == name) return eq < 0 ? QByteArray() : item.mid(eq + 1);
    }
    return {};
}

qsizetype HttpRequestReader::room() const {
    if (m_stage == Stage::Refused) return 0;
    return qMax<qsizetype>(0, BufferBound - m_buffer.size() - m_request.body.size() - m_framing);
}

HttpRequestReader::Result HttpRequestReader::append(const QByteArray& bytes) {
    if (m_stage == Stage::Refused) return Result::Refused;
    if (m_stage == Stage::Done) { // the caller has not taken the request yet: keep what follows it
        m_buffer += bytes;
        return Result::Request;
    }
    m_buffer += bytes;
    return parse();
}

HttpRequestReader::Result HttpRequestReader::next() {
    if (m_stage == Stage::Refused) return Result::Refused;
    m_request = HttpRequest();
    m_stage = Stage::Head;
    m_bodyLeft = 0;
    m_framing = 0;
    m_continue = false;
    return parse();
}

bool HttpRequestReader::takeContinue() {
    return std::exchange(m_continue, false);
}

HttpRequestReader::Result HttpRequestReader::refuse(int status, const QByteArray& reason) {
    m_stage = Stage::Refused;
    m_refusal = {status, reason};
    m_buffer.clear();
    m_request.body.clear();
    return Result::Refused;
}

HttpRequestReader::Result HttpRequestReader::parse() {
    for (;;) {
        switch (m_stage) {
        case Stage::Head: {
            const qsizetype end = m_buffer.indexOf("\r\n\r\n");
            if (end < 0 || end + 4 > MaxHeaderBytes) {
                if (m_buffer.size() > MaxHeaderBytes || end >= 0) return refuse(431, "the header block is over 16 KB");
                return Result::NeedMore;
            }
            const QByteArray head = m_buffer.left(end);
            m_buffer.remove(0, end + 4);
            if (!readHead(head)) return Result::Refused;
            break;
        }
        case Stage::Body: {
            const qsizetype take = qsizetype(qMin<qint64>(m_bodyLeft, m_buffer.size()));
            m_request.body += m_buffer.left(take);
            m_buffer.remove(0, take);
            m_bodyLeft -= take;
            if (m_bodyLeft > 0) return Result::NeedMore;
            m_stage = Stage::Done;
            break;
        }
        case Stage::ChunkSize: {
            const qsizetype end = m_buffer.indexOf("\r\n");
            if (end < 0) {
                if (m_buffer.size() > MaxChunkLineBytes) return refuse(400, "a chunk size line is too long");
                return Result::NeedMore;
            }
            QByteArray size = m_buffer.left(end);
            m_buffer.remove(0, end + 2);
            m_framing += end + 2;
            if (const qsizetype ext = size.indexOf(';'); ext >= 0) size.truncate(ext);
            size = size.trimmed();
            bool ok = !size.isEmpty();
            for (const char c : size)
                ok = ok && QByteArrayView("0123456789abcdefABCDEF").contains(c);
            if (!ok) return refuse(400, "a chunk size is not a hexadecimal number");
            const qint64 bytes = size.size() <= 8 ? size.toLongLong(nullptr, 16) : MaxBodyBytes + 1;
            if (m_request.body.size() + bytes > MaxBodyBytes) return refuse(413, "the body is over 64 KB");
            if (m_framing > MaxChunkFramingBytes) return refuse(413, "the body's chunks are over 16 KB of framing");
            m_bodyLeft = bytes;
            m_stage = bytes == 0 ? Stage::Trailers : Stage::ChunkData;
            break;
        }
        case Stage::ChunkData: {
            const qsizetype take = qsizetype(qMin<qint64>(m_bodyLeft, m_buffer.size()));
            m_request.body += m_buffer.left(take);
            m_buffer.remove(0, take);
            m_bodyLeft -= take;
            if (m_bodyLeft > 0) return Result::NeedMore;
            m_stage = Stage::ChunkEnd;
            break;
        }
        case Stage::ChunkEnd:
            if (m_buffer.size() < 2) return Result::NeedMore;
            if (!m_buffer.startsWith("\r\n")) return refuse(400, "a chunk does not end in CR LF");
            m_buffer.remove(0, 2);
            m_framing += 2;
            m_stage = Stage::ChunkSize;
            break;
        case Stage::Trailers: {
            const qsizetype end = m_buffer.indexOf("\r\n");
            if (end < 0) {
                if (m_framing + m_buffer.size() > MaxChunkFramingBytes)
                    return refuse(413, "the body's chunks are over 16 KB of framing");
                return Result::NeedMore;
            }
            m_buffer.remove(0, end + 2);
            m_framing += end + 2;
            if (m_framing > MaxChunkFramingBytes) return refuse(413, "the body's chunks are over 16 KB of framing");
            if (end == 0) m_stage = Stage::Done;
            break;
        }
        case Stage::Done:
            return Result::Request;
        case Stage::Refused:
            return Result::Refused;
        }
    }
}

bool HttpRequestReader::readHead(const QByteArray& head) {
    const auto bad = [this](const QByteArray& why) { return refuse(400, why), false; };
    // Lines end in CR LF; a lone CR or LF could be read as a line end by one reader and not another.
    for (qsizetype i = 0; i < head.size(); ++i) {
        if ((head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) ||
            (head[i] == '\r' && (i + 1 == head.size() || head[i + 1] != '\n')))
            return bad("a header line does not end in CR LF");
    }
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
    const QList<QByteArray> start = lines.first().split(' ');
    if (start.size() != 3 || !isToken(start[0]) || !start[1].startsWith('/'))
        return bad("the request line is not \"METHOD /path HTTP/1.1\"");
    if (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0") return refuse(505, "only HTTP/1.1 is spoken"), false;
    m_request.method = start[0];
    const qsizetype question = start[1].indexOf('?');
    m_request.path = question < 0 ? start[1] : start[1].left(question);
    m_request.query = question < 0 ? QByteArray() : start[1].mid(question + 1);

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon))) return bad("a header line is not \"Name: value\"");
        m_request.headers.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }

    const QByteArray connection = m_request.header("connection").toLower();
    m_request.keepAlive = start[2] == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");

    // A body is framed one way only; two framings could be read differently by a proxy in between.
    QByteArray length;
    bool chunked = false;
    for (const auto& h : m_request.headers) {
        if (h.first == "content-length") {
            if (!allDigits(h.second) || (!length.isEmpty() && length != h.second))
                return bad("Content-Length is not one number");
            length = h.second;
        } else if (h.first == "transfer-encoding") {
            if (h.second.toLower() != "chunked") return refuse(501, "only the chunked transfer coding is read"), false;
            chunked = true;
        }
    }
    if (chunked && !length.isEmpty()) return bad("both Content-Length and Transfer-Encoding");
    if (chunked) {
        m_stage = Stage::ChunkSize;
    } else {
        const qint64 announced = length.size() > 12 ? MaxBodyBytes + 1 : length.toLongLong();
        if (announced > MaxBodyBytes) return refuse(413, "the body is over 64 KB"), false;
        m_bodyLeft = announced;
        m_stage = Stage::Body;
    }
    m_continue = (chunked || m_bodyLeft > 0) && m_request.header("expect").toLower() == "100-continue";
    return true;
}

} // namespace corvid::httpcontrol
