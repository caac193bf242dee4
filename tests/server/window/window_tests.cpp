// The window shell on a real X server (Xvfb): the window over a running ServerCore with a
// stand-in library, the tray, the autostart entry and the splash.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/LabServer.h"
#include "fake_library.h"
#include "platform/clock.h"
#include "platform/operator_message.h"
#include "window/Autostart.h"
#include "window/MainWindow.h"
#include "window/Splash.h"

namespace krb::server {
namespace {

using testing::Fake;
using testing::FakeExports;

constexpr int kGuardMs = 10000;

bool CanConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string ReadFile(const QString& path) {
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const QString& path, const std::string& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}

void SaveScreenshot(QWidget& widget, const QString& name) {
    QDir().mkpath(KRB_SCREENSHOT_DIR);
    const QString path = QString(KRB_SCREENSHOT_DIR) + "/" + name + ".png";
    QVERIFY2(widget.grab().save(path), qPrintable(path));
}

QList<QMessageBox*> OpenMessageBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible()) boxes.append(box);
    }
    return boxes;
}

void CloseMessageBoxes() {
    for (QMessageBox* box : OpenMessageBoxes()) box->close();
    QCoreApplication::processEvents();
}

// A lab of one unit on the stand-in library, listening on a port the system picks.
QString WriteLab(const QString& folder) {
    const QString config = folder + "/DriverConfig.lni";
    WriteFile(config, "[paths]\r\nKrbMainFolder=lab\r\n[TCP]\r\nport=0\r\n");
    WriteFile(folder + "/lab/System1/System.lni",
              "[System]\r\nSystemName=S1\r\nSystemId=S1\r\n[Unit]\r\nUnit1=Unit1.lni\r\n");
    WriteFile(folder + "/lab/System1/Unit1.lni", "[Unit]\r\nUnitComPort=1\r\nUnitId=U1\r\n");
    return config;
}

// ServerCore with its loop on a thread and the window over it, as the program runs them.
class Shell {
  public:
    explicit Shell(TfrmMainDesktop desktop = {})
        : window_(core_, WithDefaults(std::move(desktop))) {
        loop_ = std::thread([this] { core_.Run(); });
        window_.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window_));
    }
    ~Shell() {
        core_.Quit();  // no-op when the window's close already ended the loop
        if (loop_.joinable()) loop_.join();
        CloseMessageBoxes();
    }

    TfrmMain& Window() { return window_; }
    ServerCore& Core() { return core_; }
    template <class T>
    T* Find(const char* name = "") {
        return window_.findChild<T*>(name);
    }
    std::vector<QString>& Chosen() { return chooserCalls_; }
    void ChooseNext(QString path) { nextChoice_ = std::move(path); }

  private:
    TfrmMainDesktop WithDefaults(TfrmMainDesktop desktop) {
        if (!desktop.SystemTrayAvailable) desktop.SystemTrayAvailable = [] { return true; };
        desktop.ChooseFile = [this](QWidget*, const QString& caption, const QString& filter,
                                    const QString& proposed) {
            chooserCalls_.push_back(caption + "|" + filter + "|" + QFileInfo(proposed).fileName());
            return nextChoice_;
        };
        return desktop;
    }

    LabServer core_{FakeExports()};
    std::vector<QString> chooserCalls_;
    QString nextChoice_;
    TfrmMain window_;
    std::thread loop_;
};

}  // namespace

class WindowTests : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        Fake().Reset();
        Fake().Reply("KRBConnect", {"1"});
        Fake().Reply("KRBBCRPath", {"1"});
        QVERIFY(folder_.isValid());
        configPath_ = WriteLab(folder_.path());
        qputenv("XDG_CONFIG_HOME", (folder_.path() + "/config home").toLocal8Bit());
    }
    void cleanup() { CloseMessageBoxes(); }

    void mainWindowShowsTheServerAndItsPages();
    void startAndStopThroughTheButtonSwitchTheListener();
    void closeStopsTheListenerAndEndsTheLoop();
    void openLoadsTheChosenConfiguration();
    void missingConfigurationOnTheCommandLineShowsAnErrorBox();
    void messageFromAnotherThreadIsShownWithoutBlockingIt();
    void minimiseHidesIntoTheTrayOnlyWhenThereIsOne();
    void secondArgumentHidesTheWindowAfterStart();
    void autostartEntryIsWrittenAndRemovedFromTheTrayMenu();
    void execArgumentsAreQuotedForDesktopEntries();
    void autostartEntryFollowsXdgConfigHome();
    void splashClosesByItselfAndTheAboutBoxWaitsForAClick();

  private:
    QTemporaryDir folder_;
    QString configPath_;
};

