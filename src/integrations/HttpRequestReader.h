#pragma once
// Reads HTTP/1.1 requests from a connection's bytes, one after the other, and never holds more than
// one request's worth: a header block over MaxHeaderBytes (431), a body announced or streamed
// (chunked) over MaxBodyBytes (413), or a malformed request (400, 501) is refused as soon as it is
// known, before the rest is read. Needs no socket: the connection hands in what it read, at most
// room() bytes at a time.

#include <QByteArray>
#include <QList>
#include <QPair>

namespace corvid::httpcontrol {

constexpr qsizetype MaxHeaderBytes = 16 * 1024;
constexpr qint64 MaxBodyBytes = 64 * 1024;
// What chunk sizes, extensions and trailers may add to a chunked body.
constexpr qsizetype MaxChunkFramingBytes = 16 * 1024;

struct HttpRequest {
    QByteArray method;
    QByteArray path;                              // without the query
    QByteArray query;                             // after "?", undecoded
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed
    QByteArray body;
    bool keepAlive = true; // HTTP/1.1 without "Connection: close", or HTTP/1.0 asking for it

    // The first header of that (lower-case) name; empty when there is none.
    QByteArray header(const QByteArray& name) const;
    // The value of a query parameter (undecoded); empty when there is none.
    QByteArray queryItem(const QByteArray& name) const;
};

class HttpRequestReader {
public:
    enum class Result {
        NeedMore, // nothing complete yet: read more (at most room())
        Request,  // request() holds a complete request; call next() for the one after it
        Refused,  // refusal() holds the status and the reason; the connection ends
    };
    struct Refusal {
        int status = 0;
        QByteArray reason;
    };

    // The bytes the reader may still take without passing its bound.
    qsizetype room() const;
    // Takes bytes read from the connection (at most room()) and reads as far as they go.
    Result append(const QByteArray& bytes);
    // Drops the request just read and reads on in the bytes that followed it.
    Result next();
    // The head of the request being read is complete and its client waits for "100 Continue"
    // before it sends the body: true once per request.
    bool takeContinue();
    // Whether part of a request has been read.
    bool midRequest() const { return !m_buffer.isEmpty() || m_stage != Stage::Head; }

    const HttpRequest& request() const { return m_request; }
    const Refusal& refusal() const { return m_refusal; }

private:
    enum class Stage { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, Done, Refused };
    Result parse();
    Result refuse(int status, const QByteArray& reason);
    bool readHead(const QByteArray& head);

    QByteArray m_buffer; // bytes not yet parsed
    Stage m_stage = Stage::Head;
    HttpRequest m_request;
    Refusal m_refusal;
    qint64 m_bodyLeft = 0;   // bytes of the body (or of the current chunk) still to come
    qsizetype m_framing = 0; // chunk framing bytes read so far
    bool m_continue = false;
};

} // namespace corvid::httpcontrol
