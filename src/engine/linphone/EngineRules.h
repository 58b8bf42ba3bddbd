#pragma once
// Pure rules of the SIP engine adapter: scales, status-code routing, codec names and the checks
// made on the numbers and names the window hands over. No library types here, so they are tested
// on their own.

#include <QString>
#include <QStringList>

namespace corvid::engine_rules {

// Volumes are 0..255 on the engine boundary. Volume 200 is the library's unchanged level (0 dB);
// the gain follows the volume linearly in amplitude, 20*log10(v/200) dB, so 250 (the top of the
// window's slider) is +1.9 dB, 100 is -6 dB, 25 is -18 dB, and 0 is treated as silence (-100 dB).
constexpr int kVolumeMax = 255;
constexpr int kVolumeUnity = 200;
constexpr float kSilenceDb = -100.0f;
// Microphone boost adds this many dB on top of the microphone volume.
constexpr float kMicBoostDb = 12.0f;
float volumeToGainDb(int volume);

// Level meters: the library measures dBm0 (-120 when silent); the bar gets the linear amplitude on
// 0..32767, where 0 dBm0 and louder is full scale.
constexpr int kLevelMax = 32767;
int levelFromDbm0(float dbm0);

// Final SIP responses reach the window by the class of their status code.
enum class ResponseClass { None, Redirection, RequestFailure, ServerFailure, GlobalFailure };
ResponseClass classifyStatus(int statusCode);

// A call refused because the proxy does not know the calling phone (its registrar has forgotten the
// registration): a 4xx whose reason phrase speaks of registration ("Not registered").
bool refusedAsUnregistered(int statusCode, const QString& phrase);

// Standard reason phrases for the provisional responses the library reports without their text.
QString provisionalReason(int statusCode);

// Codec numbers of the boundary and the library's MIME names for them (empty for unknown numbers).
QString codecMimeName(int codec);
// The boundary's number for a library MIME name, -1 when it has none.
int codecNumber(const QString& mimeName);

// A number to dial or transfer to: blanks at both ends are dropped; what remains must be 1 to 64
// characters of digits, '*', '#' and '+', or a sip:/sips: address user@host without blanks. Answers
// the cleaned target, or an empty string when the text is not dialable.
QString dialTarget(const QString& number);

// A chat user or contact name: the user part of an address (letters, digits and . - _ + *), at most
// 64 characters. The window may hand back a contact entry as shown ("ann [Online]"): only the text
// before the first blank counts.
QString chatUserName(const QString& text);

// A DTMF digit: one of 0-9 * # A-D (a-d accepted); 0 when the text is not one digit.
char dtmfDigit(const QString& text);

// Auto-answer asked for by an INVITE: Call-Info "<...>;answer-after=N" (N seconds), or Alert-Info
// "...;info=alert-autoanswer" or "...auto answer" (at once, or after its ";delay=N"). Answers the
// seconds (at most kMaxAnswerAfter), -1 when neither header asks.
constexpr int kMaxAnswerAfter = 3600;
int autoAnswerAfter(const QString& callInfo, const QString& alertInfo);

// Whether a request came from the SIP server the phone talks to: the top Via's sent-by, with the
// "received" and "rport" parameters the library writes from the packet's real source, names
// server (host or host:port; the port defaults to 5060, 5061 with TLS) or one of its addresses.
bool viaFromServer(const QString& topVia, const QString& server, const QStringList& serverAddresses, bool tls);

// Presence ids of the boundary.
namespace Presence {
enum : int { Online = 0, Offline = 1, Away = 2, OnThePhone = 3, Busy = 4 };
}

} // namespace corvid::engine_rules