void WindowTests::mainWindowShowsTheServerAndItsPages() {
    Shell shell;
    TfrmMain& window = shell.Window();
    QCOMPARE(window.windowTitle(), QString("Krabox TCP/IP Server"));
    QCOMPARE(window.size(), QSize(312, 113));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(window.windowFlags() & Qt::WindowSystemMenuHint);
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    auto* pages = shell.Find<QTabWidget>("PageControl");
    QVERIFY(pages);
    QCOMPARE(pages->tabText(0), QString("System Configuration"));
    QCOMPARE(pages->tabText(1), QString("TCP/IP"));
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(shell.Find<QPushButton>("BtnLoadConf")->text(), QString("Open"));
    QCOMPARE(shell.Find<QGroupBox>()->title(), QString(" Krabox TCP/IP Communication "));
    QCOMPARE(shell.Find<QPushButton>("BtnStart")->text(), QString("Start"));
    QVERIFY(shell.Find<QLineEdit>("EditPort")->isReadOnly());
    QCOMPARE(shell.Find<QLabel>()->text(), QString("Port"));
    auto* about = shell.Find<QAction>("About1");
    QCOMPARE(about->text(), QString("About"));
    QVERIFY(pages->actions().contains(about));
    QVERIFY(pages->widget(0)->actions().contains(about));
    QCOMPARE(pages->contextMenuPolicy(), Qt::ActionsContextMenu);

    window.FormShow({configPath_.toStdString()});
    QTRY_COMPARE_WITH_TIMEOUT(shell.Find<QLineEdit>("EditConfFile")->text(), configPath_, kGuardMs);
    SaveScreenshot(window, "page-system-configuration");
    pages->setCurrentIndex(1);
    SaveScreenshot(window, "page-tcp-ip");
}

void WindowTests::startAndStopThroughTheButtonSwitchTheListener() {
    Shell shell;
    shell.Window().FormShow({configPath_.toStdString()});
    auto* start = shell.Find<QPushButton>("BtnStart");
    QTRY_COMPARE_WITH_TIMEOUT(shell.Find<QLineEdit>("EditPort")->text(), QString("0"), kGuardMs);
    shell.Find<QTabWidget>("PageControl")->setCurrentIndex(1);

    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), QString("Stop"), kGuardMs);
    const int port = shell.Core().State().LocalPort;
    QVERIFY(port > 0);
    QVERIFY(CanConnect(port));

    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), QString("Start"), kGuardMs);
    QVERIFY(!shell.Core().State().Listening);
    QVERIFY(!CanConnect(port));
}

void WindowTests::closeStopsTheListenerAndEndsTheLoop() {
    Shell shell;
    QSignalSpy closed(&shell.Window(), &TfrmMain::Closed);
    shell.Window().FormShow({configPath_.toStdString(), "start"});
    QTRY_VERIFY_WITH_TIMEOUT(shell.Core().State().Listening, kGuardMs);
    const int port = shell.Core().State().LocalPort;
    QVERIFY(CanConnect(port));
    shell.Window().close();
    QCOMPARE(closed.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!CanConnect(port), kGuardMs);
    QVERIFY(!shell.Find<QSystemTrayIcon>("TrayIcon")->isVisible());
}

void WindowTests::openLoadsTheChosenConfiguration() {
    const QString missing = folder_.path() + "/Missing.lni";
    struct Case {
        QString chosen;
        QString expectedConfFile;
        QString expectedBox;  // empty: none
    };
    const QList<Case> cases{
        {"", "", ""},
        {configPath_, configPath_, ""},
        {missing, configPath_,
         "Error!|Server's configuration file has not been found!\n\n" + missing},
    };
    Shell shell;
    auto* confFile = shell.Find<QLineEdit>("EditConfFile");
    for (const Case& c : cases) {
        shell.ChooseNext(c.chosen);
        QTest::mouseClick(shell.Find<QPushButton>("BtnLoadConf"), Qt::LeftButton);
        QCOMPARE(shell.Chosen().back(), QString("Open|DriverConfig.lni (*.lni)|DriverConfig.lni"));
        if (!c.expectedBox.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(OpenMessageBoxes().size(), 1, kGuardMs);
            QMessageBox* box = OpenMessageBoxes().front();
            QCOMPARE(box->windowTitle() + "|" + box->text(), c.expectedBox);
            QCOMPARE(box->icon(), QMessageBox::Critical);
            CloseMessageBoxes();
        }
        QTRY_COMPARE_WITH_TIMEOUT(confFile->text(), c.expectedConfFile, kGuardMs);
    }
    QCOMPARE(shell.Find<QLineEdit>("EditPort")->text(), QString("0"));
    QCOMPARE(shell.Core().TcpBrowser().Units().size(), std::size_t{1});
}

