#pragma once

#include <QString>
#include <QStringList>

class QLineEdit;
class QWidget;

namespace orv {

// Key filter of identifier fields: upper-cases the key; a key of 32 or more that is not a digit
// becomes 0 (swallowed). Control keys pass.
void DigitsOnlyKey(int &keyAscii);

// Shows `message` (critical icon, empty title) and returns false when `value` is empty.
bool RequireText(const QString &value, const QString &message);

// Appends the message to the log of this run (logModel()), from any thread; the log window
// shows it as a line break followed by the message, and is shown. Lines appended on one thread
// reach the log in the order appended.
void AddLog(const QString &message);

// Window placement, kept in the settings store under the window's caption.
void RestoreWindow(QWidget *window);
void SaveWindow(QWidget *window);

// The current moment as "yyyy_MM_dd_hh_mm_ss_AM" (12-hour clock with the AM/PM designator).
QString TimeStamp();

// The open-file dialog: `filter` as "Name|*.ext|Name|*.ext"; returns the path or "" when cancelled.
QString OpenFileDialog(QWidget *owner, const QString &filter, const QString &title, const QString &initialFolder);
// The same dialog choosing several files; empty when cancelled.
QStringList OpenFilesDialog(QWidget *owner, const QString &filter, const QString &title, const QString &initialFolder);

// The one rule for a file or folder name built from a transaction or accession number (capture
// frames, stills and clips, the disc staging folder, the server folder of a save): such a number
// must be one plain name component. Returns "" when `text` is one, else the whole message to show:
// `The <what> "<text>" cannot name a file: <reason>.` Refused: an empty text, "." and "..",
// a separator ("/", "\\"), a drive or stream colon (":"), control characters (C0, DEL, C1),
// the characters Windows refuses in names (< > " | ? *), a trailing dot or blank, a Windows
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension), more than 64
// characters. Nothing is changed: the caller refuses before writing anything.
QString nameComponentRefusal(const QString &text, const QString &what);
// nameComponentRefusal() as an exception: throws orv::Error with its message.
void requireNameComponent(const QString &text, const QString &what);

// The computer's network name, cut at the first NUL.
QString ComputerName();

// Key filters for line edits, applied to typed keys (not to text set by the program).
enum class KeyFilter { DigitsOnly, UpperCase };
void installKeyFilter(QLineEdit *edit, KeyFilter filter);

} // namespace orv
