#include "window/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <mutex>

#include "platform/clock.h"
#include "platform/operator_message.h"
#include "window/Splash.h"

namespace krb::server {

// Carries calls from the loop thread (and library threads) to the window as queued calls;
// detached when the window goes, so a late call is dropped instead of reaching a dead window.
class TfrmMain::Relay {
  public:
    explicit Relay(TfrmMain* window) : window_(window) {}
    void Send(std::function<void(TfrmMain&)> call) {
        std::lock_guard lock(mutex_);
        if (!window_) return;
        TfrmMain* window = window_;
        QMetaObject::invokeMethod(
            window, [window, call = std::move(call)] { call(*window); }, Qt::QueuedConnection);
    }
    void Detach() {
        std::lock_guard lock(mutex_);
        window_ = nullptr;
    }

  private:
    std::mutex mutex_;
    TfrmMain* window_;
};

namespace {

QString FromLocal(const std::string& text) { return QString::fromLocal8Bit(text); }

// Message texts break their lines with CR.
QString WithNewlines(const std::string& text) {
    QString shown = FromLocal(text);
    shown.replace("\r\n", "\n");
    shown.replace('\r', '\n');
    return shown;
}

QString ChooseWithDialog(QWidget* parent, const QString& caption, const QString& filter,
                         const QString& proposed) {
    return QFileDialog::getOpenFileName(parent, caption, proposed, filter);
}

// A page's button and the read-only field beside it, named as the tests find them.
QPushButton* NamedButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

QLineEdit* ReadOnlyField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    return field;
}

}  // namespace

TfrmMain::TfrmMain(ServerCore& core, TfrmMainDesktop desktop)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint),
      core_(core),
      desktop_(std::move(desktop)),
      relay_(std::make_shared<Relay>(this)) {
    if (!desktop_.ChooseFile) desktop_.ChooseFile = &ChooseWithDialog;
    if (desktop_.ProgramPath.isEmpty())
        desktop_.ProgramPath = QCoreApplication::applicationFilePath();
    setObjectName("frmMain");
    setWindowTitle("Krabox TCP/IP Server");
    setFixedSize(kClientWidth, kClientHeight);

    pageControl_ = new QTabWidget(this);
    pageControl_->setObjectName("PageControl");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pageControl_);
    QWidget* configurationPage = CreateConfigurationPage();
    pageControl_->addTab(configurationPage, "System Configuration");
    pageControl_->addTab(CreateTcpPage(), "TCP/IP");
    pageControl_->setCurrentIndex(0);

    about1_ = new QAction("About", this);
    about1_->setObjectName("About1");
    connect(about1_, &QAction::triggered, this, &TfrmMain::About1Click);
    for (QWidget* carrier : {static_cast<QWidget*>(pageControl_), configurationPage}) {
        carrier->setContextMenuPolicy(Qt::ActionsContextMenu);
        carrier->addAction(about1_);
    }

    CreateTray();
    timerHide_.setSingleShot(true);
    timerHide_.setInterval(static_cast<int>(platform::scaledWholeMs(kHideAfterMs)));
    connect(&timerHide_, &QTimer::timeout, this, &TfrmMain::TimerHideTimer);
    CentreOnDesktop();

    ShowState(core_.State());
    std::weak_ptr<Relay> relay = relay_;
    core_.AddStateObserver([relay](const TServerState& state) {
        if (auto alive = relay.lock())
            alive->Send([state](TfrmMain& window) { window.ShowState(state); });
    });
    platform::setOperatorMessageDisplay(
        [relay](const std::string& caption, const std::string& text) {
            if (auto alive = relay.lock()) {
                alive->Send([caption, text](TfrmMain& window) {
                    window.ShowOperatorMessage(FromLocal(caption), WithNewlines(text));
                });
            }
        });
}

TfrmMain::~TfrmMain() {
    platform::setOperatorMessageDisplay({});
    relay_->Detach();
}

QWidget* TfrmMain::CreateConfigurationPage() {
    auto* page = new QWidget;
    auto* btnLoadConf = NamedButton("Open", "BtnLoadConf", page);
    editConfFile_ = ReadOnlyField("EditConfFile", page);
    auto* row = new QHBoxLayout(page);
    row->addWidget(btnLoadConf);
    row->addWidget(editConfFile_, 1);
    connect(btnLoadConf, &QPushButton::clicked, this, &TfrmMain::BtnLoadConfClick);
    return page;
}

QWidget* TfrmMain::CreateTcpPage() {
    auto* page = new QWidget;
    auto* group = new QGroupBox(" Krabox TCP/IP Communication ", page);
    btnStart_ = NamedButton("Start", "BtnStart", group);
    editPort_ = ReadOnlyField("EditPort", group);
    auto* row = new QHBoxLayout(group);
    row->addWidget(btnStart_);
    row->addStretch(1);
    row->addWidget(new QLabel("Port", group));
    row->addWidget(editPort_);
    auto* fill = new QVBoxLayout(page);
    fill->setContentsMargins(4, 2, 4, 4);
    fill->addWidget(group);
    connect(btnStart_, &QPushButton::clicked, this, &TfrmMain::BtnStartClick);
    return page;
}

void TfrmMain::CentreOnDesktop() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect desktop = screen->availableGeometry();
    move(desktop.center() - QPoint(width() / 2, height() / 2));
}

void TfrmMain::FormShow(const std::vector<std::string>& arguments) {
    std::weak_ptr<Relay> relay = relay_;
    ServerCore& core = core_;
    core_.Post([&core, arguments, relay] {
        if (!core.FormShow(arguments)) return;
        if (auto alive = relay.lock())
            alive->Send([](TfrmMain& window) { window.timerHide_.start(); });
    });
}

void TfrmMain::ShowState(const TServerState& state) {
    editConfFile_->setText(FromLocal(state.ConfFile));
    editPort_->setText(FromLocal(state.Port));
    btnStart_->setText(FromLocal(state.StartCaption()));
    emit StateShown();
}

// Not blocking: a message raised while another is open gets a box of its own.
void TfrmMain::ShowOperatorMessage(const QString& caption, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void TfrmMain::BtnLoadConfClick() {
    const QString folder = QFileInfo(editConfFile_->text()).absolutePath();
    const QString chosen =
        desktop_.ChooseFile(this, "Open", "DriverConfig.lni (*.lni)", folder + "/DriverConfig.lni");
    if (chosen.isEmpty()) return;
    ServerCore& core = core_;
    core_.Post([&core, path = chosen.toLocal8Bit().toStdString()] { core.BtnLoadConfClick(path); });
}

void TfrmMain::BtnStartClick() {
    ServerCore& core = core_;
    core_.Post([&core] { core.BtnStartClick(); });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    trayIcon_->hide();
    timerHide_.stop();
    core_.Quit();  // the shutdown runs on the loop, which then ends
    event->accept();
    emit Closed();
}

void TfrmMain::About1Click() { ShowAbout(this); }

}  // namespace krb::server