void WindowTests::missingConfigurationOnTheCommandLineShowsAnErrorBox() {
    Shell shell;
    const QString missing = folder_.path() + "/no such/DriverConfig.lni";
    shell.Window().FormShow({missing.toStdString()});
    QTRY_COMPARE_WITH_TIMEOUT(OpenMessageBoxes().size(), 1, kGuardMs);
    QMessageBox* box = OpenMessageBoxes().front();
    QCOMPARE(box->windowTitle(), QString("Error!"));
    QCOMPARE(box->text(), "Configuration File:\n\n" + missing + "\n\nDoes not exist!");
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QVERIFY(box->isModal());
    QCOMPARE(shell.Find<QLineEdit>("EditConfFile")->text(), QString());
}

void WindowTests::messageFromAnotherThreadIsShownWithoutBlockingIt() {
    Shell shell;
    // The raising thread ends before the window has had a chance to run: nothing waits for it.
    std::thread scan(
        [] { platform::showOperatorMessage("Error", "Inventory Error\r\rUnit ID:1"); });
    scan.join();
    QVERIFY(OpenMessageBoxes().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(OpenMessageBoxes().size(), 1, kGuardMs);
    QCOMPARE(OpenMessageBoxes().front()->text(), QString("Inventory Error\n\nUnit ID:1"));
}

void WindowTests::minimiseHidesIntoTheTrayOnlyWhenThereIsOne() {
    for (const bool trayAvailable : {true, false}) {
        TfrmMainDesktop desktop;
        desktop.SystemTrayAvailable = [trayAvailable] { return trayAvailable; };
        Shell shell(desktop);
        TfrmMain& window = shell.Window();
        auto* tray = shell.Find<QSystemTrayIcon>("TrayIcon");
        QVERIFY(!tray->isVisible());
        window.showMinimized();
        if (trayAvailable) {
            QTRY_VERIFY_WITH_TIMEOUT(window.isHidden(), kGuardMs);
            QVERIFY(tray->isVisible());
            emit tray->activated(QSystemTrayIcon::Trigger);
            QVERIFY(window.isVisible());
            QVERIFY(!window.isMinimized());
            QVERIFY(!tray->isVisible());
        } else {
            QTest::qWait(50);
            QVERIFY(window.isVisible());
            QVERIFY(window.isMinimized());
            QVERIFY(!tray->isVisible());
        }
    }
}

void WindowTests::secondArgumentHidesTheWindowAfterStart() {
    for (const bool trayAvailable : {true, false}) {
        TfrmMainDesktop desktop;
        desktop.SystemTrayAvailable = [trayAvailable] { return trayAvailable; };
        Shell shell(desktop);
        TfrmMain& window = shell.Window();
        window.FormShow({configPath_.toStdString(), "later"});
        auto* tray = shell.Find<QSystemTrayIcon>("TrayIcon");
        if (trayAvailable) {
            QTRY_VERIFY_WITH_TIMEOUT(window.isHidden(), kGuardMs);
            QVERIFY(tray->isVisible());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), kGuardMs);
            QVERIFY(window.isVisible());
            QVERIFY(!tray->isVisible());
        }
        QVERIFY(!shell.Core().State().Listening);
    }
}

