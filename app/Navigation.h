#pragma once
// Moving about the source from the keyboard and showing where the picture is: the position
// label (the time of the picture shown, to the millisecond, and its frame number on
// request), moves that add up however quickly they come, Go To a typed time, the marks and
// the key frames; and the time fields that say at once when their text is no time.
#include "preview/FilterGraph.h"

#include <QDialog>
#include <QList>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <memory>

class QLabel;
class QLineEdit;
class QThread;
class TMainForm;

// Marks a time field whose text cannot be read (red frame, a tool tip naming the forms it
// takes) and unmarks it once it can. Returns whether the text reads as a time.
bool CheckTimeField(QLineEdit* field);

// The small dialog Ctrl+G opens: one time field and OK / Cancel.
class TGoToTimeDialog : public QDialog {
    Q_OBJECT
public:
    TGoToTimeDialog(QWidget* parent, const QString& current);
    QLineEdit* edtTime = nullptr;
    // The time typed; -1 while the text is no time.
    double Seconds() const;

    void accept() override; // an unreadable text keeps the dialog open, marked
};

class TNavigator : public QObject, public TGraphComponent {
    Q_OBJECT
public:
    explicit TNavigator(TMainForm* form);
    ~TNavigator() override;

    // Below the position, the frame number of the picture shown; hidden unless asked for.
    QLabel* labFrame = nullptr;

    // ---- the position shown
    // The label (and the thumb, unless the user holds it) at the picture shown; where there
    // is none (sound alone), at the player's position.
    void ShowPicturePosition();
    bool ShowsFrameNumber() const { return m_showFrame; }
    // Remembered in the preferences.
    void SetShowsFrameNumber(bool on);

    // Under the position, on the scale's row; again whenever the window's controls move.
    void PlaceFrameLabel();

    // ---- moves; each starts where the previous one will land
    void SeekTo(double seconds); // clamped to the source
    void SeekBy(double seconds);
    void GoToStartMark();        // [
    void GoToEndMark();          // ]
    void GoToKeyFrame(int direction); // Ctrl+Left / Ctrl+Right
    void OpenGoToDialog();       // Ctrl+G
    QPointer<TGoToTimeDialog> GoToDialog; // while it is open

    // The key frames of the source shown, once read (empty until then).
    QList<double> KeyFrames() const { return m_keys; }
    bool KeyFramesKnown() const { return m_keysFor == Source() && !m_keysFor.isEmpty(); }

    void ControlEvent(TControlEvent event, int param) override;

Q_SIGNALS:
    // The key frames of the source shown have been read (or could not be: the list is
    // then empty).
    void KeyFramesRead();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QString Source() const;
    void ShowTime(double seconds);
    void ReadKeyFrames();
    void TakeKeyFrames(const QString& source, const QList<double>& times);

    TMainForm* m_form;
    bool m_showFrame = false;
    QList<double> m_keys;
    QString m_keysFor;      // the source the list belongs to
    QString m_readingFor;   // the source being read
    int m_keyMoves = 0;     // key-frame moves asked for before the list was there
    QThread* m_reader = nullptr;
    class QTimer* m_soundClock = nullptr; // sound alone shows no pictures: read while it plays
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
