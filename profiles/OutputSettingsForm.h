#pragma once
#include <QWidget>

class QComboBox;
class QPushButton;
class TValueListEditor;

// The profile dialog. Its three grids are the only in-memory copy of the current
// profile values; the command line is built from them whether the dialog is shown or not.
class TopSettingForm : public QWidget {
    Q_OBJECT
public:
    explicit TopSettingForm(QWidget* parent = nullptr);

    QComboBox* cmbProfile = nullptr;
    TValueListEditor* vleVideo = nullptr;
    TValueListEditor* vleAudio = nullptr;
    TValueListEditor* vleAdvanced = nullptr;

    QString OutputExtension = QStringLiteral(".mp4"); // "." + "Type" of the profile loaded last

    void LoadProfile(const QString& path);
    // The grid for a "Sort" value (1 video, 2 audio, 3 advanced), nullptr for any other.
    TValueListEditor* GridForSort(int sort) const;
};
