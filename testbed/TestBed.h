#pragma once
// The loopback test bed of the end-to-end tests and the benchmarks: a SIP registrar and proxy
// (kamailio) with SIP far ends (sipp) on free UDP ports of 127.0.0.1, and an optional private
// PulseAudio server with null sinks. The configuration and scenarios are in testbed/pbx/.
//
// Every process is started in its own process group and stopped by its pid (SIGTERM, then SIGKILL)
// by stop() and by the destructor, and is told to end when its parent dies, so a failing test
// leaves nothing running. Every file lives in a temporary folder that is removed with the bed.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <memory>

namespace corvid::test {

// Numbers the proxy routes to the far ends.
namespace BedNumber {
inline const QString Answer = QStringLiteral("9001");      // answers, echoes RTP, sends DTMF 5 by INFO
inline const QString HangUp = QStringLiteral("9100");      // answers, then hangs up by itself
inline const QString Busy = QStringLiteral("9486");        // 486 Busy Here
inline const QString NotFound = QStringLiteral("9404");    // 404 Not Found
inline const QString ServerError = QStringLiteral("9500"); // 500 Server Internal Error
inline const QString Decline = QStringLiteral("9603");     // 603 Decline
} // namespace BedNumber

struct BedAccount {
    QString user;
    QString password;
};
inline const BedAccount Account1001{QStringLiteral("1001"), QStringLiteral("secret1001")};
inline const BedAccount Account1002{QStringLiteral("1002"), QStringLiteral("secret1002")};

// A free UDP port on 127.0.0.1 (asks the OS by binding port 0). With span > 1 the answer is an
// even port p with p .. p+span-1 all free (RTP wants pairs).
int freeUdpPort(int span = 1);
// Whether some socket is bound to 127.0.0.1:port (UDP).
bool isUdpPortBound(int port);
// Whether any process of the process group pgid is still alive.
bool processGroupAlive(qint64 pgid);
// A free TCP port on 127.0.0.1.
int freeTcpPort();

// One child process of the bed, in its own process group. It gets SIGTERM when the test process
// dies, so a crash leaves no far end behind.
class BedProcess {
public:
    BedProcess() = default;
    ~BedProcess();
    BedProcess(const BedProcess&) = delete;
    BedProcess& operator=(const BedProcess&) = delete;

    bool start(const QString& program, const QStringList& arguments, const QString& workDir, const QString& logFile,
               const QHash<QString, QString>& extraEnvironment = {});
    qint64 pid() const { return m_pid; }
    bool isRunning() const;
    // SIGTERM to the group, wait up to graceMs, then SIGKILL to the group.
    void stop(int graceMs = 3000);

private:
    std::unique_ptr<QProcess> m_process;
    qint64 m_pid = 0;
};

class SipTestBed {
public:
    enum class FarEnd { Answer, HangUp, Reject };
    // The proxy's TLS listeners (with Options::tls), each with its certificate from the bed's CA:
    // Trusted as an admin makes it (CN and DNS entries for the PBX's name, an IP entry for
    // 127.0.0.1), OtherName (for another name), OtherCa (Trusted's names from a CA nobody trusts),
    // NameOnly (one DNS entry for the PBX's name), IpOnly (one IP entry for 127.0.0.1), CnOnly (the
    // PBX's name as CN, no entries), Expired (Trusted's names, expired yesterday).
    enum class TlsListener { Trusted, OtherName, OtherCa, NameOnly, IpOnly, CnOnly, Expired };
    static constexpr int TlsListeners = 7;
    struct Options {
        int hangUpAfterMs = 2500; // how long the far end that hangs up keeps the call
        bool tls = false;         // the proxy listens on TLS too; the CA and certificates are made with openssl
        bool stun = false;        // a STUN server (coturn) on 127.0.0.1
        // Above 0: the answering far end's RTP goes through a loss stage (rtp_loss_relay.py) that
        // drops this share of the packets it echoes back to the phone.
        int answerLossPercent = 0;
    };

    SipTestBed();
    explicit SipTestBed(Options options);
    ~SipTestBed();

    // Starts the far ends, then the proxy, each on a free port, and waits until each is ready.
    bool start();
    void stop();
    // Kills the proxy at once (SIGKILL: it keeps registrations in memory, so they are gone), and
    // starts it again on the same port, as a registrar that crashed and was restarted.
    void killProxy();
    // Restarts the proxy where it listened, as one that answers STUN on its SIP port or not.
    bool restartProxy(bool answersStun = true);
    QString errorString() const { return m_error; }

