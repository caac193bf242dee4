#pragma once
// The splash window: shown at start-up, closing by itself after 3 s or on a click; the about
// box is the same window without the timer.
#include <QDialog>
#include <QTimer>

namespace krb::server {

class TfrmSplash : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 489;
    static constexpr int kHeight = 298;
    static constexpr int kCornerEllipse = 20;
    static constexpr int kCloseAfterMs = 3000;

    explicit TfrmSplash(QWidget* parent = nullptr);
    // The timer runs from the moment the window is shown, unless disabled (the about box).
    void SetTimerCloseEnabled(bool enabled);
    bool TimerCloseActive() const { return timerClose_.isActive(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void FormCreate();
    void ImageSplashClick();
    void TimerCloseTimer();

    QTimer timerClose_;
    bool timerCloseEnabled_ = true;
};

// At start-up: modal until it has closed (by itself or by a click).
void ShowStartupSplash();
// "About": modal until clicked.
void ShowAbout(QWidget* parent);

}  // namespace krb::server
