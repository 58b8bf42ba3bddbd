#pragma once
// Call recording. The engine keeps one recording buffer per line; this class decides when the
// buffer of the current line (the entry selected in ComboDial) is started, stopped, saved to a
// wave file in root/messages and cleared. Three ways in: the agent's recording switch
// (CheckStartRecording, or RecThisCallCheck which drives it), the recordAll setting (every call
// from connection to hang-up), and the monitoring call of the monitor panel (recCheck2, ctPush2).
// Also the backup button that starts the sibling tool copying recordings to a server.
//
// The status lines written here go straight into ListStatusLog, without the status mirror.
// The check boxes are wired to toggled(), so a value set from code runs the handler only when the
// value really changes.
//
// A saved recording never replaces an existing file: when the composed name is taken, "_2",
// "_3", ... goes before ".wav".

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>

class QTimer;

namespace corvid {

struct WindowContext;

class Recording : public QObject {
    Q_OBJECT
public:
    explicit Recording(WindowContext& ctx, QObject* parent = nullptr);

    // The messages folder + number + "_" + DDMMYY + "_" + hhmmss + ".wav", the clock read now.
    // The number is used as given (callers trim it); characters that cannot be part of a file
    // name become "_" so that the file always lands in the messages folder.
    QString recordingFileName(const QString& number) const;

    // Stops the current line's recording through the two boxes and, unless nothing may be saved
    // (no file name, no number, after a supervised transfer), saves the buffer under a name
    // composed now and clears it.
    void stopAndSaveRecording();
    // At call end and before hold: saves the call's recording once when recordAll is "True" or
    // RecThisCallCheck is ticked, then waits 500 ms (handling window events meanwhile).
    void finishCallRecording();
    // At the far end's hang-up of a line other than the current one: under the same rule, saves that
    // line's recording under number (the ended call's), then waits 500 ms. The recording switch and
    // the boxes belong to the current line's call and are left as they are; a line with nothing
    // recorded saves nothing and says nothing.
    void finishOtherLineRecording(int line, const QString& number);
    // On connection and after resume: ticks CheckStartRecording when recordAll is "True" (a call
    // whose recording is paused stays paused).
    void startRecordingIfRecordAll();

    // The pause for card payments, asked for by another program (every automation channel) on the
    // current line's recorded call: nothing is recorded while it lasts, the saved recording is
    // what was recorded before and after it, joined. Answers the outcome for the journal; with
    // acted false the request was refused (no recorded call) or had nothing to do. The agent's
    // ticking of the recording switch also resumes; the call's end ends the pause; with
    // MaxRecordingPause set, the recording resumes by itself after that many seconds.
    QString pauseRecording(bool pause, bool* acted = nullptr);
    bool isPaused(int line) const { return m_paused.contains(line); }
    // The line's call is over: its pause ends with it (the next call records as usual).
    void endPause(int line);

Q_SIGNALS:
    // The recording of line was paused (true) or goes on again (false).
    void pauseChanged(int line, bool paused);

public:
    // The full path of the monitoring call's recording, composed when recCheck2 is ticked and
    // emptied once it is saved.
    QString monitorRecordingFile() const { return MonitorRecordingFile; }

    // Handlers.
    void onCheckStartRecordingToggled(bool checked);
    void onRecThisCallCheckToggled(bool checked);
    void onComboRecordActivated(int index);
    void onBtnResetRecordingBufferClicked();
    void onRecCheck2Toggled(bool checked);
    void onCtPush2Clicked();
    void onBackupwavClicked();

private:
    int currentLine() const;
    bool numberFieldHoldsNumber() const; // neither empty nor exactly one blank
    void replaceStatusLog(const QString& line);
    void appendStatusLog(const QString& line);
    // The status line of a recording that could not be saved at path: the agent sees that it is
    // missing and where it should have been. No box: a call end never waits for a person.
    void reportUnsaved(const QString& path);
    bool readRecordAll();
    void setPaused(int line, bool paused);
    void onMaxPauseTimeout();

    WindowContext& ctx;
    QString MonitorRecordingFile;
    QMap<int, QDateTime> m_paused; // lines whose recording is paused, since when
    QTimer* m_maxPause = nullptr;
    int m_maxPauseLine = -1;
};

} // namespace corvid