    static QString providerDomain();
    // "pbx1234.<provider domain>": the account domain and digest realm.
    QString domain() const;
    int proxyPort() const { return m_proxyPort; }
    // "127.0.0.1:<port>"
    QString proxyAddress() const;
    int farEndPort(FarEnd farEnd) const;
    // "127.0.0.1:<port>" of a TLS listener, and the CA bundle that its trusted certificates chain to.
    QString tlsAddress(TlsListener listener) const;
    QString tlsCaFile() const;
    // "127.0.0.1:<port>" of the STUN server.
    QString stunAddress() const;
    int stunPort() const { return m_stunPort; }
    QString tempPath() const;

    // The main pids of the bed's processes (proxy first); each is its own process group.
    QList<qint64> processIds() const;

    // The far end's SIP message trace and its scenario log (lines like "REINVITE sendonly (...)").
    QString farEndMessages(FarEnd farEnd) const;
    QString farEndLog(FarEnd farEnd) const;
    // The proxy's own log (stderr).
    QString proxyLog() const;

    // Contacts registered for user (e.g. "1001") in the proxy's location table, read with
    // kamcmd over the proxy's control socket. An empty list when none; ok=false when the query failed.
    // field: another field of each contact instead of its address ("Call-ID": whose registration).
    QStringList locationContacts(const QString& user, bool* ok = nullptr,
                                 const QString& field = QStringLiteral("Address")) const;

private:
    struct FarEndProcess {
        QString name;
        QString scenario;
        int port = 0;
        int mediaPort = 0;
        bool echo = false;
        std::unique_ptr<BedProcess> process;
    };
    bool startFarEnd(FarEndProcess& farEnd);
    bool makeCertificates();
    bool startStun();
    bool startProxy(int port = 0); // port 0: a free one
    bool waitUntilBound(BedProcess& process, int port, int timeoutMs);
    bool proxyAnswersOptions(int timeoutMs);
    const FarEndProcess& farEnd(FarEnd which) const;
    QString readTemp(const QString& name) const;

    Options m_options;
    bool m_proxyAnswersStun = true;
    QTemporaryDir m_dir;
    QString m_error;
    int m_proxyPort = 0;
    QString m_controlSocket;
    std::unique_ptr<BedProcess> m_proxy;
    FarEndProcess m_farEnds[3];
    int m_tlsPorts[TlsListeners] = {};
    int m_stunPort = 0;
    std::unique_ptr<BedProcess> m_stun;
    std::unique_ptr<BedProcess> m_lossRelay;
};

// A packet capture on the loopback interface (dumpcap), read back with tshark: what really went
// over the wire during a test.
class WireCapture {
public:
    ~WireCapture() { stop(); }
    // Whether dumpcap and tshark are installed and this user may capture on the loopback.
    static bool available(QString* why = nullptr);
    // Starts capturing what the capture filter (pcap syntax) takes; true once dumpcap captures.
    bool start(const QString& captureFilter, const QString& file);
    void stop();
    // One line per packet that the display filter takes, with the fields given (tab between them).
    // decodeAs: tshark -d rules ("udp.port==7000,rtp"), for ports that are not the protocol's own.
    QStringList packets(const QString& displayFilter, const QStringList& fields,
                        const QStringList& decodeAs = {}) const;

private:
    QString m_file;
    std::unique_ptr<BedProcess> m_process;
};

// A private PulseAudio server with a null sink ("spk") as the playback device and a null source
// ("mic") as the capture device, for engines that should use a sound card where there is none.
// applyToEnvironment() points this process's PulseAudio clients at it (PULSE_SERVER).
class NullSoundCard {
public:
    NullSoundCard();
    ~NullSoundCard();
    static bool available(); // pulseaudio and pactl are installed
    bool start();
    void stop();
    QString errorString() const { return m_error; }
    QString serverAddress() const; // "unix:<runtime>/pulse/native"
    void applyToEnvironment() const;
    qint64 pid() const { return m_process ? m_process->pid() : 0; }

private:
    bool pactl(const QStringList& arguments);
    QTemporaryDir m_dir;
    QString m_error;
    std::unique_ptr<BedProcess> m_process;
    QByteArray m_savedPulseServer;
    bool m_hadPulseServer = false;
    bool m_applied = false;
};

// Writes a 16-bit mono PCM wave holding a sine tone of hz at the given amplitude (0..1).
bool writeToneWave(const QString& path, double hz, int durationMs, int sampleRate = 8000, double amplitude = 0.4);
// The amplitude (0..1 of full scale) of the hz component of a 16-bit PCM wave (first channel),
// averaged over 100 ms blocks after skipMs; -1 when the file is not such a wave or too short.
double toneLevel(const QString& path, double hz, int skipMs = 0);
// The length in milliseconds of a 16-bit PCM wave; -1 when unreadable.
int waveDurationMs(const QString& path);

} // namespace corvid::test
