#pragma once
// AboutBox (once TAbout), the about box: the product picture (and a hidden second one), shown
// as the start-up splash and from "&About". Its going away is announced (the application
// starts the panel's light show then, and shows a command-line song's information).
//
// Thread: the user-interface thread.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace qtam {

inline constexpr const char* kAboutCaption = "Q.Tam Vediveve Duzuda Duvivir 1.0";

// A 320 x 200 picture drawn by code; a click on it is a click on the box.
class AboutPicture : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Product, Hidden };
    AboutPicture(Kind kind, QWidget* parent);

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    Kind kind_;
};

class AboutBox : public QWidget {
    Q_OBJECT
public:
    // The letter that flips `armed`, and the one that then shows the hidden picture.
    static constexpr int kArmKey = Qt::Key_Q;
    static constexpr int kRevealKey = Qt::Key_T;

    explicit AboutBox(QWidget* parent = nullptr);

    // A click on either picture: the box goes, and shows the product picture next time.
    void Dismiss();

    // The splash at start-up: shown and painted before this returns (within a second), so it
    // is never seen empty; it goes when clicked, or when asked to go once it has been seen
    // for kSplashMs.
    static constexpr int kSplashMs = 2000;
    void ShowAsSplash();
    // Asked to go (the groove panel became active): at once, except a splash that has not been
    // seen long enough, which goes when it has.
    void GoAway();

    bool armed() const { return armed_; }
    bool HiddenPictureShown() const;

Q_SIGNALS:
    // The box went away (not a spontaneous hide by the desktop).
    void wentAway();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void PrepareToShow();
    void OnHidden();

    AboutPicture* aboutPicture_;
    AboutPicture* hidden_;
    bool armed_ = false;
    QElapsedTimer splashShown_;  // running while the splash shows
    QTimer splashEnd_;           // a going-away that waits for the splash to have been seen
};

}  // namespace qtam
