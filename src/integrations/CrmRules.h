#pragma once
// Rules of the caller-ID pop-up that need no window: the CRM page's address and the name of the
// hand-over file in the datalink folder.

#include <QString>

namespace corvid {

// Path of the CRM's caller-ID page.
inline constexpr char CrmPagePath[] = "/lm_sp.asp";
// Optional settings key: the CRM's web host ("host", "host:port", or either after "https://" or
// "http://" to choose the scheme; a bare host means plain HTTP); the build's CORVID_CRM_HOST
// when it is missing or blank.
inline constexpr char CrmHostKey[] = "CrmHost";

// The host in use: configuredValue without blanks around it, or the build's host when that is empty.
QString crmHost(const QString& configuredValue);

// "http://" + host (or host itself when it starts with "https://" or "http://") + "/lm_sp.asp?u=" + user + "&p=" +
// password + "&w=" + work group + "&phone=" + caller ID without blanks around it. Each value is percent-encoded where
// URL syntax would cut or change it ('&', '=', '#', '+', '%', blanks, non-ASCII...); letters, digits and "-._~" pass as
// they are, so an address of plain values is the same as written unencoded.
QString crmPageAddress(const QString& host, const QString& user, const QString& password, const QString& workGroup,
                       const QString& callerId);

// The hand-over file's name: callerId + ".txt", used as it is because the program that picks the
// file up reads the caller ID from the name. A caller ID that cannot be that name safely names no
// file (empty result), rather than being changed: one holding a folder separator, "..", a control
// character or one of : * ? " < > |, a device name of Windows (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// with or without an extension), or one that makes a name longer than 255 bytes.
QString callerIdFileName(const QString& callerId);

} // namespace corvid
