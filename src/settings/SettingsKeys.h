#pragma once
// Names of the keys of the main settings file (InstallRoot::settingsFile()), all in section "System".
// Keys are written in the case in which the program writes or reads them; reader and writer match
// names without regard to case, but the writer carries the caller's spelling into the file.
// Flags are the strings "True" and "False" ("1" and "0" for autocall); an absent key reads "".

namespace corvid::keys {

constexpr const char System[] = "System"; // the one section of the main file

// Account (written by the account save; read with GetProfileKey unless noted).
constexpr const char customerNumber[] = "customerNumber"; // 20-character account code; also read by ReadIniKey
constexpr const char DisplayName[] = "DisplayName";       // never written; also names the CSV call log
constexpr const char Login[] = "Login";                   // characters 7 to 10 of the code
constexpr const char AuthLogin[] = "AuthLogin";           // same as Login; names the monitor list file
constexpr const char Password[] = "Password";             // characters 11 to 20 of the code
constexpr const char SIPProxy[] = "SIPProxy";             // PBX number + "." + provider domain
constexpr const char OutBoundProxy[] = "OutBoundProxy";   // same form as SIPProxy
constexpr const char userweb[] = "userweb";               // PBX web directory user
constexpr const char passweb[] = "passweb";               // PBX web directory password

// Behaviour (read with ReadIniKey unless noted).
constexpr const char Mon[] = "Mon";                       // "True": go online by itself at start
constexpr const char swipeSize[] = "swipeSize";           // digits; GetProfileKey
constexpr const char UseSipTapi[] = "UseSipTapi";         // "True": poll the datalink folder; GetProfileKey
constexpr const char clickshow123[] = "clickshow123";     // "True": show the recorded-message frame
constexpr const char InBand[] = "InBand";                 // "True"/"False": in-band DTMF
constexpr const char Forward[] = "Forward";               // call forwarding target
constexpr const char AutoCid[] = "AutoCid";               // "True"/"False": CRM pop-up on caller ID
constexpr const char LMUser[] = "LMUser";                 // CRM login
constexpr const char LMPass[] = "LMPass";                 // CRM password
constexpr const char LMWGroup[] = "LMWGroup";             // CRM work group
constexpr const char TransferNumber[] = "TransferNumber"; // default transfer target
constexpr const char PreDialNumber[] = "PreDialNumber";   // prefix used by transfer
constexpr const char LastNumber[] = "LastNumber";         // last dialled number
constexpr const char recordAll[] = "recordAll";           // "True"/"False": record every call
constexpr const char DID[] = "DID";                       // "True": greeting recording and listening
constexpr const char autocall[] = "autocall";             // "1"/"0": click-to-dial places calls by itself

// Optional keys of this port (absent in older files; an absent key means the built-in default).
constexpr const char ProviderDomain[] = "ProviderDomain";     // overrides the build's provider domain
constexpr const char SipOutboundProxy[] = "SipOutboundProxy"; // host:port all SIP traffic goes through
constexpr const char PbxPageProbeUrl[] = "PbxPageProbeUrl";   // URL of the PBX page, when not the default
constexpr const char HttpControl[] = "HttpControl";               // "True": the loopback HTTP control listens
constexpr const char HttpControlPort[] = "HttpControlPort";       // its port, 5783 when empty or wrong
constexpr const char HttpControlOrigins[] = "HttpControlOrigins"; // browser origins allowed, blank-separated
constexpr const char MaxRecordingPause[] = "MaxRecordingPause"; // seconds a pause lasts at most; empty/0: no limit
// How the phone reaches the proxy and protects its calls (read when going online; see SecuritySettings.h).
constexpr const char SipTransport[] = "SipTransport";                         // UDP (default), TCP or TLS
constexpr const char TlsCaFile[] = "TlsCaFile";                               // CA bundle; empty: the system's
constexpr const char TlsVerify[] = "TlsVerify";                               // True (default) or False
constexpr const char MediaEncryption[] = "MediaEncryption";                   // None (default) or SRTP
constexpr const char MediaEncryptionMandatory[] = "MediaEncryptionMandatory"; // True or False (default)
constexpr const char StunServer[] = "StunServer";                             // host:port; empty: none
constexpr const char IceEnabled[] = "IceEnabled";                             // True or False (default)
constexpr const char SipKeepAliveSeconds[] = "SipKeepAliveSeconds";           // 30 (default); 0: none
constexpr const char RegistrarCheckSeconds[] = "RegistrarCheckSeconds";       // 60 (default); 0: none
constexpr const char RegistrarRefreshSeconds[] = "RegistrarRefreshSeconds";   // 300 (default); 0: near expiry
// Calls that come in (read at each call; see calls/IncomingCalls.h).
constexpr const char TakeIncomingCalls[] = "TakeIncomingCalls"; // "True": they ring; otherwise 486 at once
constexpr const char AutoAnswer[] = "AutoAnswer";               // PbxRequested, Always; otherwise off
constexpr const char RejectCode[] = "RejectCode";               // "603": Reject declines 603; otherwise 486
constexpr const char SipAllowFrom[] = "SipAllowFrom"; // addresses or networks besides the PBX that may send SIP

// Other settings files under bin/ and their keys.
constexpr const char WebSettingsFile[] = "websettings.ini"; // section System, key CLICK / Click
constexpr const char ButtonPrgFile[] = "buttonprg.ini";     // section System, keys Top and Left
constexpr const char Top[] = "Top";
constexpr const char Left[] = "Left";

} // namespace corvid::keys