void WindowTests::autostartEntryIsWrittenAndRemovedFromTheTrayMenu() {
    TfrmMainDesktop desktop;
    desktop.ProgramPath = "/opt/KRB Server/bin/KRBServer";
    Shell shell(desktop);
    const QString entry = folder_.path() + "/config home/autostart/KRBServer.desktop";
    const QString chosen = folder_.path() + "/my lab/DriverConfig.lni";
    WriteFile(chosen, "");
    auto* menu = shell.Find<QMenu>("TrayMenu");
    auto* item = shell.Find<QAction>("AutoStartSVR");
    QCOMPARE(item->text(), QString("AutoStart"));

    menu->popup(QPoint(200, 200));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QVERIFY(!item->isChecked());
    shell.ChooseNext("");  // cancelled: nothing is written
    item->trigger();
    QVERIFY(!QFileInfo::exists(entry));

    shell.ChooseNext(chosen);
    item->trigger();
    QCOMPARE(shell.Chosen().back(),
             QString("AutoStart|DriverConfig.lni (DriverConfig.lni)|DriverConfig.lni"));
    QCOMPARE(ReadFile(entry),
             "[Desktop Entry]\nType=Application\nName=KRBServer\n"
             "Exec=\"/opt/KRB Server/bin/KRBServer\" \"" +
                 chosen.toStdString() + "\" start\n");
    menu->hide();
    menu->popup(QPoint(200, 200));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QVERIFY(item->isChecked());
    SaveScreenshot(*menu, "tray-menu");

    item->trigger();
    QVERIFY(!QFileInfo::exists(entry));
    menu->hide();
    menu->popup(QPoint(200, 200));
    QVERIFY(!item->isChecked());
    menu->hide();
}

void WindowTests::execArgumentsAreQuotedForDesktopEntries() {
    struct Case {
        std::string argument;
        bool alwaysQuote;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"/usr/bin/KRBServer", false, "/usr/bin/KRBServer"},
        {"/usr/bin/KRBServer", true, "\"/usr/bin/KRBServer\""},
        {"/opt/a b/KRBServer", false, "\"/opt/a b/KRBServer\""},
        {"/lab/it's", false, "\"/lab/it's\""},
        {"/lab/\"q\"", true, "\"/lab/\\\\\"q\\\\\"\""},
        {"/lab/$HOME`x`", true, "\"/lab/\\\\$HOME\\\\`x\\\\`\""},
        {"C:\\lab", true, "\"C:\\\\\\\\lab\""},
        {"/lab/100%", false, "/lab/100%%"},
        {"", false, "\"\""},
        {"/lab/a\nb", true, std::nullopt},
        {"/lab/a\rb", false, std::nullopt},
    };
    for (const Case& c : cases) {
        QCOMPARE(DesktopExecArgument(c.argument, c.alwaysQuote), c.expected);
    }
    QVERIFY(!AutostartEntryText("/usr/bin/KRBServer", "/lab/a\nb").has_value());
    QVERIFY(!WriteAutostartEntry("/usr/bin/KRBServer", "/lab/a\nb"));
    QVERIFY(!AutostartEntryExists());
}

void WindowTests::autostartEntryFollowsXdgConfigHome() {
    const QByteArray home = qgetenv("HOME");
    struct Case {
        QByteArray configHome;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"/somewhere/config", "/somewhere/config/autostart/KRBServer.desktop"},
        {"", home.toStdString() + "/.config/autostart/KRBServer.desktop"},
        {"relative/config", home.toStdString() + "/.config/autostart/KRBServer.desktop"},
    };
    for (const Case& c : cases) {
        qputenv("XDG_CONFIG_HOME", c.configHome);
        QCOMPARE(AutostartEntryPath().string(), c.expected);
    }
}

void WindowTests::splashClosesByItselfAndTheAboutBoxWaitsForAClick() {
    const int closeMs = static_cast<int>(platform::scaledWholeMs(TfrmSplash::kCloseAfterMs));
    {
        TfrmSplash splash;
        QCOMPARE(splash.size(), QSize(489, 298));
        QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!splash.mask().contains(QPoint(0, 0)));
        QVERIFY(!splash.mask().contains(QPoint(488, 297)));
        QVERIFY(splash.mask().contains(QPoint(10, 10)));
        QVERIFY(splash.mask().contains(QPoint(244, 149)));
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        SaveScreenshot(splash, "splash");
        QTRY_VERIFY_WITH_TIMEOUT(splash.isHidden(), closeMs + kGuardMs);
        QCOMPARE(splash.result(), int(QDialog::Accepted));
    }
    Shell shell;
    bool stillOpenAfterTheTimer = false;
    QTimer::singleShot(2 * closeMs, [&] {
        auto* about = qobject_cast<TfrmSplash*>(QApplication::activeModalWidget());
        stillOpenAfterTheTimer = about && about->isVisible() && !about->TimerCloseActive();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* open = qobject_cast<TfrmSplash*>(widget); open && open->isVisible())
                QTest::mouseClick(open, Qt::LeftButton);
        }
    });
    shell.Find<QAction>("About1")->trigger();  // returns once the click closed it
    QVERIFY(stillOpenAfterTheTimer);
}

}  // namespace krb::server

QTEST_MAIN(krb::server::WindowTests)
#include "window_tests.moc"
