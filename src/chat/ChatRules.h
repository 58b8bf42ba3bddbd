#pragma once
// The rules of the chat panel that need no window: presence texts, the user name of a users-file
// entry and of a contact entry, how a received text is shown, and how a message becomes one line
// of the day's chat log.

#include <QString>
#include <QStringList>

namespace corvid {

// The text shown for a presence status id: 0 "Online", 1 "Offline", 2 "Away", 3 "On the phone",
// 4 "Busy"; empty for any other id.
QString presenceText(int status);

// The entries offered for the agent's own status; an entry's 0-based position is its status id.
QStringList ownStatusEntries();

// The user name of a users-file entry ("ann Sales Desk" gives "ann"): the text before the first
// blank; empty when the entry holds no blank.
QString chatUserOfEntry(const QString& entry);

// Whether a contact-list entry is the contact user: the entry's name (its text before the first
// blank, so "ann [Online]" is ann's) equals user without regard to case. An empty user is no one's.
bool contactEntryIsFor(const QString& entry, const QString& user);

// A contact-list entry after a presence event: user + " [" + status text + "]".
QString contactEntryWithStatus(const QString& user, int status);

// Whether a received text is markup: its content type is text/html, or the text starts with "<"
// and parses as markup (every "<" opens a tag, a letter, "/", "!" or "?" after it, closed by a ">"
// before the next "<").
bool isChatMarkup(const QString& text, const QString& contentType);

// How a received text is shown after "user: ". Markup (isChatMarkup) is unwrapped: shown are the
// characters between the first ">" and the first "<" after it (everything after the ">" when no
// "<" follows). Any other text, "<" and ">" included, is shown exactly as it came. The chat log
// takes every text as it came.
QString shownChatText(const QString& text, const QString& contentType);

// A message or a sender's name as it goes into the chat log, where each message is one line: its
// line breaks become blanks, so a text holding CR or LF can neither split its own line nor forge
// another.
QString chatLogText(const QString& text);

} // namespace corvid
