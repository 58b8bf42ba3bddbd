#pragma once
// List files under bin/ (agent list, monitor list, transfer list, chat users) are read as a
// sequence of fields, the way classic sequential field input reads them:
//
//  - A field ends at a comma or at a line end (CR LF, a lone CR or a lone LF).
//  - Blanks (spaces and tabs) before a field are skipped; an unquoted field runs to the next comma
//    or line end and loses its trailing blanks.
//  - A field that starts with a double quote runs to the next double quote, may hold commas, and is
//    taken without its quotes; anything between the closing quote and the next comma or line end is
//    dropped. A quote left open ends at the line end (it never swallows the following lines).
//  - An empty line, or nothing between two commas, is one empty field, as with the classic input;
//    a comma at a line end is followed by one empty field. Nothing is read once the end of the file
//    is reached, so a file ending in CR LF (or in a comma) has no empty field at its end.
//  - Reading stops at the end of the file or after maxFields fields; a missing or unreadable file
//    gives an empty list.
//
// Callers add every field as one list entry, empty ones included.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvid {

constexpr int AgentListMaxFields = 49;    // agentlist.txt
constexpr int MonitorListMaxFields = 49;  // AuthLogin + ".txt"
constexpr int TransferListMaxFields = 99; // transfer.txt
constexpr int ChatUsersMaxFields = 99;    // chatusers.txt

// The fields of the file content, at most maxFields; bytes in the locale encoding.
QStringList readListFields(const QByteArray& content, int maxFields);

// The fields of the file, at most maxFields; an empty list when the file is missing or unreadable.
QStringList readListFile(const QString& path, int maxFields);

} // namespace corvid
