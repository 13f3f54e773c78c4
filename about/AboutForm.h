#pragma once
#include <QPixmap>
#include <QWidget>

class QLabel;
class QPushButton;
class TImage;

// The product, its version and notice, and the maker's web links. Created once and
// shown without a modal loop; the main window is disabled while it is up.
class TAboutForm : public QWidget {
    Q_OBJECT
public:
    // versionText: what follows "Version " in the dialog.
    explicit TAboutForm(const QString& versionText = QString(), QWidget* parent = nullptr);

    QString VersionText;

    QLabel* labProgramName = nullptr;
    QLabel* labVersion = nullptr;
    QLabel* labCopyright = nullptr;
    QLabel* labRightsReserved = nullptr;
    QLabel* labVisitWebsite = nullptr;
    TImage* labWebsite = nullptr;
    QLabel* Label7 = nullptr;
    TImage* labMore = nullptr;
    TImage* Label8 = nullptr;
    TImage* Label9 = nullptr;
    TImage* Label10 = nullptr;
    QPushButton* btnOK = nullptr;

    void FormCreate();
    void FormShow();
    void FormClose();
    void btnOKClick();
    void labWebsiteClick();
    void labMoreClick();
    void Label8Click();
    void Label9Click();
    void Label10Click();

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    QPixmap m_background;
    bool m_mainDisabled = false; // this dialog disabled the main window and owes it back
};
