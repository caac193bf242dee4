#include "window/Splash.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

#include "platform/clock.h"

namespace krb::server {
namespace {

const QColor kNavy(0, 0, 128);
const QColor kPlateEdge(180, 200, 255);
const QColor kWellEmpty(40, 60, 170);
const QColor kWellFilled(255, 200, 60);

// A plate seen from above: 8 rows of 12 wells, some of them filled.
void DrawPlate(QPainter& painter, const QRectF& area) {
    painter.setPen(QPen(kPlateEdge, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area, 8, 8);
    const double pitch = (area.width() - 20) / 12.0;
    const double radius = pitch * 0.36;
    painter.setPen(Qt::NoPen);
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 12; ++column) {
            const bool filled = (row * 12 + column) % 7 < 3;
            painter.setBrush(filled ? kWellFilled : kWellEmpty);
            const QPointF centre(area.left() + 10 + pitch * (column + 0.5),
                                 area.top() + 10 + pitch * (row + 0.5));
            painter.drawEllipse(centre, radius, radius);
        }
    }
}

// A carousel of cassettes seen from above, as arcs around a hub.
void DrawCarousel(QPainter& painter, const QPointF& centre, double radius) {
    painter.setBrush(Qt::NoBrush);
    for (int ring = 0; ring < 3; ++ring) {
        painter.setPen(QPen(QColor(90, 120, 230 - ring * 40), 6 - ring * 2));
        const double r = radius - ring * 14;
        const QRectF bounds(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        for (int slot = 0; slot < 10; ++slot) painter.drawArc(bounds, slot * 576 + 48, 480);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPlateEdge);
    painter.drawEllipse(centre, 8, 8);
}

QPointF ScreenCentreFor(const QSize& size) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {0, 0};
    const QRect available = screen->availableGeometry();
    return {available.center().x() - size.width() / 2.0,
            available.center().y() - size.height() / 2.0};
}

}  // namespace

TfrmSplash::TfrmSplash(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    FormCreate();
    timerClose_.setSingleShot(true);
    timerClose_.setInterval(static_cast<int>(platform::scaledWholeMs(kCloseAfterMs)));
    connect(&timerClose_, &QTimer::timeout, this, &TfrmSplash::TimerCloseTimer);
}

void TfrmSplash::FormCreate() {
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette navy = palette();
    navy.setColor(QPalette::Window, kNavy);
    setPalette(navy);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, kWidth, kHeight), kCornerEllipse / 2.0,
                           kCornerEllipse / 2.0);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
    move(ScreenCentreFor(size()).toPoint());
}

void TfrmSplash::SetTimerCloseEnabled(bool enabled) {
    timerCloseEnabled_ = enabled;
    if (!enabled) timerClose_.stop();
}

void TfrmSplash::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (timerCloseEnabled_ && !timerClose_.isActive()) timerClose_.start();
}

void TfrmSplash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), kNavy);
    DrawCarousel(painter, QPointF(110, 150), 80);
    DrawPlate(painter, QRectF(230, 60, 230, 160));
    painter.setPen(Qt::white);
    QFont title = font();
    title.setPointSize(18);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRectF(20, 230, kWidth - 40, 34), Qt::AlignCenter, "Krabox TCP/IP Server");
    QFont small = font();
    small.setPointSize(9);
    painter.setFont(small);
    painter.setPen(kPlateEdge);
    painter.drawText(QRectF(20, 264, kWidth - 40, 20), Qt::AlignCenter,
                     "Plate storage units on your network");
}

void TfrmSplash::mousePressEvent(QMouseEvent*) { ImageSplashClick(); }

void TfrmSplash::ImageSplashClick() {
    timerClose_.stop();
    accept();
}

void TfrmSplash::TimerCloseTimer() { accept(); }

void ShowStartupSplash() {
    TfrmSplash splash;
    splash.exec();
}

void ShowAbout(QWidget* parent) {
    TfrmSplash about(parent);
    about.SetTimerCloseEnabled(false);
    about.exec();
}

}  // namespace krb::server
