#pragma once
// The main window: a thin view over ServerCore. The core's loop runs on a thread of its own;
// the window posts the operator's actions to it and the loop sends state changes and
// operator messages back as queued calls, so neither side ever waits for the other.
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/ServerCore.h"

class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;

namespace krb::server {

// What the window asks of the desktop; tests replace these.
struct TfrmMainDesktop {
    std::function<bool()> SystemTrayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    // A file dialog: caption, filter, proposed file; an empty result means cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter,
                          const QString& proposed)>
        ChooseFile;
    QString ProgramPath;  // written into the autostart entry; empty: this program
};

class TfrmMain : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kClientWidth = 312;
    static constexpr int kClientHeight = 113;
    static constexpr int kHideAfterMs = 100;

    explicit TfrmMain(ServerCore& core, TfrmMainDesktop desktop = {});
    ~TfrmMain() override;

    // The command line, handled once on the loop; a second argument hides the window.
    void FormShow(const std::vector<std::string>& arguments);

  signals:
    void StateShown();  // after the window took a new state of the server
    void Closed();      // the close command ran; the program ends

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    class Relay;

    QWidget* CreateConfigurationPage();
    QWidget* CreateTcpPage();
    void CreateTray();
    void CentreOnDesktop();

    void ShowState(const TServerState& state);
    void ShowOperatorMessage(const QString& caption, const QString& text);
    void BtnLoadConfClick();
    void BtnStartClick();
    void TimerHideTimer();
    void HideIntoTray();
    void TrayIconClick(QSystemTrayIcon::ActivationReason reason);
    void TrayMenuPopup();
    void AutoStartSVRClick();
    void About1Click();

    ServerCore& core_;
    TfrmMainDesktop desktop_;
    std::shared_ptr<Relay> relay_;
    QTabWidget* pageControl_ = nullptr;
    QLineEdit* editConfFile_ = nullptr;
    QPushButton* btnStart_ = nullptr;
    QLineEdit* editPort_ = nullptr;
    QAction* about1_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QAction* autoStartSVR_ = nullptr;
    QTimer timerHide_;
};

}  // namespace krb::server
