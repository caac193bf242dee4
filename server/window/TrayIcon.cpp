// The tray icon, hiding into it, and the autostart entry behind its menu.
#include <QAction>
#include <QEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>

#include "window/Autostart.h"
#include "window/MainWindow.h"

namespace krb::server {
namespace {

// A navy tile holding a small plate of wells.
QIcon TrayIconImage() {
    QPixmap image(32, 32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            painter.setBrush((row + column) % 3 == 0 ? QColor(255, 200, 60)
                                                     : QColor(180, 200, 255));
            painter.drawEllipse(QPointF(7.5 + column * 5.7, 10 + row * 6), 2.2, 2.2);
        }
    }
    return QIcon(image);
}

}  // namespace

void TfrmMain::CreateTray() {
    trayIcon_ = new QSystemTrayIcon(TrayIconImage(), this);
    trayIcon_->setObjectName("TrayIcon");
    trayIcon_->setToolTip("KRB TCP/IP Server");
    auto* menu = new QMenu(this);
    menu->setObjectName("TrayMenu");
    autoStartSVR_ = menu->addAction("AutoStart");
    autoStartSVR_->setObjectName("AutoStartSVR");
    autoStartSVR_->setCheckable(true);
    trayIcon_->setContextMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, &TfrmMain::TrayMenuPopup);
    connect(autoStartSVR_, &QAction::triggered, this, &TfrmMain::AutoStartSVRClick);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &TfrmMain::TrayIconClick);
}

// Minimise goes into the tray; without a tray it stays a normal minimise, so the window can
// always be found again.
void TfrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    if (!desktop_.SystemTrayAvailable()) return;
    QMetaObject::invokeMethod(this, &TfrmMain::HideIntoTray, Qt::QueuedConnection);
}

void TfrmMain::HideIntoTray() {
    trayIcon_->show();
    hide();  // still minimised; the tray click shows it normal again
}

void TfrmMain::TimerHideTimer() {
    timerHide_.stop();
    if (desktop_.SystemTrayAvailable()) {
        HideIntoTray();
    } else {
        showMinimized();
    }
}

void TfrmMain::TrayIconClick(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
    showNormal();
    raise();
    activateWindow();
    trayIcon_->hide();
}

void TfrmMain::TrayMenuPopup() { autoStartSVR_->setChecked(AutostartEntryExists()); }

// The entry on disk decides, as the check mark showed it when the menu opened.
void TfrmMain::AutoStartSVRClick() {
    if (AutostartEntryExists()) {
        RemoveAutostartEntry();
    } else {
        const QString chosen = desktop_.ChooseFile(
            this, "AutoStart", "DriverConfig.lni (DriverConfig.lni)", "DriverConfig.lni");
        if (!chosen.isEmpty() &&
            !WriteAutostartEntry(
                desktop_.ProgramPath.toLocal8Bit().toStdString(),
                QFileInfo(chosen).absoluteFilePath().toLocal8Bit().toStdString())) {
            ShowOperatorMessage("Error!", "The autostart entry could not be written:\n" +
                                              QString::fromStdString(AutostartEntryPath()));
        }
    }
    autoStartSVR_->setChecked(AutostartEntryExists());
}

}  // namespace krb::server
